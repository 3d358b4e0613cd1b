#include "engine/progress.h"

#include <utility>

namespace engine {

void ProgressBoard::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  published_ = 0;
  burst_.clear();
  latest_.reset();
}

void ProgressBoard::Show(const ProgressSnapshot& snapshot) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (published_++ < kBurst)
    burst_.push_back(snapshot);
  else
    latest_ = snapshot;
}

std::vector<ProgressSnapshot> ProgressBoard::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ProgressSnapshot> taken = std::move(burst_);
  burst_.clear();
  if (latest_) taken.push_back(std::move(*latest_));
  latest_.reset();
  return taken;
}

}  // namespace engine
