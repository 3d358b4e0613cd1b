#include "ui/scan_run.h"

#include <objbase.h>

#include <atomic>
#include <memory>

#include "engine/process_sweep.h"
#include "engine/residue.h"

namespace ui {

engine::ScanState gScanState;
engine::ProgressBoard gProgressBoard;
std::atomic<RunStage> gRunStage{RunStage::kMemory};

namespace {

std::atomic<const engine::ScanHooks*> gScanHooks{nullptr};

// What the cleanup reports back isn't shown: its processes left running are not files, and
// the counts are the walk's.
void CleanTheResidue() { (void)engine::CleanResidue(); }

std::atomic<MemoryStage> gMemoryStage{&CleanTheResidue};

// The memory stage, on the worker: whatever of it fails or runs out of memory stays undone,
// and the walk goes on. The shell link object that reads the virus's shortcut needs a
// single-threaded apartment; made and used on this thread alone, it needs no message loop.
void RunMemoryStage() noexcept {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  try {
    gMemoryStage.load()();
  } catch (...) {
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

// The walk lists and reads with backup intent, so that no access list keeps a file from
// the test; the privilege is on for the walk alone. The system's calls throw nothing, but
// what a test puts into the door's table may (its checker keeps records), and nothing may
// unwind out of the worker.
void SetBackupPrivilege(bool enabled) noexcept try { engine::SetPrivilege(SE_BACKUP_NAME, enabled); } catch (...) {
}

// The frame of both workers. Nothing may unwind out of a thread's entry routine; a walk
// that runs out of memory leaves the directory it was in and goes on (engine/walk.cpp),
// and one that runs out anywhere else ends its run with what it has done, as a run that
// ends.
unsigned RunWorker(void* argument) noexcept {
  const std::unique_ptr<engine::ScanRequest> request(static_cast<engine::ScanRequest*>(argument));
  RunMemoryStage();
  // Stopped (or closed) during the memory stage: the offer was made at the stop; no walk.
  if (gScanState.stopRequested.load() != 0) return 0;
  gRunStage.store(RunStage::kWalk);
  bool ranToItsEnd = true;
  SetBackupPrivilege(true);
  try {
    const engine::WalkContext context{gScanState, gProgressBoard, gScanHooks.load()};
    ranToItsEnd = engine::Walk(*request, context);
  } catch (...) {
  }
  // Off again before the window hears of the run's end.
  SetBackupPrivilege(false);
  if (ranToItsEnd && gScanState.stopRequested.load() == 0) gScanState.scanFinished.store(1);
  return 0;
}

}  // namespace

engine::ScanRequest RequestFor(const std::wstring& pathText) {
  engine::ScanRequest request;
  request.allDrives = pathText == kAllDrivesText;
  if (!request.allDrives) request.root = pathText;
  return request;
}

void SetScanHooks(const engine::ScanHooks* hooks) { gScanHooks.store(hooks); }

void SetMemoryStage(MemoryStage stage) { gMemoryStage.store(stage ? stage : &CleanTheResidue); }

unsigned __stdcall ScanDirectoryThreadProc(void* request) { return RunWorker(request); }

unsigned __stdcall ScanAllDrivesThreadProc(void* request) { return RunWorker(request); }

}  // namespace ui
