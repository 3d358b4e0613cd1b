// The record that a scan run shares between the window's thread and its worker. It lives
// with the run (ui/scan_run.h); the engine only sees the type.
#pragma once

#include <atomic>
#include <cstdint>

namespace engine {

struct ScanState {
  // Written by the window's thread (1 at a stop request); read by the worker before the walk,
  // before each file, between two chunks of a copy and between drive roots.
  std::atomic<int32_t> stopRequested{0};
  // Written by the threads that inspect files (a virus counts at its verdict, a file once it
  // is handled); read by the window's thread for the summary.
  std::atomic<int32_t> filesScanned{0};
  std::atomic<int32_t> virusesFound{0};
  std::atomic<int32_t> filesRestored{0};
  // Set by a worker that ended without a stop request; taken (exchanged for 0) by the
  // window's thread, so that one end of a run raises exactly one offer.
  std::atomic<int32_t> scanFinished{0};

  // The window's thread, at a start, while no worker runs: everything back to 0.
  void Reset() {
    stopRequested = 0;
    filesScanned = 0;
    virusesFound = 0;
    filesRestored = 0;
    scanFinished = 0;
  }
};

}  // namespace engine
