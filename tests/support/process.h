// A program that a test starts in a process of its own: the built tool, a fixture. It gets
// this process's environment (http_proxy included) and no standard handles: under ctest
// they are pipes, and ctest waits until every holder of them has ended. Whatever still
// runs when the object goes is ended, so that nothing outlives the test.
#pragma once

#include <windows.h>

#include <string>

#include "win/handles.h"

namespace test {

class Process {
 public:
  explicit Process(const std::wstring& exe, const std::wstring& arguments = L"", const wchar_t* directory = nullptr);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return static_cast<bool>(process_); }
  bool running() const;
  DWORD id() const { return id_; }
  HANDLE handle() const { return process_.get(); }
  const std::wstring& exe() const { return exe_; }

  // True once the main module is loaded and its path can be read from outside, as the
  // process sweep reads it. A process still starting up has no module list yet.
  bool WaitUntilReady(DWORD timeoutMs = 10000) const;
  // Ends the process at once, as the task manager would.
  bool Kill() const;
  // True when the process ended within the time-out; its exit code then goes to exitCode.
  bool WaitForEnd(DWORD timeoutMs, DWORD& exitCode) const;

  // A visible top-level window of the process with exactly this title, other than
  // `except`; null if there is none.
  HWND FindWindowTitled(const std::wstring& title, HWND except = nullptr) const;
  // Waits for such a window; null after the time-out or when the process ended first.
  HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs, HWND except = nullptr) const;

 private:
  std::wstring exe_;
  win::KernelHandle process_;
  DWORD id_ = 0;
};

}  // namespace test
