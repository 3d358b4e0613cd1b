// Runs a scan worker the way the dialog does, on a thread of its own, while this thread
// keeps dispatching the worker's progress texts.
#pragma once

#include <windows.h>
#include <process.h>

#include "tests/support/test_support.h"
#include "ui/scan_run.h"
#include "win/handles.h"

namespace test {

inline void ResetScanState() {
  ui::gScanState.stopRequested = 0;
  ui::gScanState.filesScanned = 0;
  ui::gScanState.virusesFound = 0;
  ui::gScanState.filesRestored = 0;
  ui::gScanState.workerRunning = 0;
  ui::gScanState.scanFinished = 0;
}

// True when the worker ended within the time-out.
inline bool RunWorker(unsigned(__stdcall* proc)(void*), HWND window, DWORD timeoutMs = 60000) {
  win::KernelHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, proc, window, 0, nullptr)));
  return thread && PumpUntilSignalled(thread.get(), timeoutMs);
}

}  // namespace test
