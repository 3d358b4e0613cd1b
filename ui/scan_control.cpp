#include "ui/scan_control.h"

#include <process.h>

#include <memory>
#include <new>

#include "engine/scan_state.h"
#include "ui/offer_dlg.h"
#include "ui/scan_run.h"

namespace ui {

namespace {

// How long a start waits for the worker of a stopped run, which abandons its copy at the
// stop and so ends within moments; one that doesn't is stuck in the system, and the start
// is given up rather than the window.
constexpr DWORD kOldWorkerWaitMs = 5000;

HANDLE StartWithCrt(unsigned(__stdcall* procedure)(void*), void* argument) {
  // Default stack size; the handle is kept so that the window can wait for the worker's end.
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, procedure, argument, 0, nullptr));
}

WorkerStarter gStartWorker = &StartWithCrt;

// A worker that didn't end within the grace its dialog's end gave it. Only the window's
// thread touches it.
win::KernelHandle gLingeringWorker;

bool IsRunning(const win::KernelHandle& thread) {
  return thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT;
}

// The offer of a run that has ended or was stopped, owned by the main window whatever
// window is in front, then the idle window. An offer that can't be made for want of memory
// isn't made, and the button must not stay dead after it.
void OfferAndReset(RunControl& run, RunView& view) {
  run.offering = true;
  try {
    OfferDownload(view.window(), engine::FormatFinalSummary(gScanState));
  } catch (...) {
  }
  run.offering = false;
  view.ResetToIdle();
}

}  // namespace

void SetWorkerStarter(WorkerStarter starter) { gStartWorker = starter ? starter : &StartWithCrt; }

void StartScan(RunControl& run, RunView& view) {
  const std::wstring path = view.PathText();
  if (path.empty()) {
    MessageBoxW(view.window(), L"请输入目录", L"Morva安全", MB_OK);
    return;
  }
  // The worker of a stopped run may still be ending: it reads the stop flag and writes the
  // counters, so clearing them under it would let two workers run.
  if (run.worker && WaitForSingleObject(run.worker.get(), kOldWorkerWaitMs) == WAIT_TIMEOUT) return;
  run.worker.reset();
  std::unique_ptr<engine::ScanRequest> request(new (std::nothrow) engine::ScanRequest(RequestFor(path)));
  if (!request) return;

  gScanState.Reset();
  gProgressBoard.Reset();
  // The worker cleans the residue first, which ends processes and so can wait on whatever
  // a process's image stands on (a share that stalls): the window shows that stage and
  // answers all along. The timer shows the walk's prompt once the worker begins it.
  gRunStage.store(RunStage::kMemory);
  run.walkShown = false;
  view.ShowRunState(L"扫描内存中...");

  const auto procedure = request->allDrives ? &ScanAllDrivesThreadProc : &ScanDirectoryThreadProc;
  run.worker.reset(gStartWorker(procedure, request.get()));
  if (!run.worker) {
    // Nothing runs and nothing will end: no offer, straight back to idle.
    view.ResetToIdle();
    return;
  }
  request.release();  // the worker's now
  run.awaitingOffer = true;
}

void RequestStop(RunControl& run, RunView& view) {
  gScanState.stopRequested = 1;
  // A worker that ended just before the request raises no second offer: its flag is
  // taken here, and a flag it sets only now finds no run awaiting an offer.
  gScanState.scanFinished.exchange(0);
  if (!run.awaitingOffer) {
    // This run's offer was made already (or no run was started): nothing to offer.
    view.ResetToIdle();
    return;
  }
  // The texts are brought up to date before the offer opens.
  ShowScanProgress(run, view);
  run.awaitingOffer = false;
  OfferAndReset(run, view);
}

void CheckScanFinished(RunControl& run, RunView& view) {
  if (gScanState.scanFinished.load() == 0) return;
  // Taken before the offer opens: the ticks that its message loop delivers find nothing.
  if (gScanState.scanFinished.exchange(0) == 0) return;
  if (!run.awaitingOffer || run.closing) return;
  // The worker published its last file, and began its walk, before it said it had finished.
  ShowScanProgress(run, view);
  run.awaitingOffer = false;
  OfferAndReset(run, view);
}

void ShowScanProgress(RunControl& run, RunView& view) {
  if (run.awaitingOffer && !run.walkShown && gRunStage.load() == RunStage::kWalk) {
    run.walkShown = true;
    view.ShowRunState(L"正在扫描...");
  }
  for (const engine::ProgressSnapshot& snapshot : gProgressBoard.Take()) view.ShowProgress(snapshot);
}

bool StopAndWaitForWorker(RunControl& run, DWORD graceMs) {
  run.awaitingOffer = false;
  if (!IsRunning(run.worker)) return true;
  gScanState.stopRequested = 1;
  if (WaitForSingleObject(run.worker.get(), graceMs) != WAIT_TIMEOUT) return true;
  gLingeringWorker = std::move(run.worker);
  return false;
}

bool WorkerStillRunning() { return IsRunning(gLingeringWorker); }

}  // namespace ui
