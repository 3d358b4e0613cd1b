// How often a walk shows its progress. Setting a dialog's text from the worker is a call
// into the window's thread that waits for it, and costs more than inspecting a file; so a
// long walk shows about 20 states a second instead of one per file. A short walk shows
// every file: the first kBurst updates come at once, then one every kIntervalMs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace engine {

// The texts after one file: its path and the counts once it was handled.
struct ProgressSnapshot {
  std::wstring path;
  int32_t filesScanned = 0;
  int32_t virusesFound = 0;
  int32_t filesRestored = 0;
};

class ProgressThrottle {
 public:
  static constexpr int kBurst = 20;
  static constexpr ULONGLONG kIntervalMs = 50;

  using Clock = ULONGLONG (*)();
  explicit ProgressThrottle(Clock clock = &GetTickCount64) : clock_(clock) {}

  // A new walk: a full burst again, nothing recorded.
  void Reset();
  // Worker, after each file: records it and says whether to show it now (it then counts
  // as shown). A forced one is always shown.
  bool Record(const ProgressSnapshot& snapshot, bool force);
  // Worker, at the end of a walk: the last file when it hasn't been shown yet.
  std::optional<ProgressSnapshot> TakeUnshown();
  // Any thread: the last file handled, shown or not.
  std::optional<ProgressSnapshot> Latest() const;

 private:
  Clock clock_;
  // Taken by the worker and by the window's thread; never held across a call into a window.
  mutable std::mutex mutex_;
  int tokens_ = kBurst;
  ULONGLONG lastRefill_ = 0;
  bool started_ = false;
  bool unshown_ = false;
  std::optional<ProgressSnapshot> latest_;
};

}  // namespace engine
