// The record that a scan run shares between the window's thread and its worker.
// Its one instance lives with the scan run (ui/scan_run.cpp); the engine only sees the type.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace engine {

struct ScanState {
  // Written by the window's thread (0 at a start, 1 at a stop request), and by a worker
  // that can't go on (1, just before it sets scanFinished); read by the worker when
  // ScanFile begins a file and between drive roots.
  std::atomic<int32_t> stopRequested{0};
  // Written by the worker only (one increment per file); reset by the window's thread
  // at a start, before any worker runs; read by the window's thread for the summary.
  std::atomic<int32_t> filesScanned{0};
  std::atomic<int32_t> virusesFound{0};
  std::atomic<int32_t> filesRestored{0};
  // Written by the worker (1 at its start, 0 at its end).
  std::atomic<int32_t> workerRunning{0};
  // Set by a worker that ended without a stop request, or that couldn't go on; taken
  // (exchanged for 0) by the window's thread, so that one end of a run raises exactly one
  // offer.
  std::atomic<int32_t> scanFinished{0};
};

// The progress line: "已扫描%i个文件，未发现病毒" while nothing was found, otherwise
// "已扫描%i个文件，查出%i个病毒，恢复%i个文件".
std::wstring FormatProgressLine(int32_t filesScanned, int32_t virusesFound, int32_t filesRestored);

}  // namespace engine
