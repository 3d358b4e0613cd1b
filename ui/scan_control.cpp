#include "ui/scan_control.h"

#include <memory>
#include <new>

#include "ui/offer_dlg.h"
#include "ui/run_texts.h"
#include "ui/scan_run.h"

namespace ui {

namespace {

// How long a start waits for the worker of a stopped run, which abandons its copy at the
// stop and so ends within moments; one that doesn't is stuck in the system, and the start
// is given up rather than the window.
constexpr DWORD kOldWorkerWaitMs = 5000;

// The offer of a run that has ended or was stopped, owned by the main window whatever
// window is in front, then the idle window. An offer that can't be made for want of memory
// isn't made, and the button must not stay dead after it.
void OfferAndReset(RunControl& run, RunView& view) {
  run.offering = true;
  try {
    OfferDownload(view.window(), FormatFinalSummary(run.run->state));
  } catch (...) {
  }
  run.offering = false;
  view.ResetToIdle();
}

}  // namespace

void StartScan(RunControl& run, RunView& view) {
  const std::wstring path = view.PathText();
  if (path.empty()) {
    MessageBoxW(view.window(), L"请输入目录", L"Morva安全", MB_OK);
    return;
  }
  // The worker of a stopped run may still be ending: it reads the stop flag and writes the
  // counters of its own run, and two runs at once would each restore what the other does.
  if (run.run && !run.run->WaitForEnd(kOldWorkerWaitMs)) return;
  std::shared_ptr<ScanRun> next = ScanRun::Make(RequestFor(path), run.setup);
  if (!next) return;
  // The worker cleans the residue first, which ends processes and so can wait on whatever
  // a process's image stands on: the window shows that stage and answers all along. The
  // timer shows the walk's prompt once the worker begins it.
  run.run = next;
  run.walkShown = false;
  view.ShowRunState(L"扫描内存中...");
  if (run.setup.started) run.setup.started(next);
  if (!next->Start()) {
    // Nothing runs and nothing will end: no offer, straight back to idle.
    view.ResetToIdle();
    return;
  }
  run.awaitingOffer = true;
}

void RequestStop(RunControl& run, RunView& view) {
  if (!run.run || !run.awaitingOffer) {
    // This run's offer was made already (or no run was started): nothing to offer.
    view.ResetToIdle();
    return;
  }
  run.run->state.stopRequested = 1;
  // A worker that ended just before the request raises no second offer: its flag is
  // taken here, and a flag it sets only now finds no run awaiting an offer.
  run.run->state.scanFinished.exchange(0);
  // The texts are brought up to date before the offer opens.
  ShowScanProgress(run, view);
  run.awaitingOffer = false;
  OfferAndReset(run, view);
}

void CheckScanFinished(RunControl& run, RunView& view) {
  if (!run.run || run.run->state.scanFinished.load() == 0) return;
  // Taken before the offer opens: the ticks that its message loop delivers find nothing.
  if (run.run->state.scanFinished.exchange(0) == 0) return;
  if (!run.awaitingOffer || run.closing) return;
  // The worker published its last file, and began its walk, before it said it had finished.
  ShowScanProgress(run, view);
  run.awaitingOffer = false;
  OfferAndReset(run, view);
}

void ShowScanProgress(RunControl& run, RunView& view) {
  if (!run.run) return;
  if (run.awaitingOffer && !run.walkShown && run.run->stage.load() == RunStage::kWalk) {
    run.walkShown = true;
    view.ShowRunState(L"正在扫描...");
  }
  for (const engine::ProgressSnapshot& snapshot : run.run->board.Take()) view.ShowProgress(snapshot);
}

bool StopAndWaitForWorker(RunControl& run, DWORD graceMs) {
  run.awaitingOffer = false;
  if (!run.run || !run.run->Running()) return true;
  run.run->state.stopRequested = 1;
  if (run.run->WaitForEnd(graceMs)) return true;
  run.lingering = run.run;
  return false;
}

bool WorkerStillRunning(const RunControl& run) { return run.lingering && run.lingering->Running(); }

}  // namespace ui
