#include "engine/process_sweep.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include "engine/marker.h"
#include "win/handles.h"

namespace engine {

namespace {

// Full access in the form every Windows version accepts: the wider mask of Vista and
// later makes OpenProcess fail on older systems.
constexpr DWORD kProcessFullAccess = 0x1F0FFF;

// Ends the process when its executable carries the marker. A process whose path can't be
// read (a protected process, one of another architecture, one still starting up) has no
// file to test and is left alone; so is one whose path doesn't fit the buffer, since a cut
// path names another file.
void EndIfInfected(DWORD processId) {
  win::KernelHandle process(OpenProcess(kProcessFullAccess, FALSE, processId));
  if (!process) return;
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameExW(process.get(), nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  if (IsVirusFile(path)) TerminateProcess(process.get(), 0);
}

}  // namespace

void KillVirusProcesses() {
  // A failed snapshot is INVALID_HANDLE_VALUE, not null: test it before it is owned.
  const HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE || raw == nullptr) return;
  win::KernelHandle snapshot(raw);

  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  if (!Process32FirstW(snapshot.get(), &entry)) return;
  do {
    EndIfInfected(entry.th32ProcessID);
  } while (Process32NextW(snapshot.get(), &entry));
}

bool EnableDebugPrivilege() {
  win::KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;

  TOKEN_PRIVILEGES request{};
  request.PrivilegeCount = 1;
  if (!LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &request.Privileges[0].Luid)) return false;
  request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Succeeds also when the token doesn't hold the privilege (GetLastError then says
  // ERROR_NOT_ALL_ASSIGNED); the sweep then simply opens fewer processes.
  return AdjustTokenPrivileges(token.get(), FALSE, &request, 0, nullptr, nullptr) != FALSE;
}

}  // namespace engine
