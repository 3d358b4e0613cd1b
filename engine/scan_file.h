// Per-file inspection and restoration. The virus keeps each file's former contents
// beside it under the same stem with ".sql" in place of the last extension.
#pragma once

#include <windows.h>

#include <string>

#include "engine/progress_throttle.h"
#include "engine/scan_state.h"

namespace engine {

// Where ScanFile shows its progress: a window and the ids of its progress line and of
// its current-file line. The texts are set with SetDlgItemTextW, which a worker thread
// hands to the window's thread and waits for.
struct ProgressView {
  HWND window = nullptr;
  int progressLineId = 0;
  int currentFileId = 0;
};

// The backup copy's path: the file's path cut before its last "." followed by ".sql".
// Empty when the file name itself has no "." (a "." in a directory name doesn't count:
// the copy formed from it would name a file in a parent directory).
std::wstring BackupCopyPath(const std::wstring& path);

// Writes the backup copy back over an infected file and deletes the copy, or deletes
// the infected file when there is no copy. True when the file was restored or deleted.
// The copy is kept whenever the restored file might not hold exactly its bytes.
bool RestoreVirusFile(const std::wstring& path);

// Counts the file, tests it, restores it when infected and shows the counts and the
// path. Returns false when the walk is to stop: stopRequested was set when it began.
// The file is handled in full either way. With a throttle, the texts are shown only when
// it allows, and always for the file at which a stop request is seen.
bool ScanFile(const std::wstring& path, ScanState& state, const ProgressView& view,
              ProgressThrottle* throttle = nullptr);

// Sets the progress line and the current-file line.
void ShowProgress(const ProgressView& view, const ProgressSnapshot& snapshot);

}  // namespace engine
