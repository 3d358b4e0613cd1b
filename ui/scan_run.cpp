#include "ui/scan_run.h"

#include <memory>

#include "engine/scan_file.h"
#include "ui/resource.h"
#include "win/handles.h"

namespace ui {

engine::ScanState gScanState;

namespace {

// How often the worker shows its progress; shared with the window's thread, which shows
// the latest state itself when the user stops a run.
engine::ProgressThrottle gProgressThrottle;

engine::ProgressView ViewOf(HWND dialog) { return {dialog, IDC_PROGRESS, IDC_CURRENT_FILE}; }

// At a worker's end, before the run's end is announced: the last file and the final counts.
void ShowUnshownProgress(HWND dialog) {
  if (const auto snapshot = gProgressThrottle.TakeUnshown()) engine::ShowProgress(ViewOf(dialog), *snapshot);
}

constexpr DWORD kPathBoxChars = 512;

bool IsDotOrDotDot(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// The worker's view of the run's end: finished unless the user asked it to stop.
void MarkFinishedUnlessStopped() {
  if (gScanState.stopRequested.load() == 0) gScanState.scanFinished.store(1);
}

// The frame of both workers. Nothing may unwind out of a thread's entry routine: a walk
// that throws (std::bad_alloc from path work, above all) ends its run as a stop request
// does, and at its next tick the window makes the run's offer with the stopped summary.
template <typename Walk>
unsigned RunWorker(const Walk& walk) noexcept {
  gScanState.workerRunning.store(1);
  try {
    walk();
  } catch (...) {
    gScanState.stopRequested.store(1);
    gScanState.scanFinished.store(1);
  }
  gScanState.workerRunning.store(0);
  return 0;
}

}  // namespace

void WalkDirectoryTree(const std::wstring& root, HWND dialog) {
  const engine::ProgressView view = ViewOf(dialog);
  // Pending directories as strings, not open handles: one listing is open at a time.
  std::vector<std::wstring> pending{root};
  WIN32_FIND_DATAW entry;
  while (!pending.empty()) {
    std::wstring prefix = std::move(pending.back());
    pending.pop_back();
    if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';

    win::FindHandle listing(FindFirstFileW((prefix + L"*.*").c_str(), &entry));
    if (!listing) continue;  // refused or missing: skipped with everything below it
    do {
      if (IsDotOrDotDot(entry.cFileName)) continue;
      std::wstring fullPath = prefix + entry.cFileName;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        pending.push_back(std::move(fullPath));
      } else if (!engine::ScanFile(fullPath, gScanState, view, &gProgressThrottle)) {
        return;
      }
    } while (FindNextFileW(listing.get(), &entry));
  }
}

std::vector<std::wstring> GetDriveRoots(DWORD initialChars) {
  std::vector<wchar_t> buffer(initialChars + 1, L'\0');
  DWORD length = GetLogicalDriveStringsW(initialChars, buffer.data());
  if (length > initialChars) {
    // Too small: the result is the size needed, and nothing usable was written.
    buffer.assign(length + 1, L'\0');
    length = GetLogicalDriveStringsW(length, buffer.data());
    if (length >= buffer.size()) return {};  // the list grew in between; give up
  }
  std::vector<std::wstring> roots;
  for (DWORD at = 0; at < length && buffer[at] != L'\0';) {
    std::wstring root(&buffer[at]);
    at += static_cast<DWORD>(root.size()) + 1;
    roots.push_back(std::move(root));
  }
  return roots;
}

unsigned __stdcall ScanDirectoryThreadProc(void* dialog) {
  const HWND window = static_cast<HWND>(dialog);
  return RunWorker([window] {
    gProgressThrottle.Reset();
    wchar_t root[kPathBoxChars] = {};
    GetDlgItemTextW(window, IDC_PATH, root, kPathBoxChars);
    WalkDirectoryTree(root, window);
    ShowUnshownProgress(window);
    MarkFinishedUnlessStopped();
  });
}

unsigned __stdcall ScanAllDrivesThreadProc(void* dialog) {
  const HWND window = static_cast<HWND>(dialog);
  return RunWorker([window] {
    gProgressThrottle.Reset();
    bool stopped = false;
    for (const std::wstring& root : GetDriveRoots()) {
      // Removable, network, optical and RAM drives, and roots of unknown type, are never walked.
      if (GetDriveTypeW(root.c_str()) == DRIVE_FIXED) WalkDirectoryTree(root, window);
      if (gScanState.stopRequested.load() != 0) {
        stopped = true;
        break;
      }
    }
    ShowUnshownProgress(window);
    if (!stopped) MarkFinishedUnlessStopped();
  });
}

void ShowLatestProgress(HWND dialog) {
  if (const auto snapshot = gProgressThrottle.Latest()) engine::ShowProgress(ViewOf(dialog), *snapshot);
}

std::wstring FormatFinalSummary(bool stoppedByUser, int32_t virusesFound, int32_t filesRestored) {
  std::wstring summary = stoppedByUser ? L"已被用户终止，" : L"扫描完成，";
  if (virusesFound == 0) return summary + L"未发现病毒";
  return summary + L"查出" + std::to_wstring(virusesFound) + L"个病毒，恢复" + std::to_wstring(filesRestored) +
         L"个文件";
}

std::wstring FormatFinalSummary(const engine::ScanState& state) {
  return FormatFinalSummary(state.stopRequested.load() != 0, state.virusesFound.load(), state.filesRestored.load());
}

}  // namespace ui
