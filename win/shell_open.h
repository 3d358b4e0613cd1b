// Opening a web page or a download in the user's browser, as the signed-in user.
//
// The program runs as administrator. A browser that it starts itself (ShellExecuteW)
// inherits its token and runs elevated, and so does whatever the user then runs from the
// browser's downloads. The desktop's shell (Explorer) runs with the user's own token: asked
// to open the URL, it starts the browser as the user. It is reached through the shell
// windows' registry (IShellWindows::FindWindowSW with SWC_DESKTOP), the desktop's shell
// view and that view's Shell.Application object, whose IShellDispatch2::ShellExecute runs
// in Explorer's process.
#pragma once

#include <string>

namespace win {

// Opens the URL with the shell's "open" verb, shown normally, without parameters or
// working directory: through the desktop's shell when there is one (false otherwise,
// having opened nothing). Needs COM on the calling thread.
bool OpenThroughDesktopShell(const std::wstring& url) noexcept;

// Opens the URL through the desktop's shell, or, when there is none (another shell, no
// Explorer running, no COM on this thread), with ShellExecuteW from this process, as the
// program did before. What the browser then makes of it is not reported.
void OpenInBrowser(const std::wstring& url) noexcept;

}  // namespace win
