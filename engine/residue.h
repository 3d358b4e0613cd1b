// The virus's start-up residue: infected entries and a hidden shortcut in the all-users
// Startup folder with the directory it points to, a fake driver file, and a file named
// under a type-library key. CleanResidue also ends the virus's running processes.
#pragma once

#include <windows.h>

#include <string>

#include "engine/process_sweep.h"

namespace engine {

// Runs on a run's worker before its walk, in a single-threaded apartment (the shell link
// object needs one). Whatever can't be removed stays. Every file and directory it looks at
// is opened relative to a folder it holds, reached without any link on the way, and what
// it deletes is deleted through handles to the very file it tested. Returns what its
// process sweep did.
SweepCounts CleanResidue();

// The system directory with a trailing backslash. False, leaving path as it was, when
// the directory can't be read or the buffer for it can't be allocated.
bool GetSystemDirPath(std::wstring& path);

// Reads the unnamed value of an open key into buffer, which holds `chars` characters.
// Returns the registry's error when the query fails (ERROR_MORE_DATA for a value that
// doesn't fit); ERROR_INVALID_DATA when the value isn't REG_SZ or REG_EXPAND_SZ, has an
// odd byte length or doesn't end in NUL; otherwise ERROR_SUCCESS with `chars` set to the
// value's length in characters, NUL included (0 for an empty value, with buffer empty).
// An expandable value comes back as stored; `type`, when given, says which of the two it is.
LONG ReadKeyDefaultString(HKEY key, wchar_t* buffer, DWORD& chars, DWORD* type = nullptr);

}  // namespace engine
