// The virus's start-up residue: infected entries and a hidden shortcut in the all-users
// Startup folder with the directory it points to, a fake driver file, and a file named
// under a type-library key. CleanResidue also ends the virus's running processes.
#pragma once

namespace engine {

// Runs on the dialog's thread, which must have COM initialised, before a scan's walk.
void CleanResidue();

}  // namespace engine
