// One scan run: its request, the record its window and its worker share, the board its
// progress goes to, and the worker itself. The window makes a run for each start; the
// worker holds it until it ends, so that a worker outliving its window (stuck in the
// system) still has what it works on. The worker never touches a window.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "engine/progress.h"
#include "engine/scan_state.h"
#include "engine/walk.h"
#include "win/handles.h"

namespace ui {

// The path box text that selects the run over every fixed drive.
inline constexpr wchar_t kAllDrivesText[] = L"默认扫描所有磁盘";

// The request for what the path box holds when the user starts a run.
engine::ScanRequest RequestFor(const std::wstring& pathText);

// Where a run is: written by the worker (kWalk, once the memory stage is done and no stop
// came); read by the window's timer, which shows it.
enum class RunStage { kMemory, kWalk };

class ScanRun;

// How a window's runs go: the program's way, or a test's, to hold a worker where it needs it.
struct RunSetup {
  // Starts the worker's thread; _beginthreadex when null. Returns its handle, null when it
  // couldn't be started.
  HANDLE (*startWorker)(unsigned(__stdcall* procedure)(void*), void* argument) = nullptr;
  // What the worker runs as its memory stage: the residue cleanup when null.
  void (*memoryStage)() = nullptr;
  // What the walk hands its files' inspection (engine/scan_context.h): none in the program.
  const engine::ScanHooks* hooks = nullptr;
  // Told of each run as it starts, on the window's thread.
  std::function<void(const std::shared_ptr<ScanRun>&)> started;
};

class ScanRun : public std::enable_shared_from_this<ScanRun> {
 public:
  // A run of `request`, its worker not started yet; null when there is no memory for it.
  static std::shared_ptr<ScanRun> Make(const engine::ScanRequest& request, const RunSetup& setup);

  // Starts the worker: the memory stage (the residue cleanup, which ends the virus's processes
  // first) in a single-threaded apartment of its own; unless a stop came meanwhile, the walk
  // with the backup privilege on, then off again, its progress published to `board`; when it
  // ran to its end without a stop request, state.scanFinished. False when it couldn't start.
  bool Start();
  // Whether its worker was started and hasn't ended; and waits up to `timeoutMs` for its end.
  bool Running() const;
  bool WaitForEnd(DWORD timeoutMs) const;

  engine::ScanState state;
  engine::ProgressBoard board;
  std::atomic<RunStage> stage{RunStage::kMemory};

 private:
  ScanRun(const engine::ScanRequest& request, const RunSetup& setup) : request_(request), setup_(setup) {}
  static unsigned __stdcall Work(void* held);
  void Work() noexcept;

  const engine::ScanRequest request_;
  const RunSetup setup_;
  win::KernelHandle worker_;
};

}  // namespace ui
