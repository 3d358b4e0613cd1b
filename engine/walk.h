// The walk of a scan: every fixed drive, or one directory, depth first, every file handed
// to ScanFile. It never follows a link and lists no directory twice.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
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

// The names that restorations made in a directory while its listing was still being read:
// the new files they wrote and the names those took. A listing goes on while its files are
// inspected, so it could meet them (on FAT and exFAT a renamed entry comes up again); it
// passes over them, so that every file is met once and nothing of ours is counted.
class NameLog {
 public:
  // Notes a name before the file is made or renamed. False when there is no memory for
  // it: then the name must not be made.
  bool Add(const std::wstring& name) noexcept;
  bool Has(const std::wstring& name) const;

 private:
  mutable std::mutex mutex_;
  std::atomic<bool> any_{false};  // a listing asks for every entry: mostly nothing to lock
  std::set<std::wstring> names_;
};

// A lock for a moment's work between threads that seldom meet there. It never waits in the
// system: under Wine every wait and wake-up is a call to its one server, as dear as an open.
class SpinLock {
 public:
  void lock() noexcept {
    while (locked_.exchange(true, std::memory_order_acquire))
      while (locked_.load(std::memory_order_relaxed)) SwitchToThread();
  }
  void unlock() noexcept { locked_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> locked_{false};
};

// What a walk works with besides its request: the run's state (its stop flag and its
// counts), where it shows its progress, and a test's hooks (none in the program).
struct WalkContext {
  ScanState& state;
  ProgressSink& progress;
  const ScanHooks* hooks = nullptr;
  // Set by the walk for the file in hand: the log of the directory it was listed in.
  NameLog* madeHere = nullptr;
  // Set when several threads inspect: restorations take it, one at a time. Two restores at
  // once could each find room on the volume for a copy that together don't fit, and the
  // two names of one infected file would each hold the file the other is replacing.
  std::mutex* oneRestoreAtATime = nullptr;
  // Set when several threads inspect: a file is counted and shown under it, so that each
  // shown count is one more than the last, and the last file shown carries the final counts.
  SpinLock* oneShowAtATime = nullptr;
};

// Walks what the request names. True when it ran to its end, false when a stop request
// ended it. Only fixed drives are walked, in the order the system lists them.
bool Walk(const ScanRequest& request, const WalkContext& context);

// Walks everything below root and hands every entry that is not a directory to ScanFile,
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
