// The window's half of the scan run: starting a run, the stop request, the stage and the
// progress, and the check for its end, all on the window's thread, which never waits on
// the memory stage or the walk. The worker's half is in scan_run.h.
// What a run shows goes through RunView, which the main dialog implements: this half
// knows no dialog.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "engine/progress.h"
#include "ui/scan_run.h"
#include "win/handles.h"

namespace ui {

// What a run shows, and where.
class RunView {
 public:
  virtual ~RunView() = default;
  // The window that owns the run's message box and offer.
  virtual HWND window() const = 0;
  // The path box's text, read when a run starts.
  virtual std::wstring PathText() const = 0;
  // The controls of a run: prompt, path box and browse button hidden, the current-file
  // line shown with whatever it last held, button "停止查杀".
  virtual void ShowRunState(const wchar_t* prompt) = 0;
  // The idle window: prompt "选择扫描目录：", path box and browse button shown, current-file
  // line hidden, button "开始查杀". The texts of the path box and the progress line stay.
  virtual void ResetToIdle() = 0;
  // The progress line and the current-file line of one file.
  virtual void ShowProgress(const engine::ProgressSnapshot& snapshot) = 0;
};

// What the window's thread knows of the runs it started. Only that thread reads or writes
// it; the worker never sees it.
struct RunControl {
  // How its runs go: the program's way unless a test gives its own.
  RunSetup setup;
  // The latest run, kept so that a new run, or the end of the dialog, can wait for a worker
  // that is still finishing its last file.
  std::shared_ptr<ScanRun> run;
  // A run whose worker outlived the grace the dialog's end gave it.
  std::shared_ptr<ScanRun> lingering;
  // A run was started and its offer hasn't been made yet: exactly one offer per run. While
  // it holds, the start/stop button stops the run; otherwise it starts one.
  bool awaitingOffer = false;
  // The run's offer is open: the start/stop button does nothing until it has been answered.
  bool offering = false;
  // The window shows the run's walk ("正在扫描..."), not its memory stage.
  bool walkShown = false;
  // The dialog is ending: no new run, no offer.
  bool closing = false;
};

// The start half of the start/stop button. Shows "请输入目录" when the path box is empty;
// otherwise waits for a worker that is still finishing a stopped run, clears the run
// state, shows the memory stage ("扫描内存中...") and starts a worker with the path box's
// request, which cleans the residue and then walks. A worker that can't be started, or an
// old one that doesn't end, leaves the window idle.
void StartScan(RunControl& run, RunView& view);

// The stop half: sets the stop flag, shows the latest progress and makes the run's offer
// at once, then returns the window to idle. Never waits for the worker, which ends after
// its file in hand, or at the end of its memory stage without walking.
void RequestStop(RunControl& run, RunView& view);

// On every tick of the dialog's timer: makes the offer of a run whose worker has finished
// and returns the window to idle.
void CheckScanFinished(RunControl& run, RunView& view);

// On every tick of the progress timer: shows the walk's prompt once the worker has begun
// it, and what the worker published since the last tick.
void ShowScanProgress(RunControl& run, RunView& view);

// For the end of the dialog: asks a running worker to stop and waits until it has finished
// the file in hand, but no longer than `graceMs`. False when the worker is still running
// then (see WorkerStillRunning).
bool StopAndWaitForWorker(RunControl& run, DWORD graceMs);

// True while a worker that outlived the end of its dialog is still running. The program
// then ends its process at once: a worker can be stuck in a call the system doesn't let us
// cancel, and closing the window must end the program all the same.
bool WorkerStillRunning(const RunControl& run);

}  // namespace ui
