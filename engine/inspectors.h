// The threads that inspect the files a walk lists. One walker lists, as ever: held
// directory handles, no link followed; the files go through a bounded queue to a small
// pool, whose threads open, test and act on each relative to its held directory, as the
// walker would. A directory is held until its last file is done.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/held_directory.h"
#include "engine/scan_context.h"

namespace engine {

class Inspectors {
 public:
  // Files go in batches of one directory's: under Wine every wait and every wake-up between
  // threads is a call to its one server, as dear as an open, and per file they would cost the
  // pool more than it gains.
  static constexpr size_t kBatch = 32;
  // Batches waiting at most: enough to keep the threads busy while the walker opens the next
  // directory, few enough that a stop drops little and memory stays small.
  static constexpr size_t kQueued = 8;

  // `threads` of 1 or less, or a system that gives no thread at all: every file is handled
  // on the caller's thread as it is handed over.
  Inspectors(const WalkContext& context, int threads);
  ~Inspectors();
  Inspectors(const Inspectors&) = delete;
  Inspectors& operator=(const Inspectors&) = delete;

  // The walker, before the files of a directory it lists, and after them. EndDirectory
  // hands over what is left of its files: false when the walk is to stop.
  void BeginDirectory(const HeldDirectory& directory);
  bool EndDirectory();
  // True when `name` was made in the directory begun last by one of our restorations.
  bool MadeHere(const std::wstring& name) const;
  // Hands over one file of the directory begun last, in a batch of its files; waits while
  // the queue is full. False when the walk is to stop.
  bool Hand(const DirectoryEntry& entry, std::wstring displayPath);
  // Waits until every file handed over is done. False when a stop ended the walk, or
  // left a file that was handed over unhandled.
  bool Finish();

 private:
  // A directory as its files share it: in a pool a handle and final path of its own, which
  // the walker's descent doesn't touch; on one thread the walker's.
  struct Listed {
    const HeldDirectory* directory = nullptr;
    HeldDirectory own;
    NameLog made;
  };
  struct File {
    DirectoryEntry entry;
    std::wstring displayPath;
  };
  struct Batch {
    std::shared_ptr<Listed> listed;
    std::vector<File> files;
  };
  // Counts one file, tests it, restores or deletes it when infected and shows the counts and
  // its path: the one way a file is inspected, whichever thread does it. False when a stop
  // was requested before it began; the file is handled in full all the same.
  bool ScanFile(const HeldDirectory& directory, NameLog& made, const DirectoryEntry& entry,
                const std::wstring& displayPath);
  bool Inspect(const Batch& batch);
  // Whether the user asked the run to stop: the one question about it a walk asks.
  bool Stopped() const { return context_.state.stopRequested.load() != 0; }
  // Queues the batch being filled, waiting while the queue is full. False when the walk is
  // to stop.
  bool Flush();
  void Run();

  const WalkContext context_;
  std::mutex oneRestoreAtATime_;
  SpinLock oneShowAtATime_;
  std::shared_ptr<Listed> current_;
  Batch filling_;

  std::mutex mutex_;  // guards the queue and closing_
  std::condition_variable notEmpty_, notFull_;
  std::deque<Batch> queue_;
  bool closing_ = false;
  std::atomic<bool> stopped_{false};
  std::vector<std::thread> threads_;
};

}  // namespace engine
