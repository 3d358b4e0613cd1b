#include "engine/inspectors.h"

#include <chrono>
#include <new>
#include <system_error>
#include <utility>

#include "engine/scan_file.h"

namespace engine {

namespace {

// How often a walker waiting for room in the queue looks at the stop flag, which nobody
// signals.
constexpr auto kStopPoll = std::chrono::milliseconds(20);

}  // namespace

bool NameLog::Add(const std::wstring& name) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.insert(name);
    any_ = true;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool NameLog::Has(const std::wstring& name) const {
  if (!any_.load()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return names_.count(name) != 0;
}

Inspectors::Inspectors(const WalkContext& context, int threads)
    : context_(context) {
  try {
    for (int i = 0; i < threads && threads > 1; ++i) threads_.emplace_back(&Inspectors::Run, this);
  } catch (const std::system_error&) {
    // Fewer threads than asked for: those there are do the work.
  } catch (const std::bad_alloc&) {
  }
}

Inspectors::~Inspectors() { Finish(); }

void Inspectors::BeginDirectory(const HeldDirectory& directory) {
  current_.reset();
  auto listed = std::make_shared<Listed>();
  // Without a handle of its own, its files are done on this thread before the walker
  // moves on, as with no pool.
  listed->directory = !threads_.empty() && listed->own.ShareOf(directory) ? &listed->own : &directory;
  current_ = std::move(listed);
}

void Inspectors::EndDirectory() { current_.reset(); }

bool Inspectors::MadeHere(const std::wstring& name) const { return current_ && current_->made.Has(name); }

bool Inspectors::Hand(const DirectoryEntry& entry, std::wstring displayPath) {
  if (!current_) return context_.state.stopRequested.load() == 0;
  if (current_->directory != &current_->own) {
    WalkContext here = context_;
    here.madeHere = &current_->made;
    return ScanFile(*current_->directory, entry, displayPath, here);
  }
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue_.size() >= kQueued) {
    if (context_.state.stopRequested.load() != 0) return false;
    notFull_.wait_for(lock, kStopPoll);
  }
  if (context_.state.stopRequested.load() != 0) return false;
  queue_.push_back(Task{current_, entry, std::move(displayPath)});
  lock.unlock();
  notEmpty_.notify_one();
  return true;
}

bool Inspectors::Inspect(Task& task) {
  // A stop leaves what is still queued as it is: not begun, not counted.
  if (context_.state.stopRequested.load() != 0) return false;
  const WalkContext here{context_.state,      context_.progress,  context_.hooks,
                         &task.listed->made, &oneRestoreAtATime_, &oneShowAtATime_};
  try {
    return ScanFile(*task.listed->directory, task.entry, task.displayPath, here);
  } catch (const std::bad_alloc&) {
    // Out of memory for this file: it is left as it is, as one that can't be opened is.
    return true;
  }
}

void Inspectors::Run() {
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      notEmpty_.wait(lock, [this] { return !queue_.empty() || closing_; });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    notFull_.notify_one();
    if (!Inspect(task)) stopped_ = true;
    // The task's directory handle goes here, with its last file.
  }
}

bool Inspectors::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  notEmpty_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  current_.reset();
  return !stopped_.load();
}

}  // namespace engine
