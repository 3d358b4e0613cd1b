#include "tests/e2e/program.h"

#include <vector>

#include "tests/support/test_support.h"

namespace e2e {

namespace {

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

bool ProgramRun::Start(const std::wstring& exe, DWORD timeoutMs) {
  process_.emplace(exe);
  main_ = process_->WaitForWindow(test::kMainTitle, timeoutMs);
  return main_ != nullptr;
}

HWND ProgramRun::WaitForWindow(const std::wstring& title, DWORD timeoutMs) const {
  return process_ ? process_->WaitForWindow(title, timeoutMs, main_) : nullptr;
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
  return process_ && process_->WaitForEnd(timeoutMs, code) ? code : STILL_ACTIVE;
}

}  // namespace e2e
