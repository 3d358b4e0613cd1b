// Runs a scan worker the way the dialog does, on a thread of its own, and holds the
// dialog's workers where a test needs them.
#pragma once

#include <windows.h>
#include <process.h>

#include <atomic>

#include "tests/support/test_support.h"
#include "ui/scan_control.h"
#include "ui/scan_run.h"
#include "win/handles.h"

namespace test {

// Starts the dialog's workers as the program does, counts them, and can hold the latest one,
// suspended at its start, stalled in its memory stage or waiting inside a copy: "the worker
// is still busy with its file" or "the stop came before the walk" is then a fact of the test,
// not a race with the disk or the clock.
class WorkerHold {
 public:
  enum Mode { kWhenAsked, kFromItsStart };
  explicit WorkerHold(Mode mode = kWhenAsked) {
    gMode = mode;
    gStarts = 0;
    ui::SetWorkerStarter(&Start);
  }
  ~WorkerHold() {
    Release();
    ui::SetScanHooks(nullptr);
    ui::SetMemoryStage(nullptr);
    ui::SetWorkerStarter(nullptr);
    if (const HANDLE worker = gWorker.exchange(nullptr)) CloseHandle(worker);
  }
  WorkerHold(const WorkerHold&) = delete;
  WorkerHold& operator=(const WorkerHold&) = delete;

  // Holds the worker between two chunks of the copy it writes back over an infected file,
  // and waits until it is there: busy with the file in hand, and holding no lock.
  bool HoldInTheCopy() {
    ResetEvent(gRelease);
    ResetEvent(gInCopy);
    ui::SetScanHooks(&gHooks);
    return PumpUntilSignalled(gInCopy, 30000);
  }
  // Lets the worker held at its start run into a memory stage that stalls, as one that meets
  // a process whose image never answers would, and waits until it is there.
  bool HoldInTheMemoryStage() {
    ResetEvent(gRelease);
    ResetEvent(gInMemoryStage);
    ui::SetMemoryStage([] {
      SetEvent(gInMemoryStage);
      WaitForSingleObject(gRelease, 60000);
    });
    // The start was posted: the dialog's thread starts the worker when it takes the click.
    HANDLE worker = nullptr;
    return PumpUntil([&] { return (worker = gHeld.exchange(nullptr)) != nullptr; }, 20000) &&
           ResumeThread(worker) != static_cast<DWORD>(-1) && PumpUntilSignalled(gInMemoryStage, 30000);
  }
  void Release() {
    SetEvent(gRelease);
    if (const HANDLE worker = gHeld.exchange(nullptr)) ResumeThread(worker);
  }
  bool WaitForEnd() const {
    const HANDLE worker = gWorker.load();
    return worker && PumpUntilSignalled(worker, 20000);
  }
  // How many workers were started since the hold began.
  int Starts() const { return gStarts.load(); }
  // The latest worker was started and has ended.
  bool Ended() const {
    const HANDLE worker = gWorker.load();
    return worker && WaitForSingleObject(worker, 0) == WAIT_OBJECT_0;
  }

 private:
  // Called on the dialog's thread; the test's thread reads the handles.
  static HANDLE Start(unsigned(__stdcall* procedure)(void*), void* argument) {
    const unsigned flags = gMode == kFromItsStart ? CREATE_SUSPENDED : 0;
    const HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, procedure, argument, flags, nullptr));
    HANDLE copy = nullptr;
    if (thread)
      DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
    if (const HANDLE previous = gWorker.exchange(copy)) CloseHandle(previous);
    ++gStarts;
    if (flags) gHeld = copy;
    return thread;
  }
  static inline Mode gMode = kWhenAsked;
  static inline std::atomic<HANDLE> gWorker{nullptr};
  static inline std::atomic<HANDLE> gHeld{nullptr};
  static inline std::atomic<int> gStarts{0};
  // For the whole process: a worker may still be copying after its test has ended.
  static inline const HANDLE gInCopy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  static inline const HANDLE gInMemoryStage = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  static inline const HANDLE gRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  static inline const engine::ScanHooks gHooks{nullptr, [](uint64_t) {
                                                 SetEvent(gInCopy);
                                                 WaitForSingleObject(gRelease, 60000);
                                                 return true;
                                               }};
};

// True when the worker ended within the time-out.
inline bool RunWorker(unsigned(__stdcall* proc)(void*), const engine::ScanRequest& request, DWORD timeoutMs = 60000) {
  auto* owned = new engine::ScanRequest(request);
  win::KernelHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, proc, owned, 0, nullptr)));
  if (!thread) delete owned;
  return thread && WaitForSingleObject(thread.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace test
