#include "tests/support/process.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace test {

Process::Process(const std::wstring& exe, const std::wstring& arguments, const wchar_t* directory) : exe_(exe) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  // No console either: Wine would start a console host for it.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, directory,
                      &startup, &info)) {
    ADD_FAILURE() << "could not start " << testing::PrintToString(exe) << ", error " << GetLastError();
    return;
  }
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  id_ = info.dwProcessId;
}

Process::~Process() {
  if (running()) {
    TerminateProcess(process_.get(), 99);
    WaitForSingleObject(process_.get(), 10000);
  }
}

bool Process::running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

bool Process::WaitUntilReady(DWORD timeoutMs) const {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (running()) {
    wchar_t path[MAX_PATH] = {};
    if (GetModuleFileNameExW(process_.get(), nullptr, path, MAX_PATH) > 0) return true;
    if (GetTickCount64() >= deadline) return false;
    WaitForSingleObject(process_.get(), 10);  // a timed wait that ends early if the process does
  }
  return false;
}

bool Process::Kill() const { return process_ && TerminateProcess(process_.get(), 9); }

bool Process::WaitForEnd(DWORD timeoutMs, DWORD& exitCode) const {
  if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  return GetExitCodeProcess(process_.get(), &exitCode) != FALSE;
}

HWND Process::FindWindowTitled(const std::wstring& title, HWND except) const {
  struct Search {
    DWORD processId;
    const std::wstring* title;
    HWND except;
    HWND found;
  } search{id_, &title, except, nullptr};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* search = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId || window == search->except || !IsWindowVisible(window)) return TRUE;
        wchar_t text[256] = {};
        GetWindowTextW(window, text, 256);
        if (*search->title != text) return TRUE;
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND Process::WaitForWindow(const std::wstring& title, DWORD timeoutMs, HWND except) const {
  HWND found = nullptr;
  PumpUntil([&] { return (found = FindWindowTitled(title, except)) != nullptr || !running(); }, timeoutMs);
  return found;
}

}  // namespace test
