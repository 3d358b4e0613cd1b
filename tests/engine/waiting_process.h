// A copy of a fixture executable running with the argument "wait" (it then stays for a
// minute). Whatever is still running when the object goes is ended, so that nothing
// outlives the test.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <string>

#include <gtest/gtest.h>

#include "win/handles.h"

namespace test {

class WaitingProcess {
 public:
  explicit WaitingProcess(const std::wstring& exe) : exe_(exe) {
    std::wstring commandLine = L"\"" + exe + L"\" wait";
    // No console (Wine would start a console host for it) and no standard handles: under
    // ctest they are pipes, and ctest waits until every holder of them has ended.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                        &startup, &info)) {
      ADD_FAILURE() << "could not start a fixture, error " << GetLastError();
      return;
    }
    CloseHandle(info.hThread);
    process_.reset(info.hProcess);
  }
  ~WaitingProcess() {
    if (running()) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), 10000);
    }
  }
  WaitingProcess(const WaitingProcess&) = delete;
  WaitingProcess& operator=(const WaitingProcess&) = delete;

  // True once the process's main module is loaded and its path can be read from outside,
  // as the sweep reads it. A process still starting up has no module list yet.
  bool WaitUntilReady(DWORD timeoutMs = 10000) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (running()) {
      wchar_t path[MAX_PATH] = {};
      if (GetModuleFileNameExW(process_.get(), nullptr, path, MAX_PATH) > 0) return true;
      if (GetTickCount64() >= deadline) return false;
      WaitForSingleObject(process_.get(), 10);  // a timed wait that ends early if the process does
    }
    return false;
  }
  bool running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  // True when the process ended within the time-out; its exit code then goes to exitCode.
  bool WaitForEnd(DWORD timeoutMs, DWORD& exitCode) const {
    if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(process_.get(), &exitCode) != FALSE;
  }
  DWORD id() const { return process_ ? GetProcessId(process_.get()) : 0; }
  const std::wstring& exe() const { return exe_; }

 private:
  std::wstring exe_;
  win::KernelHandle process_;
};

}  // namespace test
