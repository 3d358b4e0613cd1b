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

Inspectors::Inspectors(const WalkContext& context, int threads) : context_(context) {
  try {
    for (int i = 0; i < threads && threads > 1; ++i) threads_.emplace_back(&Inspectors::Run, this);
  } catch (const std::system_error&) {
    // Fewer threads than asked for: those there are do the work.
  } catch (const std::bad_alloc&) {
  }
}

Inspectors::~Inspectors() { Finish(); }

void Inspectors::BeginDirectory(const HeldDirectory& directory) {
  // What a listing left when it ran out of memory goes first.
  if (!filling_.files.empty()) Flush();
  current_.reset();
  auto listed = std::make_shared<Listed>();
  // Without a handle of its own, its files are done on this thread before the walker
  // moves on, as with no pool.
  listed->directory = !threads_.empty() && listed->own.ShareOf(directory) ? &listed->own : &directory;
  current_ = std::move(listed);
}

bool Inspectors::EndDirectory() {
  const bool goOn = filling_.files.empty() || Flush();
  current_.reset();
  return goOn;
}

bool Inspectors::MadeHere(const std::wstring& name) const { return current_ && current_->made.Has(name); }

bool Inspectors::Hand(const DirectoryEntry& entry, std::wstring displayPath) {
  if (!current_) return context_.state.stopRequested.load() == 0;
  // Without a handle of its own the directory's files are done here, under the same locks
  // as the pool's: the pool may still be restoring and showing files of other directories.
  if (current_->directory != &current_->own) return ScanFile(*current_->directory, entry, displayPath, For(*current_));
  if (context_.state.stopRequested.load() != 0) return false;
  if (filling_.files.empty()) filling_.listed = current_;
  filling_.files.push_back(File{entry, std::move(displayPath)});
  return filling_.files.size() < kBatch || Flush();
}

bool Inspectors::Flush() {
  Batch batch = std::move(filling_);
  filling_ = Batch{};
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue_.size() >= kQueued) {
    if (context_.state.stopRequested.load() != 0) return false;
    notFull_.wait_for(lock, kStopPoll);
  }
  if (context_.state.stopRequested.load() != 0) return false;
  queue_.push_back(std::move(batch));
  lock.unlock();
  notEmpty_.notify_one();
  return true;
}

WalkContext Inspectors::For(Listed& listed) {
  return WalkContext{context_.state, context_.progress,   context_.hooks,
                     &listed.made,   &oneRestoreAtATime_, &oneShowAtATime_};
}

bool Inspectors::Inspect(const Batch& batch) {
  const WalkContext here = For(*batch.listed);
  for (const File& file : batch.files) {
    // A stop leaves the files not begun as they are, and uncounted.
    if (context_.state.stopRequested.load() != 0) return false;
    try {
      if (!ScanFile(*batch.listed->directory, file.entry, file.displayPath, here)) return false;
    } catch (const std::bad_alloc&) {
      // Out of memory for this file: it is left as it is, as one that can't be opened is.
    }
  }
  return true;
}

void Inspectors::Run() {
  for (;;) {
    Batch batch;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      notEmpty_.wait(lock, [this] { return !queue_.empty() || closing_; });
      if (queue_.empty()) return;
      batch = std::move(queue_.front());
      queue_.pop_front();
    }
    notFull_.notify_one();
    if (!Inspect(batch)) stopped_ = true;
    // The batch's hold on its directory goes here; the directory's handle with the last one.
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
  filling_ = Batch{};
  return !stopped_.load();
}

}  // namespace engine
