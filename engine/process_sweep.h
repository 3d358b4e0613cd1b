// Ends every running process whose executable carries the virus's marker.
#pragma once

namespace engine {

// Walks the process list and terminates each process whose executable, the file the
// system started it from, is infected.
void KillVirusProcesses();

// Enables SeDebugPrivilege in this process's token, so that the sweep can open the
// processes of other accounts and of services. True when the adjustment call succeeded.
bool EnableDebugPrivilege();

}  // namespace engine
