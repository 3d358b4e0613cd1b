// The walk of a scan: every fixed drive, or one directory, depth first, every file handed
// to ScanFile. It never follows a link and lists no directory twice.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/progress.h"
#include "engine/scan_state.h"

namespace engine {

// What the user asked for when the run started.
struct ScanRequest {
  bool allDrives = true;
  // The chosen directory, as the path box held it; unused for all drives.
  std::wstring root;
  // How many threads inspect the files: 0 chooses for each drive (InspectorCount), 1 keeps
  // everything on the walking thread, more hand the files to a pool of that size.
  int inspectors = 0;
};

// Places where a test can step in: after a file's verdict, before anything is done to it;
// and before each write of a restoration, to make it fail there or to hold the worker.
struct ScanHooks {
  std::function<void(const std::wstring& name)> afterVerdict;
  std::function<bool(uint64_t offset)> writeSucceeds;
};

// What a walk works with besides its request: the run's state (its stop flag and its
// counts), where it shows its progress, and a test's hooks (none in the program).
struct WalkContext {
  ScanState& state;
  ProgressSink& progress;
  const ScanHooks* hooks = nullptr;
};

// Walks what the request names. True when it ran to its end, false when a stop request
// ended it. Only fixed drives are walked, in the order the system lists them.
bool Walk(const ScanRequest& request, const WalkContext& context);

// Walks everything below root and hands every entry that is not a directory to ScanFile.
// A directory's files come before anything in its subdirectories, and the subdirectory
// listed last is walked first. Directories are held open on the way down and each is
// opened relative to its parent, never through a link, junction or mount point, so that
// memory grows with the depth and not with the breadth of the tree. A directory that
// can't be listed, or whose listing runs out of memory, is left with what is below it.
// False when a stop request ended the walk.
bool WalkDirectoryTree(const std::wstring& root, const WalkContext& context);

// The drive roots ("C:\", ...) in the order the system lists them. initialChars is the
// size of the first buffer tried; when the list doesn't fit, it is fetched again into a
// buffer of the size the system asks for, so that every drive is seen.
std::vector<std::wstring> GetDriveRoots(DWORD initialChars = 100);

}  // namespace engine
