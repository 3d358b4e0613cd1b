#include "engine/inspectors.h"

#include <algorithm>
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
  if (!current_) return !Stopped();
  // On one thread, or without a handle of its own, the directory's files are done here, as
  // the pool does them: the pool may still be restoring and showing files of others. The
  // file is handled in full even after a stop, which ends the walk after it.
  if (current_->directory != &current_->own) return ScanFile(*current_->directory, current_->made, entry, displayPath);
  if (Stopped()) return false;
  if (filling_.files.empty()) filling_.listed = current_;
  filling_.files.push_back(File{entry, std::move(displayPath)});
  return filling_.files.size() < kBatch || Flush();
}

bool Inspectors::Flush() {
  Batch batch = std::move(filling_);
  filling_ = Batch{};
  std::unique_lock<std::mutex> lock(mutex_);
  while (queue_.size() >= kQueued) {
    if (Stopped()) return false;
    notFull_.wait_for(lock, kStopPoll);
  }
  if (Stopped()) return false;
  queue_.push_back(std::move(batch));
  lock.unlock();
  notEmpty_.notify_one();
  return true;
}

bool Inspectors::ScanFile(const HeldDirectory& directory, NameLog& made, const DirectoryEntry& entry,
                          const std::wstring& displayPath) {
  ScanState& state = context_.state;
  const bool goOn = !Stopped();
  if (TestedFile infected = TestFile(directory, entry)) {
    // Found at its verdict: a stop's summary tells of the virus in hand.
    state.virusesFound.fetch_add(1);
    if (context_.hooks && context_.hooks->afterVerdict) context_.hooks->afterVerdict(entry.name);
    // One at a time: two restores at once could each find room on the volume for a copy that
    // together don't fit, and the two names of one infected file would each hold the file
    // the other is replacing.
    std::lock_guard<std::mutex> oneAtATime(oneRestoreAtATime_);
    if (RestoreVirusFile(std::move(infected), context_, &made) != Restoration::kLeft) state.filesRestored.fetch_add(1);
  }
  // Counted once it is handled, and shown with the counts as they stand then, one file at a
  // time: each shown count is one more than the last, and the last file shown carries the
  // final counts. With several threads the found may run ahead of the files counted: no
  // line shows more than those.
  ProgressSnapshot snapshot;
  snapshot.path = displayPath;
  std::lock_guard<SpinLock> inOrder(oneShowAtATime_);
  snapshot.filesScanned = state.filesScanned.fetch_add(1) + 1;
  snapshot.virusesFound = std::min(state.virusesFound.load(), snapshot.filesScanned);
  snapshot.filesRestored = std::min(state.filesRestored.load(), snapshot.virusesFound);
  context_.progress.Show(snapshot);
  return goOn;
}

bool Inspectors::Inspect(const Batch& batch) {
  for (const File& file : batch.files) {
    // A stop leaves the files not begun as they are, and uncounted.
    if (Stopped()) return false;
    try {
      if (!ScanFile(*batch.listed->directory, batch.listed->made, file.entry, file.displayPath)) return false;
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
