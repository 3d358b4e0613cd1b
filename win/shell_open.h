// Opening a page in the user's browser as the signed-in user. The program runs as
// administrator, and a browser it started itself would run elevated, with everything the
// user then runs from its downloads. The desktop's shell (Explorer) runs with the user's
// token: its Shell.Application object, reached through the shell windows' registry, runs
// IShellDispatch2::ShellExecute in Explorer's process.
#pragma once

#include <string>

namespace win {

// Opens the URL with the shell's "open" verb, shown normally, without parameters or
// working directory: through the desktop's shell when there is one (false otherwise,
// having opened nothing). Needs COM on the calling thread.
bool OpenThroughDesktopShell(const std::wstring& url) noexcept;

// Opens the URL through the desktop's shell, or, when there is none (another shell, no
// Explorer running, no COM on this thread), with ShellExecuteW from this process.
void OpenInBrowser(const std::wstring& url) noexcept;

}  // namespace win
