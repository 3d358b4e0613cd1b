#include "tests/e2e/program.h"

#include <vector>

namespace e2e {

namespace {

struct Search {
  DWORD pid;
  std::wstring title;
  HWND exclude;
  HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || window == search->exclude || !IsWindowVisible(window)) return TRUE;
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if (search->title != title) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK FindPrompt(HWND child, LPARAM param) {
  // The prompt label is the only control without an id of its own.
  const int id = GetDlgCtrlID(child);
  if (id == -1 || id == 0xFFFF) {
    *reinterpret_cast<HWND*>(param) = child;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return condition();
    Sleep(20);
  }
  return true;
}

ProgramRun::~ProgramRun() {
  if (pi_.hProcess) {
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
  }
}

bool ProgramRun::Start(const std::wstring& exe, DWORD timeoutMs) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::wstring command = L"\"" + exe + L"\"";
  if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
    return false;
  WaitFor([&] {
    Search search{pi_.dwProcessId, kMainTitle, nullptr, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    main_ = search.found;
    return main_ != nullptr;
  }, timeoutMs);
  return main_ != nullptr;
}

HWND ProgramRun::FindWindowTitled(const std::wstring& title) const {
  Search search{pi_.dwProcessId, title, main_, nullptr};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND ProgramRun::WaitForWindow(const std::wstring& title, DWORD timeoutMs) const {
  HWND found = nullptr;
  WaitFor([&] { return (found = FindWindowTitled(title)) != nullptr; }, timeoutMs);
  return found;
}

std::wstring ProgramRun::Text(HWND window) const {
  // WM_GETTEXT is marshalled between processes; GetWindowText would not ask the control.
  std::vector<wchar_t> text(1024, L'\0');
  DWORD_PTR copied = 0;
  if (!window || !SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                                      SMTO_ABORTIFHUNG, 5000, &copied))
    return L"<no answer>";
  return std::wstring(text.data(), copied);
}

std::wstring ProgramRun::PromptText() const {
  HWND prompt = nullptr;
  EnumChildWindows(main_, FindPrompt, reinterpret_cast<LPARAM>(&prompt));
  return Text(prompt);
}

void ProgramRun::SetText(int id, const std::wstring& text) const {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(GetDlgItem(main_, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                      5000, &result);
}

void ProgramRun::Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void ProgramRun::Close() const { PostMessageW(main_, WM_SYSCOMMAND, SC_CLOSE, 0); }

DWORD ProgramRun::WaitForExit(DWORD timeoutMs) {
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(pi_.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi_.hProcess, &code);
  return code;
}

}  // namespace e2e
