// The record that a scan run shares between the window's thread and its worker, and the
// texts made from it. Its one instance lives with the scan run (ui/scan_run.cpp); the
// engine only sees the type.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace engine {

struct ScanState {
  // Written by the window's thread (0 at a start, 1 at a stop request); read by the worker
  // when a file is begun, between two chunks of a copy and between drive roots.
  std::atomic<int32_t> stopRequested{0};
  // Written by the worker only (one increment per file); read by the window's thread for
  // the summary.
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

// The progress line: "已扫描%i个文件，未发现病毒" while nothing was found, otherwise
// "已扫描%i个文件，查出%i个病毒，恢复%i个文件".
std::wstring FormatProgressLine(int32_t filesScanned, int32_t virusesFound, int32_t filesRestored);

// The final summary that the offer shows: "扫描完成，" or "已被用户终止，" followed by
// "未发现病毒" or "查出%i个病毒，恢复%i个文件".
std::wstring FormatFinalSummary(bool stoppedByUser, int32_t virusesFound, int32_t filesRestored);
// The same from a run's state as it stands now.
std::wstring FormatFinalSummary(const ScanState& state);

}  // namespace engine
