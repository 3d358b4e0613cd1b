#include "tests/support/process.h"

#include <psapi.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace test {

namespace {

// Starts a program through the native calls: Wine's CreateProcessW looks the image up in a
// buffer of MAX_PATH characters (after making a short name long), and can't start one deeper.
HANDLE StartNatively(const std::wstring& exe, const std::wstring& commandLine) {
  using CreateParameters =
      LONG(NTAPI*)(void**, UNICODE_STRING*, void*, void*, UNICODE_STRING*, void*, void*, void*, void*, void*, ULONG);
  using CreateUserProcess =
      LONG(NTAPI*)(HANDLE*, HANDLE*, ACCESS_MASK, ACCESS_MASK, void*, void*, ULONG, ULONG, void*, void*, void*);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto createParameters = reinterpret_cast<CreateParameters>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlCreateProcessParametersEx")));
  const auto createProcess =
      reinterpret_cast<CreateUserProcess>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateUserProcess")));
  const std::wstring ntPath = L"\\??\\" + exe;
  UNICODE_STRING image{}, command{};
  RtlInitUnicodeString(&image, exe.c_str());
  RtlInitUnicodeString(&command, commandLine.c_str());
  // PS_CREATE_INFO, 0x58 bytes; and a PS_ATTRIBUTE_LIST of one PS_ATTRIBUTE_IMAGE_NAME.
  SIZE_T createInfo[11] = {sizeof createInfo};
  SIZE_T imageName[5] = {5 * sizeof(SIZE_T), 0x20005, ntPath.size() * sizeof(wchar_t),
                         reinterpret_cast<SIZE_T>(ntPath.c_str()), 0};
  void* parameters = nullptr;
  HANDLE process = nullptr, thread = nullptr;
  if (!createParameters || !createProcess ||
      createParameters(&parameters, &image, nullptr, nullptr, &command, nullptr, nullptr, nullptr, nullptr, nullptr,
                       1 /* normalized */) < 0 ||
      createProcess(&process, &thread, PROCESS_ALL_ACCESS, THREAD_ALL_ACCESS, nullptr, nullptr, 0, 0, parameters,
                    createInfo, imageName) < 0)
    return nullptr;  // the parameters, a test's few hundred bytes, aren't freed
  CloseHandle(thread);
  return process;
}

}  // namespace

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
    const DWORD error = GetLastError();
    if (!directory && GetFileAttributesW(exe.c_str()) != INVALID_FILE_ATTRIBUTES)
      info.hProcess = StartNatively(exe, commandLine);
    if (!info.hProcess) {
      ADD_FAILURE() << "could not start " << testing::PrintToString(exe) << ", error " << error;
      return;
    }
  }
  if (info.hThread) CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  id_ = GetProcessId(info.hProcess);
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
