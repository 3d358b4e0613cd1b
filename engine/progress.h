// What a walk shows of itself: after every file, its path and the counts once it was
// handled. The worker publishes; the window's thread takes what was published on its
// timer, so the worker never waits for a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The texts after one file: its path and the counts once it was handled.
struct ProgressSnapshot {
  std::wstring path;
  int32_t filesScanned = 0;
  int32_t virusesFound = 0;
  int32_t filesRestored = 0;
};

// Where a walk shows its progress.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void Show(const ProgressSnapshot& snapshot) = 0;
};

// The board between a worker and the window's thread. Publishing costs a lock and a
// copy of the path. The first kBurst files of a run are each kept until they are taken, so
// that a short walk shows every file; after that only the latest is, and the window shows
// as many states as its timer ticks.
class ProgressBoard : public ProgressSink {
 public:
  static constexpr size_t kBurst = 20;

  // The window's thread, before a run starts: nothing published, a full burst again.
  void Reset();
  // The worker, after each file.
  void Show(const ProgressSnapshot& snapshot) override;
  // The window's thread: what was published since the last take, oldest first.
  std::vector<ProgressSnapshot> Take();

 private:
  // Taken by the worker and by the window's thread, and never held across anything else.
  std::mutex mutex_;
  size_t published_ = 0;
  std::vector<ProgressSnapshot> burst_;
  std::optional<ProgressSnapshot> latest_;
};

}  // namespace engine
