// Works the real executable from outside its process, the way a person does: finds its
// windows by their titles, presses buttons, reads texts, closes it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "tests/support/process.h"

namespace e2e {

class ProgramRun {
 public:
  bool Start(const std::wstring& exe, DWORD timeoutMs = 30000);
  HWND main() const { return main_; }

  // A top-level window of the program with this exact title, other than the main window.
  HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs) const;

  std::wstring Text(HWND window) const;
  std::wstring Text(int id) const { return Text(GetDlgItem(main_, id)); }
  std::wstring PromptText() const;
  bool Visible(int id) const { return IsWindowVisible(GetDlgItem(main_, id)) != FALSE; }
  // Puts a text into a control, as the folder browser does with the path box.
  void SetText(int id, const std::wstring& text) const;
  // Presses a button as a click would.
  static void Click(HWND button);
  void Click(int id) const { Click(GetDlgItem(main_, id)); }

  void Close() const;
  // The exit code, or STILL_ACTIVE when the process didn't end in time.
  DWORD WaitForExit(DWORD timeoutMs);

 private:
  std::optional<test::Process> process_;
  HWND main_ = nullptr;
};

}  // namespace e2e
