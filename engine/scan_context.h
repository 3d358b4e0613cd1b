// What every file of a run is inspected with: the run's state and where it shows itself,
// fixed once the run starts; the log of the names our restorations made in a directory;
// and the lock the inspecting threads show their files under.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "engine/progress.h"
#include "engine/scan_state.h"

namespace engine {

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

}  // namespace engine
