// Ends every running process whose executable carries the virus's marker.
#pragma once

#include <string>

namespace engine {

// What a sweep did: the infected processes it ended, those it left running because they are
// critical (ending one stops the system), and the processes whose image isn't on a fixed
// volume of this machine, which it never opened.
struct SweepCounts {
  int ended = 0;
  int leftCritical = 0;
  int notExamined = 0;
};

// Walks the process list and terminates each process whose executable, the file the
// system started it from, is infected.
SweepCounts KillVirusProcesses();

// Enables SeDebugPrivilege in this process's token, so that the sweep can open the
// processes of other accounts and of services. True when the adjustment call succeeded.
bool EnableDebugPrivilege();

// Sets a privilege of this process's token on or off by its name (SE_BACKUP_NAME around the
// walk: with it, reads with backup intent pass every access list, so that no folder that
// denies administrators hides the virus's files; without it, nothing else the program does,
// the folder browser among it, reaches such a folder). True when the adjustment call
// succeeded.
bool SetPrivilege(const wchar_t* name, bool enabled);

}  // namespace engine
