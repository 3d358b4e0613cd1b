#include "ui/scan_run.h"

#include <objbase.h>
#include <process.h>

#include <memory>
#include <new>

#include "engine/process_sweep.h"
#include "engine/residue.h"

namespace ui {

namespace {

// What the cleanup reports back isn't shown: its processes left running are not files, and
// the counts are the walk's.
void CleanTheResidue() { (void)engine::CleanResidue(); }

// The memory stage, on the worker: whatever of it fails or runs out of memory stays undone,
// and the walk goes on. The shell link object that reads the virus's shortcut needs a
// single-threaded apartment; made and used on this thread alone, it needs no message loop.
void RunMemoryStage(void (*stage)()) noexcept {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  try {
    stage();
  } catch (...) {
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

// The walk lists and reads with backup intent, so that no access list keeps a file from
// the test; the privilege is on for the walk alone. What a test puts into the door's table
// may throw (its checker keeps records), and nothing may unwind out of the worker.
void SetBackupPrivilege(bool enabled) noexcept try { engine::SetPrivilege(SE_BACKUP_NAME, enabled); } catch (...) {
}

HANDLE StartWithCrt(unsigned(__stdcall* procedure)(void*), void* argument) {
  // Default stack size; the handle is kept so that the window can wait for the worker's end.
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, procedure, argument, 0, nullptr));
}

}  // namespace

engine::ScanRequest RequestFor(const std::wstring& pathText) {
  engine::ScanRequest request;
  request.allDrives = pathText == kAllDrivesText;
  if (!request.allDrives) request.root = pathText;
  return request;
}

std::shared_ptr<ScanRun> ScanRun::Make(const engine::ScanRequest& request, const RunSetup& setup) {
  try {
    return std::shared_ptr<ScanRun>(new ScanRun(request, setup));
  } catch (...) {
    return nullptr;
  }
}

bool ScanRun::Start() {
  // The worker's own hold on the run, which it lets go at its end.
  auto* held = new (std::nothrow) std::shared_ptr<ScanRun>(shared_from_this());
  if (!held) return false;
  worker_.reset((setup_.startWorker ? setup_.startWorker : &StartWithCrt)(&ScanRun::Work, held));
  if (!worker_) delete held;
  return static_cast<bool>(worker_);
}

bool ScanRun::Running() const { return worker_ && WaitForSingleObject(worker_.get(), 0) == WAIT_TIMEOUT; }

bool ScanRun::WaitForEnd(DWORD timeoutMs) const {
  return !worker_ || WaitForSingleObject(worker_.get(), timeoutMs) != WAIT_TIMEOUT;
}

unsigned __stdcall ScanRun::Work(void* held) {
  const std::unique_ptr<std::shared_ptr<ScanRun>> run(static_cast<std::shared_ptr<ScanRun>*>(held));
  (*run)->Work();
  return 0;
}

// Nothing may unwind out of a thread's entry routine; a walk that runs out of memory leaves
// the directory it was in and goes on (engine/walk.cpp), and one that runs out anywhere else
// ends its run with what it has done, as a run that ends.
void ScanRun::Work() noexcept {
  RunMemoryStage(setup_.memoryStage ? setup_.memoryStage : &CleanTheResidue);
  // Stopped (or closed) during the memory stage: the offer was made at the stop; no walk.
  if (state.stopRequested.load() != 0) return;
  stage.store(RunStage::kWalk);
  bool ranToItsEnd = true;
  SetBackupPrivilege(true);
  try {
    ranToItsEnd = engine::Walk(request_, engine::WalkContext{state, board, setup_.hooks});
  } catch (...) {
  }
  // Off again before the window hears of the run's end.
  SetBackupPrivilege(false);
  if (ranToItsEnd && state.stopRequested.load() == 0) state.scanFinished.store(1);
}

}  // namespace ui
