// The window's half of the scan run: starting a run, the stop request and the check for
// its end, all on the dialog's thread. The worker's half is in scan_run.h.
#pragma once

#include <windows.h>

#include "win/handles.h"

namespace ui {

class CMainDlg;

// What the window's thread knows of the runs it started. Only that thread reads or writes
// it; the worker never sees it.
struct RunControl {
  // The last worker started, signalled once it has ended. Kept so that a new run, or the
  // end of the dialog, can wait for a worker that is still finishing its last file.
  win::KernelHandle worker;
  // A run was started and its offer hasn't been made yet: exactly one offer per run.
  bool awaitingOffer = false;
  // The dialog's thread is waiting for a worker to end, inside a start.
  bool starting = false;
  // The dialog is ending: no new run, no offer.
  bool closing = false;
};

// The start half of the start/stop button. Shows "请输入目录" when the path box is empty;
// otherwise waits for a worker that is still finishing a stopped run, clears the run
// state, cleans the residue (the memory stage) and starts a worker. A worker that can't
// be started leaves the window idle.
void StartScan(CMainDlg& dialog);

// The stop half: sets the stop flag and makes the run's offer at once, then returns the
// window to idle. Never waits for the worker, which ends after its next file.
void RequestStop(CMainDlg& dialog);

// On every tick of the dialog's timer: makes the offer of a run whose worker has finished
// and returns the window to idle.
void CheckScanFinished(CMainDlg& dialog);

// For the end of the dialog: asks a running worker to stop and waits, dispatching this
// thread's messages, until it has finished the file in hand, but no longer than
// `graceMs`. False when the worker is still running then (see WorkerStillRunning).
bool StopAndWaitForWorker(CMainDlg& dialog, DWORD graceMs);

// True while a worker that outlived the end of its dialog is still running. The program
// then ends its process at once instead of tearing down what the worker still uses: a
// worker can be stuck in a call the system doesn't let us cancel, and closing the window
// must end the program all the same.
bool WorkerStillRunning();

// How workers are started: _beginthreadex unless a test puts in a starter that fails.
// Returns the thread's handle, null when it couldn't be started.
using WorkerStarter = HANDLE (*)(unsigned(__stdcall* procedure)(void*), void* argument);
void SetWorkerStarter(WorkerStarter starter);

}  // namespace ui
