#include "ui/scan_control.h"

#include <process.h>

#include <string>

#include "engine/residue.h"
#include "ui/main_dlg.h"
#include "ui/offer_dlg.h"
#include "ui/resource.h"
#include "ui/scan_run.h"

namespace ui {

namespace {

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

// Shows the controls of a run: prompt, path box and browse button hidden, the
// current-file line shown with whatever it last held, button "停止查杀".
void ShowRunState(CMainDlg& dialog, const wchar_t* prompt) {
  dialog.SetDlgItemText(IDC_PROMPT, prompt);
  dialog.GetDlgItem(IDC_PATH).ShowWindow(SW_HIDE);
  dialog.GetDlgItem(IDC_BROWSE).ShowWindow(SW_HIDE);
  dialog.GetDlgItem(IDC_CURRENT_FILE).ShowWindow(SW_SHOW);
  dialog.SetDlgItemText(IDC_START_STOP, L"停止查杀");
}

// The offer of a run that has ended or was stopped, then the idle window. A run started
// from the main window while an offer without owner was open keeps its window state.
void OfferAndReset(CMainDlg& dialog) {
  OfferDownload();
  if (!dialog.runControl().awaitingOffer) ResetToIdle(dialog);
}

}  // namespace

void SetWorkerStarter(WorkerStarter starter) { gStartWorker = starter ? starter : &StartWithCrt; }

void StartScan(CMainDlg& dialog) {
  RunControl& run = dialog.runControl();
  const win::CWindow pathBox = dialog.GetDlgItem(IDC_PATH);
  if (!pathBox.m_hWnd) return;
  const std::wstring path = pathBox.GetWindowText();
  if (path.empty()) {
    MessageBoxW(dialog, L"请输入目录", L"Morva安全", MB_OK);
    return;
  }

  if (IsRunning(run.worker)) {
    // The worker of a stopped run is still finishing its last file. It reads the stop
    // flag and writes the counters and the window's texts: clearing the state under it
    // would let two workers run. Its texts need this thread, so wait dispatching.
    const win::CWindow button = dialog.GetDlgItem(IDC_START_STOP);
    const bool hadFocus = GetFocus() == button.m_hWnd;
    button.EnableWindow(false);
    run.starting = true;
    win::WaitDispatching(run.worker.get(), dialog);
    run.starting = false;
    button.EnableWindow(true);
    // A disabled control loses the focus; give it back so that Enter works as before.
    if (hadFocus) dialog.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button.m_hWnd), TRUE);
    if (run.closing) return;
  }
  run.worker.reset();

  gScanState.stopRequested = 0;
  gScanState.filesScanned = 0;
  gScanState.virusesFound = 0;
  gScanState.filesRestored = 0;
  // No worker runs now: whatever an earlier one left here belongs to a run already offered.
  gScanState.scanFinished = 0;

  ShowRunState(dialog, L"扫描内存中...");
  engine::CleanResidue();
  if (run.closing) return;
  dialog.SetDlgItemText(IDC_PROMPT, L"正在扫描...");

  const auto procedure = path == kAllDrivesText ? &ScanAllDrivesThreadProc : &ScanDirectoryThreadProc;
  run.worker.reset(gStartWorker(procedure, static_cast<HWND>(dialog)));
  if (!run.worker) {
    // Nothing runs and nothing will end: no offer, straight back to idle.
    ResetToIdle(dialog);
    return;
  }
  run.awaitingOffer = true;
}

void RequestStop(CMainDlg& dialog) {
  RunControl& run = dialog.runControl();
  gScanState.stopRequested = 1;
  // A worker that ended just before the request raises no second offer: its flag is
  // taken here, and a flag it sets only now finds no run awaiting an offer.
  gScanState.scanFinished.exchange(0);
  if (!run.awaitingOffer) {
    // This run's offer was made already (or no run was started): nothing to offer.
    ResetToIdle(dialog);
    return;
  }
  run.awaitingOffer = false;
  ShowLatestProgress(dialog);
  OfferAndReset(dialog);
}

void CheckScanFinished(CMainDlg& dialog) {
  RunControl& run = dialog.runControl();
  if (gScanState.scanFinished.load() == 0) return;
  // Taken before the offer opens: the ticks that its message loop delivers find nothing.
  if (gScanState.scanFinished.exchange(0) == 0) return;
  if (!run.awaitingOffer || run.closing) return;
  run.awaitingOffer = false;
  OfferAndReset(dialog);
}

bool StopAndWaitForWorker(CMainDlg& dialog, DWORD graceMs) {
  RunControl& run = dialog.runControl();
  run.awaitingOffer = false;
  if (!IsRunning(run.worker)) return true;
  gScanState.stopRequested = 1;
  if (win::WaitDispatching(run.worker.get(), dialog, graceMs) || !IsRunning(run.worker)) return true;
  gLingeringWorker = std::move(run.worker);
  return false;
}

bool WorkerStillRunning() { return IsRunning(gLingeringWorker); }

}  // namespace ui
