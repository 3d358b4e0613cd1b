#include "ui/scan_run.h"

#include <atomic>
#include <memory>
#include <set>

#include "engine/held_directory.h"
#include "engine/scan_file.h"
#include "ui/resource.h"
#include "win/handles.h"

namespace ui {

engine::ScanState gScanState;

namespace {

// How often the worker shows its progress; shared with the window's thread, which shows
// the latest state itself when the user stops a run.
engine::ProgressThrottle gProgressThrottle;

std::atomic<const engine::ScanHooks*> gScanHooks{nullptr};

// The dialog's progress line and current-file line, as the walk's progress shows.
class DialogProgress : public engine::ProgressSink {
 public:
  explicit DialogProgress(HWND dialog) : dialog_(dialog) {}
  // From the worker these are calls into the window's thread, which wait for it.
  void Show(const engine::ProgressSnapshot& snapshot) override {
    const std::wstring line =
        engine::FormatProgressLine(snapshot.filesScanned, snapshot.virusesFound, snapshot.filesRestored);
    SetDlgItemTextW(dialog_, IDC_PROGRESS, line.c_str());
    SetDlgItemTextW(dialog_, IDC_CURRENT_FILE, snapshot.path.c_str());
  }

 private:
  HWND dialog_;
};

// At a worker's end, before the run's end is announced: the last file and the final counts.
void ShowUnshownProgress(HWND dialog) {
  if (const auto snapshot = gProgressThrottle.TakeUnshown()) DialogProgress(dialog).Show(*snapshot);
}

constexpr DWORD kPathBoxChars = 512;

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// A directory waiting to be walked: where it was listed, as the system knows it and as the
// user sees it, and its identity in that listing.
struct PendingDirectory {
  std::wstring path;     // "\\?\" form: the listed directory's final path and the name
  std::wstring display;  // the root as given and the names below it
  uint64_t fileIndex = 0;
  bool listed = false;  // false for the root, which is taken as given
};

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

void SetScanHooks(const engine::ScanHooks* hooks) { gScanHooks.store(hooks); }

void WalkDirectoryTree(const std::wstring& root, HWND dialog) {
  DialogProgress progress(dialog);
  // Pending directories as paths, not open handles: one directory is held at a time. A
  // directory is listed at most once, whatever links or renames would bring it back.
  std::vector<PendingDirectory> pending{{engine::LongPath(root), root, 0, false}};
  std::set<engine::FileId> walked;
  while (!pending.empty()) {
    PendingDirectory next = std::move(pending.back());
    pending.pop_back();

    // Not entered when it is a link now, or no longer the directory that was listed there.
    engine::HeldDirectory directory;
    if (!directory.Open(next.path)) continue;  // refused, missing, a link: skipped with everything below it
    if (next.listed && (!SameIgnoringCase(directory.finalPath(), next.path) ||
                        (next.fileIndex != 0 && directory.facts().id.index != next.fileIndex)))
      continue;
    if (!walked.insert(directory.facts().id).second) continue;

    std::wstring prefix = std::move(next.display);
    if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';
    bool stopped = false;
    // The names of the files restored in this directory while it is listed. On FAT and
    // exFAT the entry of a file renamed into a directory can come up again later in the
    // same listing; a restored file is met once.
    std::set<std::wstring> restored;
    directory.List([&](const engine::DirectoryEntry& entry) {
      if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // Junctions, directory links and mount points are never entered.
        if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
          pending.push_back({directory.finalPath() + L"\\" + entry.name, prefix + entry.name, entry.fileIndex, true});
        return true;
      }
      if (!restored.empty() && restored.count(entry.name) != 0) return true;
      engine::Restoration outcome = engine::Restoration::kLeft;
      stopped = !engine::ScanFile(directory, entry, prefix + entry.name, gScanState, progress, &gProgressThrottle,
                                  gScanHooks.load(), &outcome);
      if (outcome == engine::Restoration::kRestored) restored.insert(entry.name);
      return !stopped;
    });
    if (stopped) return;
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
  if (const auto snapshot = gProgressThrottle.Latest()) DialogProgress(dialog).Show(*snapshot);
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
