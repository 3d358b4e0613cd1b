#include "win/os.h"

#include <type_traits>

#include "win/system_dlls.h"

namespace win::os {

namespace {

constexpr NtStatus kStatusNotImplemented = static_cast<NtStatus>(0xC0000002L);
constexpr NtStatus kStatusInvalidInfoClass = static_cast<NtStatus>(0xC0000003L);
constexpr ULONG kProcessBreakOnTermination = 29;

// ntdll is in every process but isn't a KnownDLL that the import table may name, so its
// calls are found by name; one that isn't there answers as the system does for a call it
// doesn't know.
template <typename Pointer>
Pointer FromNtdll(const char* name) {
  return FindExport<std::remove_pointer_t<Pointer>>(::GetModuleHandleW(L"ntdll.dll"), name);
}

NtStatus NTAPI NoCreateFile(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG, ULONG,
                            ULONG, ULONG, void*, ULONG) {
  return kStatusNotImplemented;
}
NtStatus NTAPI NoFileCall(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG) { return kStatusNotImplemented; }
NtStatus NTAPI NoQueryObject(HANDLE, ULONG, void*, ULONG, ULONG*) { return kStatusNotImplemented; }

using QueryProcessFn = NtStatus(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

// Windows before 8.1 has no IsProcessCritical; the native query it stands on has been there
// since Vista and needs the same right. A system that doesn't know the query (Wine) has no
// critical processes either.
BOOL WINAPI CriticalByNativeQuery(HANDLE process, BOOL* critical) {
  static const auto query = FromNtdll<QueryProcessFn>("NtQueryInformationProcess");
  ULONG breakOnTermination = 0;
  const NtStatus status =
      query ? query(process, kProcessBreakOnTermination, &breakOnTermination, sizeof breakOnTermination, nullptr)
            : kStatusNotImplemented;
  if (status == kStatusInvalidInfoClass || status == kStatusNotImplemented) {
    *critical = FALSE;
    return TRUE;
  }
  if (status < 0) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *critical = breakOnTermination != 0 ? TRUE : FALSE;
  return TRUE;
}

Calls Real() {
  Calls c{};
  c.CloseHandle = &::CloseHandle;
  c.DuplicateHandle = &::DuplicateHandle;
  c.CreateFileW = &::CreateFileW;
  c.NtCreateFile = FromNtdll<decltype(c.NtCreateFile)>("NtCreateFile");
  if (!c.NtCreateFile) c.NtCreateFile = &NoCreateFile;
  c.ReadFile = &::ReadFile;
  c.WriteFile = &::WriteFile;
  c.FlushFileBuffers = &::FlushFileBuffers;
  c.SetFilePointerEx = &::SetFilePointerEx;
  c.GetFileSizeEx = &::GetFileSizeEx;
  c.GetFileType = &::GetFileType;
  c.GetFileInformationByHandleEx = &::GetFileInformationByHandleEx;
  c.GetFileInformationByHandle = &::GetFileInformationByHandle;
  c.SetFileInformationByHandle = &::SetFileInformationByHandle;
  c.NtQueryInformationFile = FromNtdll<decltype(c.NtQueryInformationFile)>("NtQueryInformationFile");
  if (!c.NtQueryInformationFile) c.NtQueryInformationFile = &NoFileCall;
  c.NtSetInformationFile = FromNtdll<decltype(c.NtSetInformationFile)>("NtSetInformationFile");
  if (!c.NtSetInformationFile) c.NtSetInformationFile = &NoFileCall;
  c.NtQueryVolumeInformationFile = FromNtdll<decltype(c.NtQueryVolumeInformationFile)>("NtQueryVolumeInformationFile");
  if (!c.NtQueryVolumeInformationFile) c.NtQueryVolumeInformationFile = &NoFileCall;
  c.NtQueryObject = FromNtdll<decltype(c.NtQueryObject)>("NtQueryObject");
  if (!c.NtQueryObject) c.NtQueryObject = &NoQueryObject;
  c.GetFinalPathNameByHandleW = &::GetFinalPathNameByHandleW;
  c.DeviceIoControl = &::DeviceIoControl;
  c.MoveFileExW = &::MoveFileExW;
  c.GetFileAttributesW = &::GetFileAttributesW;
  c.GetFullPathNameW = &::GetFullPathNameW;
  c.GetLongPathNameW = &::GetLongPathNameW;
  c.GetVolumePathNameW = &::GetVolumePathNameW;
  c.GetVolumeNameForVolumeMountPointW = &::GetVolumeNameForVolumeMountPointW;
  c.GetDriveTypeW = &::GetDriveTypeW;
  c.GetLogicalDriveStringsW = &::GetLogicalDriveStringsW;
  c.GetKernelObjectSecurity = &::GetKernelObjectSecurity;
  c.SetKernelObjectSecurity = &::SetKernelObjectSecurity;
  c.CreateToolhelp32Snapshot = &::CreateToolhelp32Snapshot;
  c.Process32FirstW = &::Process32FirstW;
  c.Process32NextW = &::Process32NextW;
  c.OpenProcess = &::OpenProcess;
  c.QueryFullProcessImageNameW = &::QueryFullProcessImageNameW;
  c.IsProcessCritical =
      FindExport<BOOL WINAPI(HANDLE, BOOL*)>(::GetModuleHandleW(L"kernel32.dll"), "IsProcessCritical");
  if (!c.IsProcessCritical) c.IsProcessCritical = &CriticalByNativeQuery;
  c.TerminateProcess = &::TerminateProcess;
  c.OpenProcessToken = &::OpenProcessToken;
  c.LookupPrivilegeValueW = &::LookupPrivilegeValueW;
  c.AdjustTokenPrivileges = &::AdjustTokenPrivileges;
  c.RegOpenKeyExW = &::RegOpenKeyExW;
  c.RegCreateKeyExW = &::RegCreateKeyExW;
  c.RegQueryValueExW = &::RegQueryValueExW;
  c.RegSetValueExW = &::RegSetValueExW;
  c.RegCloseKey = &::RegCloseKey;
  return c;
}

}  // namespace

const Calls& SystemCalls() {
  static const Calls calls = Real();
  return calls;
}

Calls& Table() {
  static Calls table = SystemCalls();
  return table;
}

}  // namespace win::os
