// Runs a scan worker the way the dialog does, on a thread of its own, and holds the
// dialog's workers where a test needs them.
#pragma once

#include <windows.h>
#include <process.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "tests/support/test_support.h"
#include "engine/residue.h"
#include "ui/scan_control.h"
#include "ui/scan_run.h"
#include "win/handles.h"

namespace test {

// The runs of the dialogs a test drives: what each gives its CMainDlg (MainDialog does), so
// that a test can hold their workers, and the latest run, whose state a test reads.
class Runs {
 public:
  using Starter = HANDLE (*)(unsigned(__stdcall* procedure)(void*), void* argument);
  static ui::RunSetup Setup() {
    ui::RunSetup setup;
    setup.startWorker = [](unsigned(__stdcall * procedure)(void*), void* argument) {
      const Starter start = gStarter.load();
      return start ? start(procedure, argument)
                   : reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, procedure, argument, 0, nullptr));
    };
    setup.memoryStage = [] {
      if (const auto stage = gMemoryStage.load()) return stage();
      (void)engine::CleanResidue();
    };
    setup.hooks = &gHooks;
    setup.started = [](const std::shared_ptr<ui::ScanRun>& run) {
      std::lock_guard<std::mutex> lock(gMutex);
      gLatest = run;
    };
    return setup;
  }
  // The latest run a dialog started; null before the first.
  static std::shared_ptr<ui::ScanRun> Latest() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gLatest;
  }
  // Its counts, 0 before the first run.
  static int32_t Scanned() {
    const auto run = Latest();
    return run ? run->state.filesScanned.load() : 0;
  }
  static void Forget() {
    std::lock_guard<std::mutex> lock(gMutex);
    gLatest.reset();
    gLeftItsWorker = false;
  }
  // MainDialog, when its dialog has ended: whether it told the program to end its process.
  static void DialogEnded(bool leftItsWorker) { gLeftItsWorker = leftItsWorker; }
  static bool LeftItsWorkerRunning() {
    const auto run = Latest();
    return gLeftItsWorker.load() && run && run->Running();
  }

  static void SetStarter(Starter starter) { gStarter = starter; }
  static void SetMemoryStage(void (*stage)()) { gMemoryStage = stage; }
  static void SetHooks(const engine::ScanHooks* hooks) { gTestHooks = hooks; }

 private:
  static inline std::mutex gMutex;
  static inline std::shared_ptr<ui::ScanRun> gLatest;
  static inline std::atomic<bool> gLeftItsWorker{false};
  static inline std::atomic<Starter> gStarter{nullptr};
  static inline std::atomic<void (*)()> gMemoryStage{nullptr};
  static inline std::atomic<const engine::ScanHooks*> gTestHooks{nullptr};
  // What the runs' walks are given: whatever hooks the test has put in when a file comes.
  static inline const engine::ScanHooks gHooks{[](const std::wstring& name) {
                                                 const engine::ScanHooks* hooks = gTestHooks.load();
                                                 if (hooks && hooks->afterVerdict) hooks->afterVerdict(name);
                                               },
                                               [](uint64_t offset) {
                                                 const engine::ScanHooks* hooks = gTestHooks.load();
                                                 return !hooks || !hooks->writeSucceeds || hooks->writeSucceeds(offset);
                                               }};
};

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
    Runs::SetStarter(&Start);
  }
  ~WorkerHold() {
    Release();
    Runs::SetHooks(nullptr);
    Runs::SetMemoryStage(nullptr);
    Runs::SetStarter(nullptr);
    if (const HANDLE worker = gWorker.exchange(nullptr)) CloseHandle(worker);
  }
  WorkerHold(const WorkerHold&) = delete;
  WorkerHold& operator=(const WorkerHold&) = delete;

  // Holds the worker between two chunks of the copy it writes back over an infected file,
  // and waits until it is there: busy with the file in hand, and holding no lock.
  bool HoldInTheCopy() {
    ResetEvent(gRelease);
    ResetEvent(gInCopy);
    Runs::SetHooks(&gHooks);
    return PumpUntilSignalled(gInCopy, 30000);
  }
  // Lets the worker held at its start run into a memory stage that stalls, as one that meets
  // a process whose image never answers would, and waits until it is there.
  bool HoldInTheMemoryStage() {
    ResetEvent(gRelease);
    ResetEvent(gInMemoryStage);
    Runs::SetMemoryStage([] {
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

// A run of `request` as the dialog makes one, its worker on a thread of its own; null when
// it didn't end within the time-out.
inline std::shared_ptr<ui::ScanRun> RunWorker(const engine::ScanRequest& request, ui::RunSetup setup = {},
                                              DWORD timeoutMs = 60000) {
  const std::shared_ptr<ui::ScanRun> run = ui::ScanRun::Make(request, setup);
  return run && run->Start() && run->WaitForEnd(timeoutMs) ? run : nullptr;
}

}  // namespace test
