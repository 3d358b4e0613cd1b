// The worker's half of a scan run: the run's shared state, the board its progress goes to,
// and the worker procedures, which run the memory stage and then the walk. The walk itself
// is the engine's (engine/walk.h); the worker never touches a window.
#pragma once

#include <windows.h>

#include <atomic>

#include "engine/progress.h"
#include "engine/scan_state.h"
#include "engine/walk.h"

namespace ui {

// The one run state of the process. Who writes and who reads each field is said at the
// type (engine/scan_state.h).
extern engine::ScanState gScanState;
// Where the worker publishes each file's texts; the window's timer shows them.
extern engine::ProgressBoard gProgressBoard;

// Where the latest run is. Written by the window's thread (kMemory, before it starts a
// worker) and by the worker (kWalk, once the memory stage is done and no stop came); read
// by the window's timer, which shows it.
enum class RunStage { kMemory, kWalk };
extern std::atomic<RunStage> gRunStage;

// The path box text that selects the run over every fixed drive.
inline constexpr wchar_t kAllDrivesText[] = L"默认扫描所有磁盘";

// The request for what the path box holds when the user starts a run.
engine::ScanRequest RequestFor(const std::wstring& pathText);

// Worker entry points, started with _beginthreadex. The argument is a ScanRequest made
// with new, which the worker owns from then on and deletes at its end. The worker runs the
// memory stage (the residue cleanup, which ends the virus's processes first) in a
// single-threaded apartment of its own; unless a stop came meanwhile, it then walks the
// request with the backup privilege on, turns the privilege off again, publishes its
// progress to gProgressBoard and, when it ran to its end without a stop request, sets
// gScanState.scanFinished. A stop during the memory stage ends the worker before the walk.
unsigned __stdcall ScanDirectoryThreadProc(void* request);
unsigned __stdcall ScanAllDrivesThreadProc(void* request);

// Hooks that the next workers hand to their walks (engine/walk.h): none in the program, a
// test's to hold a worker inside a file. They must outlive every worker that has seen them.
void SetScanHooks(const engine::ScanHooks* hooks);

// What the next workers run as their memory stage: the residue cleanup unless a test puts in
// its own, to hold a worker there as a process whose image never answers would; null puts
// the cleanup back.
using MemoryStage = void (*)();
void SetMemoryStage(MemoryStage stage);

}  // namespace ui
