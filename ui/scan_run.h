// The scan run: the shared run state, the two worker procedures and the directory walk.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/scan_state.h"

namespace engine {
struct ScanHooks;
}

namespace ui {

// The one run state of the process. Who writes and who reads each field is said at the
// type (engine/scan_state.h).
extern engine::ScanState gScanState;

// The path box text that selects the run over every fixed drive.
inline constexpr wchar_t kAllDrivesText[] = L"默认扫描所有磁盘";

// Worker entry points, started with _beginthreadex. The argument is the main dialog's
// window handle: the worker reads the path box (1014) and sets the current-file line
// (1016) and the progress line (1017) through it, and touches nothing else of the dialog.
unsigned __stdcall ScanDirectoryThreadProc(void* dialog);
unsigned __stdcall ScanAllDrivesThreadProc(void* dialog);

// Walks everything below root and hands every entry that is not a directory to
// ScanFile. A directory's files come before anything in its subdirectories, and the
// subdirectory listed last is walked first. Stops as soon as ScanFile says so.
// Links, junctions and mount points are never entered, a directory is listed at most
// once, and every path goes to the system in its "\\?\" form, so that nothing deeper
// than MAX_PATH is missed; the current-file line shows the ordinary form.
void WalkDirectoryTree(const std::wstring& root, HWND dialog);

// Hooks that the walk hands to every file's scan (engine/scan_file.h): none in the program,
// a test's to hold a worker inside a file. They must outlive every worker that has seen them.
void SetScanHooks(const engine::ScanHooks* hooks);

// Shows the texts of the file the worker handled last, from the window's thread. The worker
// shows its progress about 20 times a second; when the user stops a run, the texts are
// brought up to date before the offer opens.
void ShowLatestProgress(HWND dialog);

// The drive roots ("C:\", ...) in the order the system lists them. initialChars is the
// size of the first buffer tried; when the list doesn't fit, it is fetched again into a
// buffer of the size the system asks for, so that every drive is seen.
std::vector<std::wstring> GetDriveRoots(DWORD initialChars = 100);

// The final summary that the offer dialog shows: "扫描完成，" or "已被用户终止，"
// followed by "未发现病毒" or "查出%i个病毒，恢复%i个文件".
std::wstring FormatFinalSummary(bool stoppedByUser, int32_t virusesFound, int32_t filesRestored);
// The same from the run state as it stands now.
std::wstring FormatFinalSummary(const engine::ScanState& state);

}  // namespace ui
