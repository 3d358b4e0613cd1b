// The infection simulator: leaves exactly the traces the virus leaves, harmless in
// themselves (the "virus" is a fixture executable that does nothing but wait), and
// records what the removal tool must make of each of them.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace e2e {

enum class Outcome {
  kRestored,   // infected, holds its former bytes afterwards, the ".sql" copy is gone
  kDeleted,    // infected without a copy (or residue): gone afterwards
  kFoundOnly,  // infected, but its name has no "." to form a copy from: left as it is
  kUntouched,  // clean look-alike, or infected outside what the run walks: unchanged
};

struct Trace {
  std::wstring path;
  Outcome outcome;
  std::string bytes;    // what the file must hold afterwards (restored and untouched files)
  std::wstring backup;  // the ".sql" copy that must be gone afterwards (restored files)
  bool walked;          // the scan's walk finds it (as opposed to the residue cleanup)
};

struct Infection {
  std::vector<Trace> traces;
  // Directories this simulation created; the residue directory that must stay (it keeps a
  // clean file).
  std::vector<std::wstring> createdDirs, keptDirs;
  // Running copies of the virus.
  std::vector<std::unique_ptr<test::Process>> processes;
  // The file named under the type-library key.
  std::wstring typeLibFile;

  int InfectedFoundByWalk() const;
  int RestoredByWalk() const;
  // Every path this infection created or changed: the rest of the drive must not change.
  std::vector<std::wstring> Paths() const;
};

inline constexpr wchar_t kTypeLibKey[] =
    L"SOFTWARE\\Classes\\TypeLib\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}\\1.0\\0\\win32";

// Every trace of the virus across drive C:, with clean look-alikes beside them.
// fixtures is the folder of the fixture executables, with a trailing backslash.
bool SimulateFullInfection(const std::wstring& fixtures, Infection& out, std::wstring& error);

// A few infected files in one directory, and one outside it.
bool SimulateDirectoryInfection(const std::wstring& fixtures, const std::wstring& dir, const std::wstring& outside,
                                Infection& out, std::wstring& error);

}  // namespace e2e
