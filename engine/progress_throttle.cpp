#include "engine/progress_throttle.h"

namespace engine {

void ProgressThrottle::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  tokens_ = kBurst;
  started_ = false;
  unshown_ = false;
  latest_.reset();
}

bool ProgressThrottle::Record(const ProgressSnapshot& snapshot, bool force) {
  std::lock_guard<std::mutex> lock(mutex_);
  latest_ = snapshot;
  const ULONGLONG now = clock_();
  if (!started_) {
    started_ = true;
    lastRefill_ = now;
  }
  // One token back for every interval that has passed, up to a full burst.
  const ULONGLONG earned = (now - lastRefill_) / kIntervalMs;
  if (earned > 0) {
    tokens_ = earned >= static_cast<ULONGLONG>(kBurst - tokens_) ? kBurst : tokens_ + static_cast<int>(earned);
    lastRefill_ += earned * kIntervalMs;
  }
  if (force || tokens_ > 0) {
    if (tokens_ > 0) --tokens_;
    unshown_ = false;
    return true;
  }
  unshown_ = true;
  return false;
}

std::optional<ProgressSnapshot> ProgressThrottle::TakeUnshown() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!unshown_) return std::nullopt;
  unshown_ = false;
  return latest_;
}

std::optional<ProgressSnapshot> ProgressThrottle::Latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

}  // namespace engine
