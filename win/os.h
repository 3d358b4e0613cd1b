// The one door to the system for files, security descriptors, processes, tokens and the
// registry. The product makes every such call through the functions below; they have the
// system's names, parameters and results, in namespace win::os, and go through one table
// of pointers. A test puts its own entries into that table to watch every call and to
// answer as Windows would where Wine is lenient.
#pragma once

#include <windows.h>
#include <winternl.h>
#include <tlhelp32.h>

namespace win::os {

// The native calls, which Win32 doesn't offer: opens relative to a directory handle,
// renames by handle, the information classes Win32 has no call for.
using NtStatus = LONG;

struct Calls {
  // Kernel handles
  BOOL(WINAPI* CloseHandle)(HANDLE handle);
  BOOL(WINAPI* DuplicateHandle)
  (HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target, DWORD access, BOOL inherit,
   DWORD options);
  // Files: opening
  HANDLE(WINAPI* CreateFileW)
  (const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
   HANDLE templateFile);
  NtStatus(NTAPI* NtCreateFile)(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes, IO_STATUS_BLOCK* io,
                                LARGE_INTEGER* allocationSize, ULONG fileAttributes, ULONG share, ULONG disposition,
                                ULONG options, void* eaBuffer, ULONG eaLength);
  // Files: data
  BOOL(WINAPI* ReadFile)(HANDLE file, void* buffer, DWORD bytes, DWORD* read, OVERLAPPED* overlapped);
  BOOL(WINAPI* WriteFile)(HANDLE file, const void* buffer, DWORD bytes, DWORD* written, OVERLAPPED* overlapped);
  BOOL(WINAPI* FlushFileBuffers)(HANDLE file);
  BOOL(WINAPI* SetFilePointerEx)(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* position, DWORD method);
  BOOL(WINAPI* GetFileSizeEx)(HANDLE file, LARGE_INTEGER* size);
  DWORD(WINAPI* GetFileType)(HANDLE file);
  // Files: information
  BOOL(WINAPI* GetFileInformationByHandleEx)(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer, DWORD bytes);
  BOOL(WINAPI* GetFileInformationByHandle)(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
  BOOL(WINAPI* SetFileInformationByHandle)(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer, DWORD bytes);
  NtStatus(NTAPI* NtQueryInformationFile)(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG bytes, ULONG kind);
  NtStatus(NTAPI* NtSetInformationFile)(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG bytes, ULONG kind);
  NtStatus(NTAPI* NtQueryVolumeInformationFile)(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG bytes,
                                                ULONG kind);
  NtStatus(NTAPI* NtQueryObject)(HANDLE handle, ULONG kind, void* buffer, ULONG bytes, ULONG* returned);
  DWORD(WINAPI* GetFinalPathNameByHandleW)(HANDLE file, wchar_t* path, DWORD chars, DWORD flags);
  BOOL(WINAPI* DeviceIoControl)
  (HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned,
   OVERLAPPED* overlapped);
  // Files: by path
  BOOL(WINAPI* MoveFileExW)(const wchar_t* from, const wchar_t* to, DWORD flags);
  DWORD(WINAPI* GetFileAttributesW)(const wchar_t* path);
  DWORD(WINAPI* GetFullPathNameW)(const wchar_t* path, DWORD chars, wchar_t* buffer, wchar_t** name);
  DWORD(WINAPI* GetLongPathNameW)(const wchar_t* path, wchar_t* buffer, DWORD chars);
  // Volumes and drives
  BOOL(WINAPI* GetVolumePathNameW)(const wchar_t* path, wchar_t* mountPoint, DWORD chars);
  BOOL(WINAPI* GetVolumeNameForVolumeMountPointW)(const wchar_t* mountPoint, wchar_t* volume, DWORD chars);
  UINT(WINAPI* GetDriveTypeW)(const wchar_t* root);
  DWORD(WINAPI* GetLogicalDriveStringsW)(DWORD chars, wchar_t* buffer);
  // Security descriptors
  BOOL(WINAPI* GetKernelObjectSecurity)
  (HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor, DWORD bytes, DWORD* needed);
  BOOL(WINAPI* SetKernelObjectSecurity)(HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);
  // Processes
  HANDLE(WINAPI* CreateToolhelp32Snapshot)(DWORD flags, DWORD processId);
  BOOL(WINAPI* Process32FirstW)(HANDLE snapshot, PROCESSENTRY32W* entry);
  BOOL(WINAPI* Process32NextW)(HANDLE snapshot, PROCESSENTRY32W* entry);
  HANDLE(WINAPI* OpenProcess)(DWORD access, BOOL inherit, DWORD processId);
  BOOL(WINAPI* QueryFullProcessImageNameW)(HANDLE process, DWORD flags, wchar_t* path, DWORD* chars);
  // Windows 8.1's IsProcessCritical; before it, the same answer from the native query.
  BOOL(WINAPI* IsProcessCritical)(HANDLE process, BOOL* critical);
  BOOL(WINAPI* TerminateProcess)(HANDLE process, UINT exitCode);
  // Tokens
  BOOL(WINAPI* OpenProcessToken)(HANDLE process, DWORD access, HANDLE* token);
  BOOL(WINAPI* LookupPrivilegeValueW)(const wchar_t* system, const wchar_t* name, LUID* luid);
  BOOL(WINAPI* AdjustTokenPrivileges)
  (HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* state, DWORD bytes, TOKEN_PRIVILEGES* previous, DWORD* returned);
  // The registry
  LSTATUS(WINAPI* RegOpenKeyExW)(HKEY parent, const wchar_t* name, DWORD options, REGSAM access, HKEY* key);
  LSTATUS(WINAPI* RegCreateKeyExW)
  (HKEY parent, const wchar_t* name, DWORD reserved, wchar_t* className, DWORD options, REGSAM access,
   SECURITY_ATTRIBUTES* security, HKEY* key, DWORD* disposition);
  LSTATUS(WINAPI* RegQueryValueExW)
  (HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* bytes);
  LSTATUS(WINAPI* RegSetValueExW)
  (HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data, DWORD bytes);
  LSTATUS(WINAPI* RegCloseKey)(HKEY key);
};

// The system's own entries, and the table every call goes through, which starts as a copy
// of them. Only a test changes the table, before the calls it watches begin.
const Calls& SystemCalls();
Calls& Table();

// The calls, by the system's names.
inline BOOL CloseHandle(HANDLE h) { return Table().CloseHandle(h); }
inline BOOL DuplicateHandle(HANDLE sp, HANDLE s, HANDLE tp, HANDLE* t, DWORD a, BOOL i, DWORD o) {
  return Table().DuplicateHandle(sp, s, tp, t, a, i, o);
}
inline HANDLE CreateFileW(const wchar_t* p, DWORD a, DWORD s, SECURITY_ATTRIBUTES* sa, DWORD d, DWORD f, HANDLE t) {
  return Table().CreateFileW(p, a, s, sa, d, f, t);
}
inline NtStatus NtCreateFile(HANDLE* h, ACCESS_MASK a, OBJECT_ATTRIBUTES* oa, IO_STATUS_BLOCK* io, LARGE_INTEGER* al,
                             ULONG fa, ULONG s, ULONG d, ULONG o, void* ea, ULONG el) {
  return Table().NtCreateFile(h, a, oa, io, al, fa, s, d, o, ea, el);
}
inline BOOL ReadFile(HANDLE f, void* b, DWORD n, DWORD* r, OVERLAPPED* o) { return Table().ReadFile(f, b, n, r, o); }
inline BOOL WriteFile(HANDLE f, const void* b, DWORD n, DWORD* w, OVERLAPPED* o) {
  return Table().WriteFile(f, b, n, w, o);
}
inline BOOL FlushFileBuffers(HANDLE f) { return Table().FlushFileBuffers(f); }
inline BOOL SetFilePointerEx(HANDLE f, LARGE_INTEGER d, LARGE_INTEGER* p, DWORD m) {
  return Table().SetFilePointerEx(f, d, p, m);
}
inline BOOL GetFileSizeEx(HANDLE f, LARGE_INTEGER* s) { return Table().GetFileSizeEx(f, s); }
inline DWORD GetFileType(HANDLE f) { return Table().GetFileType(f); }
inline BOOL GetFileInformationByHandleEx(HANDLE f, FILE_INFO_BY_HANDLE_CLASS k, void* b, DWORD n) {
  return Table().GetFileInformationByHandleEx(f, k, b, n);
}
inline BOOL GetFileInformationByHandle(HANDLE f, BY_HANDLE_FILE_INFORMATION* i) {
  return Table().GetFileInformationByHandle(f, i);
}
inline BOOL SetFileInformationByHandle(HANDLE f, FILE_INFO_BY_HANDLE_CLASS k, void* b, DWORD n) {
  return Table().SetFileInformationByHandle(f, k, b, n);
}
inline NtStatus NtQueryInformationFile(HANDLE f, IO_STATUS_BLOCK* io, void* b, ULONG n, ULONG k) {
  return Table().NtQueryInformationFile(f, io, b, n, k);
}
inline NtStatus NtSetInformationFile(HANDLE f, IO_STATUS_BLOCK* io, void* b, ULONG n, ULONG k) {
  return Table().NtSetInformationFile(f, io, b, n, k);
}
inline NtStatus NtQueryVolumeInformationFile(HANDLE f, IO_STATUS_BLOCK* io, void* b, ULONG n, ULONG k) {
  return Table().NtQueryVolumeInformationFile(f, io, b, n, k);
}
inline NtStatus NtQueryObject(HANDLE h, ULONG k, void* b, ULONG n, ULONG* r) {
  return Table().NtQueryObject(h, k, b, n, r);
}
inline DWORD GetFinalPathNameByHandleW(HANDLE f, wchar_t* p, DWORD n, DWORD fl) {
  return Table().GetFinalPathNameByHandleW(f, p, n, fl);
}
inline BOOL DeviceIoControl(HANDLE d, DWORD c, void* i, DWORD in, void* o, DWORD on, DWORD* r, OVERLAPPED* ov) {
  return Table().DeviceIoControl(d, c, i, in, o, on, r, ov);
}
inline BOOL MoveFileExW(const wchar_t* f, const wchar_t* t, DWORD fl) { return Table().MoveFileExW(f, t, fl); }
inline DWORD GetFileAttributesW(const wchar_t* p) { return Table().GetFileAttributesW(p); }
inline DWORD GetFullPathNameW(const wchar_t* p, DWORD n, wchar_t* b, wchar_t** name) {
  return Table().GetFullPathNameW(p, n, b, name);
}
inline DWORD GetLongPathNameW(const wchar_t* p, wchar_t* b, DWORD n) { return Table().GetLongPathNameW(p, b, n); }
inline BOOL GetVolumePathNameW(const wchar_t* p, wchar_t* m, DWORD n) { return Table().GetVolumePathNameW(p, m, n); }
inline BOOL GetVolumeNameForVolumeMountPointW(const wchar_t* m, wchar_t* v, DWORD n) {
  return Table().GetVolumeNameForVolumeMountPointW(m, v, n);
}
inline UINT GetDriveTypeW(const wchar_t* r) { return Table().GetDriveTypeW(r); }
inline DWORD GetLogicalDriveStringsW(DWORD n, wchar_t* b) { return Table().GetLogicalDriveStringsW(n, b); }
inline BOOL GetKernelObjectSecurity(HANDLE h, SECURITY_INFORMATION w, PSECURITY_DESCRIPTOR d, DWORD n, DWORD* r) {
  return Table().GetKernelObjectSecurity(h, w, d, n, r);
}
inline BOOL SetKernelObjectSecurity(HANDLE h, SECURITY_INFORMATION w, PSECURITY_DESCRIPTOR d) {
  return Table().SetKernelObjectSecurity(h, w, d);
}
inline HANDLE CreateToolhelp32Snapshot(DWORD f, DWORD p) { return Table().CreateToolhelp32Snapshot(f, p); }
inline BOOL Process32FirstW(HANDLE s, PROCESSENTRY32W* e) { return Table().Process32FirstW(s, e); }
inline BOOL Process32NextW(HANDLE s, PROCESSENTRY32W* e) { return Table().Process32NextW(s, e); }
inline HANDLE OpenProcess(DWORD a, BOOL i, DWORD p) { return Table().OpenProcess(a, i, p); }
inline BOOL QueryFullProcessImageNameW(HANDLE p, DWORD f, wchar_t* b, DWORD* n) {
  return Table().QueryFullProcessImageNameW(p, f, b, n);
}
inline BOOL IsProcessCritical(HANDLE p, BOOL* c) { return Table().IsProcessCritical(p, c); }
inline BOOL TerminateProcess(HANDLE p, UINT c) { return Table().TerminateProcess(p, c); }
inline BOOL OpenProcessToken(HANDLE p, DWORD a, HANDLE* t) { return Table().OpenProcessToken(p, a, t); }
inline BOOL LookupPrivilegeValueW(const wchar_t* s, const wchar_t* n, LUID* l) {
  return Table().LookupPrivilegeValueW(s, n, l);
}
inline BOOL AdjustTokenPrivileges(HANDLE t, BOOL d, TOKEN_PRIVILEGES* s, DWORD n, TOKEN_PRIVILEGES* p, DWORD* r) {
  return Table().AdjustTokenPrivileges(t, d, s, n, p, r);
}
inline LSTATUS RegOpenKeyExW(HKEY p, const wchar_t* n, DWORD o, REGSAM a, HKEY* k) {
  return Table().RegOpenKeyExW(p, n, o, a, k);
}
inline LSTATUS RegCreateKeyExW(HKEY p, const wchar_t* n, DWORD r, wchar_t* c, DWORD o, REGSAM a, SECURITY_ATTRIBUTES* s,
                               HKEY* k, DWORD* d) {
  return Table().RegCreateKeyExW(p, n, r, c, o, a, s, k, d);
}
inline LSTATUS RegQueryValueExW(HKEY k, const wchar_t* n, DWORD* r, DWORD* t, BYTE* d, DWORD* b) {
  return Table().RegQueryValueExW(k, n, r, t, d, b);
}
inline LSTATUS RegSetValueExW(HKEY k, const wchar_t* n, DWORD r, DWORD t, const BYTE* d, DWORD b) {
  return Table().RegSetValueExW(k, n, r, t, d, b);
}
inline LSTATUS RegCloseKey(HKEY k) { return Table().RegCloseKey(k); }

}  // namespace win::os
