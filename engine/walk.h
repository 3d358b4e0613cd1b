// The walk of a scan: every fixed drive, or one directory, depth first, every file handed
// to the inspectors (inspectors.h). It never follows a link and lists no directory twice.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/scan_context.h"

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

// Walks what the request names. True when it ran to its end, false when a stop request
// ended it. Only fixed drives are walked, in the order the system lists them.
bool Walk(const ScanRequest& request, const WalkContext& context);

// Walks everything below root and hands every entry that is not a directory to the inspectors,
// on this thread when `inspectors` is 1, otherwise to a pool of that many threads (fewer
// when the system gives fewer). On this thread, a directory's files come before anything
// in its subdirectories, and the subdirectory listed last is walked first; a pool takes
// them in that order and finishes them in any. Directories are held open on the way down and each is
// opened relative to its parent, never through a link, junction or mount point, so that
// memory grows with the depth and not with the breadth of the tree. A directory that
// can't be listed, or whose listing runs out of memory, is left with what is below it.
// False when a stop request ended the walk.
bool WalkDirectoryTree(const std::wstring& root, const WalkContext& context, int inspectors = 1);

// How many threads inspect the files of a volume: twice the cores, at most 8, where reads
// cost no seek; on a drive that reports a seek penalty (a spinning disk) one, the walk's
// own, reading in the order of the listing, since more heads moving at once only slow it.
// A drive that doesn't say is taken to have none.
enum class SeekPenalty { kNone, kHas, kUnknown };
int InspectorCount(unsigned cores, SeekPenalty penalty);
// What the drive holding `path` says of its seek penalty.
SeekPenalty SeekPenaltyOf(const std::wstring& path);

// The drive roots ("C:\", ...) in the order the system lists them. initialChars is the
// size of the first buffer tried; when the list doesn't fit, it is fetched again into a
// buffer of the size the system asks for, so that every drive is seen.
std::vector<std::wstring> GetDriveRoots(DWORD initialChars = 100);

}  // namespace engine
