#include "tests/support/windows_rules.h"

#include <winioctl.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "win/os.h"

namespace rules {

namespace {

constexpr LONG kAccessDenied = static_cast<LONG>(0xC0000022L);
constexpr LONG kCannotDelete = static_cast<LONG>(0xC0000121L);
constexpr LONG kDeletePending = static_cast<LONG>(0xC0000056L);
constexpr LONG kFileIsADirectory = static_cast<LONG>(0xC00000BAL);
constexpr LONG kCriticalProcessDied = static_cast<LONG>(0xEF);  // the bug check, not a status

}  // namespace

const Rule kRules[kRuleCount] = {
    {"query of attributes (FileAttributeTag, FileBasic, FileNetworkOpen)", FILE_READ_ATTRIBUTES, kAccessDenied,
     ERROR_ACCESS_DENIED, "MS-FSA 2.1.5.12.5, 2.1.5.12.6, 2.1.5.12.21; MS-FSCC 2.4.6"},
    {"query of FileAllInformation (GetFileInformationByHandle)", FILE_READ_ATTRIBUTES, kAccessDenied,
     ERROR_ACCESS_DENIED, "MS-FSA 2.1.5.12.3, its FileBasicInformation part"},
    {"set of FileBasicInformation", FILE_WRITE_ATTRIBUTES, kAccessDenied, ERROR_ACCESS_DENIED,
     "NtSetInformationFile; MS-FSA 2.1.5.15.2"},
    {"set of FileDispositionInformation", DELETE, kAccessDenied, ERROR_ACCESS_DENIED, "MS-FSA 2.1.5.15.3"},
    {"set of FileRenameInformation(Ex), on the source", DELETE, kAccessDenied, ERROR_ACCESS_DENIED,
     "MS-FSA 2.1.5.15.11; MS-FSCC 2.4.42 FileRenameInformation"},
    {"read", FILE_READ_DATA, kAccessDenied, ERROR_ACCESS_DENIED, "ReadFile; NtCreateFile, FILE_READ_DATA"},
    {"write", FILE_WRITE_DATA | FILE_APPEND_DATA, kAccessDenied, ERROR_ACCESS_DENIED,
     "WriteFile; NtCreateFile, FILE_WRITE_DATA or FILE_APPEND_DATA"},
    {"flush", FILE_WRITE_DATA | FILE_APPEND_DATA, kAccessDenied, ERROR_ACCESS_DENIED,
     "FlushFileBuffers; MS-SMB2 3.3.5.11"},
    {"device control asking for read access", FILE_READ_DATA, kAccessDenied, ERROR_ACCESS_DENIED,
     "Defining I/O Control Codes, RequiredAccess"},
    {"device control asking for write access", FILE_WRITE_DATA, kAccessDenied, ERROR_ACCESS_DENIED,
     "Defining I/O Control Codes, RequiredAccess"},
    {"read of owner, group or DACL", READ_CONTROL, kAccessDenied, ERROR_ACCESS_DENIED,
     "NtQuerySecurityObject; GetKernelObjectSecurity"},
    {"read of the SACL", ACCESS_SYSTEM_SECURITY, kAccessDenied, ERROR_ACCESS_DENIED, "NtQuerySecurityObject"},
    {"write of the DACL", WRITE_DAC, kAccessDenied, ERROR_ACCESS_DENIED, "NtSetSecurityObject"},
    {"write of owner or group", WRITE_OWNER, kAccessDenied, ERROR_ACCESS_DENIED, "NtSetSecurityObject"},
    {"directory listing", FILE_LIST_DIRECTORY, kAccessDenied, ERROR_ACCESS_DENIED,
     "MS-FSA 2.1.5.6.3; NtCreateFile, FILE_LIST_DIRECTORY"},
    {"process query (image name, critical)", PROCESS_QUERY_LIMITED_INFORMATION, kAccessDenied, ERROR_ACCESS_DENIED,
     "QueryFullProcessImageNameW; IsProcessCritical"},
    {"process termination", PROCESS_TERMINATE, kAccessDenied, ERROR_ACCESS_DENIED, "TerminateProcess"},
    {"privilege adjustment", TOKEN_ADJUST_PRIVILEGES, kAccessDenied, ERROR_ACCESS_DENIED, "AdjustTokenPrivileges"},
    {"privilege adjustment that returns the previous state", TOKEN_QUERY, kAccessDenied, ERROR_ACCESS_DENIED,
     "AdjustTokenPrivileges"},
    {"registry value query", KEY_QUERY_VALUE, kAccessDenied, ERROR_ACCESS_DENIED, "RegQueryValueExW"},
    {"registry value set", KEY_SET_VALUE, kAccessDenied, ERROR_ACCESS_DENIED, "RegSetValueExW"},
    {"disposition of a read-only file", 0, kCannotDelete, ERROR_ACCESS_DENIED, "MS-FSA 2.1.5.15.3"},
    {"open of a file whose deletion is pending", 0, kDeletePending, ERROR_ACCESS_DENIED,
     "MS-FSA 2.1.5.1, Link.IsDeleted"},
    {"rename of a file whose deletion is pending", 0, kAccessDenied, ERROR_ACCESS_DENIED,
     "MS-FSA 2.1.5.15.11, as Microsoft's protocol test suite models it"},
    {"directory opened by CreateFileW without FILE_FLAG_BACKUP_SEMANTICS", 0, kFileIsADirectory, ERROR_ACCESS_DENIED,
     "CreateFileW, FILE_FLAG_BACKUP_SEMANTICS; MS-FSA 2.1.5.1"},
    {"open that the file's access list denies (the backup privilege lifts it for reading)", 0, kAccessDenied,
     ERROR_ACCESS_DENIED, "MS-FSA 2.1.5.1; Privilege Constants, SE_BACKUP_NAME"},
    {"open that the key's access list denies", 0, kAccessDenied, ERROR_ACCESS_DENIED, "RegOpenKeyExW"},
    {"open that the process's access list denies", 0, kAccessDenied, ERROR_ACCESS_DENIED, "OpenProcess"},
    {"termination of a critical process (the system stops)", 0, kCriticalProcessDied, ERROR_ACCESS_DENIED,
     "Bug check 0xEF CRITICAL_PROCESS_DIED"},
};

namespace {

enum class Kind { kFile, kProcess, kToken, kKey };

struct Record {
  Kind kind = Kind::kFile;
  ACCESS_MASK granted = 0;
  std::wstring path;    // files: the final path, upper case, once asked for; keys: below HKLM
  bool marked = false;  // this handle set the file's deletion
  LONGLONG index = -1;  // files: the file's index on its volume
  DWORD processId = 0;
};

struct State {
  std::mutex mutex;
  std::map<HANDLE, Record> handles;
  std::map<std::wstring, LARGE_INTEGER> pending;  // final path -> the file's index
  std::map<std::wstring, ACCESS_MASK> deniedFiles;
  std::map<std::wstring, ACCESS_MASK> deniedKeys;
  std::map<DWORD, ACCESS_MASK> limitedProcesses;
  std::set<DWORD> criticalProcesses;
  std::function<void(RuleId, const std::string&)> onRefusal;
};

State& S() {
  static State* state = new State;  // never destroyed: workers may call in until the end
  return *state;
}
// The system's own calls, which the decorators make once they have checked.
const win::os::Calls& Real() { return win::os::SystemCalls(); }
std::atomic<bool> gInstalled{false};
std::atomic<long> gChecked{0}, gRefused{0};

std::wstring Upper(std::wstring text) {
  if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// The final path of a handle, as the product asks for it, through the real calls.
std::wstring FinalPathOf(HANDLE handle) {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = Real().GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length > 0 && length < buffer.size()) return Upper(std::wstring(buffer.data(), length));
  std::vector<BYTE> name(0x10000 + sizeof(UNICODE_STRING));
  ULONG returned = 0;
  if (Real().NtQueryObject(handle, 1, name.data(), static_cast<ULONG>(name.size()), &returned) < 0) return {};
  const auto* text = reinterpret_cast<const UNICODE_STRING*>(name.data());
  std::wstring path(text->Buffer, text->Length / sizeof(WCHAR));
  if (path.compare(0, 4, L"\\??\\") == 0) path = L"\\\\?\\" + path.substr(4);
  return Upper(path);
}

LARGE_INTEGER IndexOf(HANDLE handle) {
  LARGE_INTEGER index{};
  IO_STATUS_BLOCK io{};
  if (Real().NtQueryInformationFile(handle, &io, &index, sizeof index, 6 /* FileInternalInformation */) < 0)
    index.QuadPart = -1;
  return index;
}

bool BackupPrivilegeEnabled() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  LUID backup{};
  std::vector<BYTE> buffer(4096);
  DWORD bytes = 0;
  bool enabled = false;
  if (LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &backup) &&
      GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &bytes)) {
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
      if (privileges->Privileges[i].Luid.LowPart == backup.LowPart &&
          privileges->Privileges[i].Luid.HighPart == backup.HighPart)
        enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  Real().CloseHandle(token);
  return enabled;
}

void Refuse(RuleId rule, const std::string& detail) {
  ++gRefused;
  char message[512];
  std::snprintf(message, sizeof message, "Windows refuses the %s (status 0x%08lX; %s)%s%s", kRules[rule].operation,
                static_cast<unsigned long>(kRules[rule].status), kRules[rule].source, detail.empty() ? "" : ": ",
                detail.c_str());
  std::function<void(RuleId, const std::string&)> report;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    report = S().onRefusal;
  }
  if (report) report(rule, message);
}

// The record of a handle the door opened; false for anything else (a test's own handle,
// a pseudo-handle), which is not checked.
bool Find(HANDLE handle, Record& record) {
  std::lock_guard<std::mutex> lock(S().mutex);
  const auto found = S().handles.find(handle);
  if (found == S().handles.end()) return false;
  record = found->second;
  return true;
}

void Remember(HANDLE handle, Record record) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().handles[handle] = std::move(record);
}

// Whether the handle has any of the rights `rule` needs. Unknown handles pass.
bool Allows(HANDLE handle, RuleId rule, ACCESS_MASK needs = 0) {
  Record record;
  if (!Find(handle, record)) return true;
  ++gChecked;
  if (needs == 0) needs = kRules[rule].needs;
  if ((record.granted & needs) != 0) return true;
  char detail[128];
  std::snprintf(detail, sizeof detail, "the handle was granted 0x%08lX, the call needs 0x%08lX",
                static_cast<unsigned long>(record.granted), static_cast<unsigned long>(needs));
  Refuse(rule, detail);
  return false;
}

BOOL RefusedWin32(RuleId rule) {
  SetLastError(kRules[rule].error);
  return FALSE;
}

// The checks that follow an open: a file whose deletion is pending, and an access list.
// Returns the rule that refuses the open, or kRuleCount.
RuleId CheckOpened(HANDLE handle, ACCESS_MASK asked, bool backupIntent, std::wstring& path) {
  bool pendingAny, deniedAny;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    pendingAny = !S().pending.empty();
    deniedAny = !S().deniedFiles.empty();
  }
  if (!pendingAny && !deniedAny) return kRuleCount;
  ++gChecked;
  path = FinalPathOf(handle);
  const LARGE_INTEGER index = IndexOf(handle);
  ACCESS_MASK denied = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    const auto pending = S().pending.find(path);
    if (pending != S().pending.end()) {
      if (pending->second.QuadPart == index.QuadPart) return kOpenDeletePending;
      S().pending.erase(pending);  // gone since; another file has the name now
    }
    const auto found = S().deniedFiles.find(path);
    if (found != S().deniedFiles.end()) denied = found->second;
  }
  if ((asked & denied) == 0) return kRuleCount;
  // The backup privilege grants reading whatever the access list says; nothing else.
  constexpr ACCESS_MASK kBackupGrants = READ_CONTROL | ACCESS_SYSTEM_SECURITY | FILE_GENERIC_READ | FILE_TRAVERSE;
  if (backupIntent && BackupPrivilegeEnabled() && (asked & denied & ~kBackupGrants) == 0) return kRuleCount;
  return kFileAccessList;
}

// --- The decorators -----------------------------------------------------------------

BOOL WINAPI CheckedCloseHandle(HANDLE handle) {
  Record record;
  bool known;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    const auto found = S().handles.find(handle);
    known = found != S().handles.end();
    if (known) {
      record = found->second;
      S().handles.erase(found);
    }
  }
  // The name this handle set to be deleted goes once the last handle opened through that
  // name is closed (on NTFS a deletion is of one link, another name of the file stays), as
  // far as the handles the door opened tell. No recorded handle closes while the lock is
  // held: a close takes its record out under it first.
  if (known && record.marked) {
    std::lock_guard<std::mutex> lock(S().mutex);
    bool stillOpen = false;
    for (const auto& [other, otherRecord] : S().handles)
      stillOpen |=
          otherRecord.kind == Kind::kFile && otherRecord.index == record.index && FinalPathOf(other) == record.path;
    for (auto at = S().pending.begin(); !stillOpen && at != S().pending.end();)
      at = at->second.QuadPart == record.index ? S().pending.erase(at) : std::next(at);
  }
  return Real().CloseHandle(handle);
}

BOOL WINAPI CheckedDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                                   DWORD access, BOOL inherit, DWORD options) {
  Record record;
  const bool known = Find(source, record);
  const BOOL done = Real().DuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit, options);
  if (done && known && targetProcess == GetCurrentProcess() && target) {
    if (!(options & DUPLICATE_SAME_ACCESS)) record.granted = MapFileAccess(access);
    record.marked = false;
    Remember(*target, record);
  }
  return done;
}

HANDLE WINAPI CheckedCreateFileW(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) {
  const DWORD attributes = Real().GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
    ++gChecked;
    Refuse(kDirectoryWithoutBackupSemantics, Narrow(path));
    SetLastError(kRules[kDirectoryWithoutBackupSemantics].error);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle = Real().CreateFileW(path, access, share, security, disposition, flags, templateFile);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  // CreateFileW asks for these two besides what it is given.
  Record record;
  record.granted = MapFileAccess(access) | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
  record.index = IndexOf(handle).QuadPart;
  const RuleId refused = CheckOpened(handle, record.granted, (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0, record.path);
  if (refused != kRuleCount) {
    Real().CloseHandle(handle);
    Refuse(refused, Narrow(path));
    SetLastError(kRules[refused].error);
    return INVALID_HANDLE_VALUE;
  }
  Remember(handle, record);
  return handle;
}

win::os::NtStatus NTAPI CheckedNtCreateFile(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* objectAttributes,
                                            IO_STATUS_BLOCK* io, LARGE_INTEGER* allocation, ULONG fileAttributes,
                                            ULONG share, ULONG disposition, ULONG options, void* ea, ULONG eaLength) {
  const win::os::NtStatus status = Real().NtCreateFile(handle, access, objectAttributes, io, allocation, fileAttributes,
                                                       share, disposition, options, ea, eaLength);
  if (status < 0 || !handle || !*handle) return status;
  // NtCreateFile grants exactly what it is asked for.
  Record record;
  record.granted = MapFileAccess(access);
  record.index = IndexOf(*handle).QuadPart;
  constexpr ULONG kOpenForBackupIntent = 0x4000;
  const RuleId refused = CheckOpened(*handle, record.granted, (options & kOpenForBackupIntent) != 0, record.path);
  if (refused != kRuleCount) {
    Real().CloseHandle(*handle);
    *handle = nullptr;
    std::wstring name;
    if (objectAttributes && objectAttributes->ObjectName)
      name.assign(objectAttributes->ObjectName->Buffer, objectAttributes->ObjectName->Length / sizeof(WCHAR));
    Refuse(refused, Narrow(name));
    return kRules[refused].status;
  }
  Remember(*handle, record);
  return status;
}

BOOL WINAPI CheckedReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* read, OVERLAPPED* overlapped) {
  return Allows(file, kRead) ? Real().ReadFile(file, buffer, bytes, read, overlapped) : RefusedWin32(kRead);
}

BOOL WINAPI CheckedWriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* written, OVERLAPPED* overlapped) {
  return Allows(file, kWrite) ? Real().WriteFile(file, buffer, bytes, written, overlapped) : RefusedWin32(kWrite);
}

BOOL WINAPI CheckedFlushFileBuffers(HANDLE file) {
  return Allows(file, kFlush) ? Real().FlushFileBuffers(file) : RefusedWin32(kFlush);
}

// The rule of a query by its FILE_INFO_BY_HANDLE_CLASS; kRuleCount for a class that needs
// no right (FileStandardInfo, FileNameInfo, FileIdInfo, ...).
RuleId QueryRule(FILE_INFO_BY_HANDLE_CLASS kind) {
  switch (static_cast<int>(kind)) {
    case FileBasicInfo:
    case FileAttributeTagInfo:
      return kQueryAttributes;
    case FileIdBothDirectoryInfo:
    case FileIdBothDirectoryRestartInfo:
    case 0x13:  // FileIdExtdDirectoryInfo
    case 0x14:  // FileIdExtdDirectoryRestartInfo
      return kListDirectory;
    default:
      return kRuleCount;
  }
}

BOOL WINAPI CheckedGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer,
                                                DWORD bytes) {
  const RuleId rule = QueryRule(kind);
  if (rule != kRuleCount && !Allows(file, rule)) return RefusedWin32(rule);
  return Real().GetFileInformationByHandleEx(file, kind, buffer, bytes);
}

BOOL WINAPI CheckedGetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  return Allows(file, kQueryAll) ? Real().GetFileInformationByHandle(file, information) : RefusedWin32(kQueryAll);
}

// A disposition through either call: the right, a read-only file, and the bookkeeping of
// what is pending. Returns the rule that refuses it, or kRuleCount.
RuleId CheckDisposition(HANDLE file, bool deleteIt) {
  if (!Allows(file, kDisposition)) return kDisposition;
  Record record;
  if (!deleteIt || !Find(file, record)) return kRuleCount;
  FILE_BASIC_INFO basic{};
  if (Real().GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    Refuse(kDispositionReadOnly, Narrow(FinalPathOf(file)));
    return kDispositionReadOnly;
  }
  return kRuleCount;
}

void NoteDisposition(HANDLE file, bool deleteIt) {
  Record record;
  if (!Find(file, record)) return;
  const std::wstring path = FinalPathOf(file);
  const LARGE_INTEGER index = IndexOf(file);
  std::lock_guard<std::mutex> lock(S().mutex);
  if (deleteIt) {
    S().pending[path] = index;
  } else {
    S().pending.erase(path);
  }
  const auto found = S().handles.find(file);
  if (found != S().handles.end()) {
    found->second.marked = deleteIt;
    found->second.path = path;
  }
}

// A rename: the right on the source, and a source whose deletion is pending.
RuleId CheckRename(HANDLE file) {
  if (!Allows(file, kRename)) return kRename;
  Record record;
  if (!Find(file, record)) return kRuleCount;
  bool pending;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    pending = !S().pending.empty();
  }
  if (!pending) return kRuleCount;
  const std::wstring path = FinalPathOf(file);
  std::lock_guard<std::mutex> lock(S().mutex);
  const auto found = S().pending.find(path);
  if (found == S().pending.end()) return kRuleCount;
  return kRenameDeletePending;
}

BOOL WINAPI CheckedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer, DWORD bytes) {
  switch (kind) {
    case FileBasicInfo:
      if (!Allows(file, kSetBasic)) return RefusedWin32(kSetBasic);
      break;
    case FileDispositionInfo: {
      const bool deleteIt = static_cast<const FILE_DISPOSITION_INFO*>(buffer)->DeleteFile != FALSE;
      const RuleId refused = CheckDisposition(file, deleteIt);
      if (refused != kRuleCount) return RefusedWin32(refused);
      const BOOL done = Real().SetFileInformationByHandle(file, kind, buffer, bytes);
      if (done) NoteDisposition(file, deleteIt);
      return done;
    }
    case FileRenameInfo: {
      const RuleId refused = CheckRename(file);
      if (refused != kRuleCount) {
        if (refused == kRenameDeletePending) Refuse(refused, "");
        return RefusedWin32(refused);
      }
      break;
    }
    default:
      break;
  }
  return Real().SetFileInformationByHandle(file, kind, buffer, bytes);
}

win::os::NtStatus NTAPI CheckedNtQueryInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG bytes,
                                                      ULONG kind) {
  // FileBasicInformation, FileAllInformation, FileNetworkOpenInformation, FileAttributeTagInformation.
  const RuleId rule = kind == 4 || kind == 34 || kind == 35 ? kQueryAttributes : kind == 18 ? kQueryAll : kRuleCount;
  if (rule != kRuleCount && !Allows(file, rule)) return kRules[rule].status;
  return Real().NtQueryInformationFile(file, io, buffer, bytes, kind);
}

win::os::NtStatus NTAPI CheckedNtSetInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG bytes,
                                                    ULONG kind) {
  if (kind == 4 && !Allows(file, kSetBasic)) return kRules[kSetBasic].status;
  if (kind == 13) {  // FileDispositionInformation
    const bool deleteIt = *static_cast<const BOOLEAN*>(buffer) != 0;
    const RuleId refused = CheckDisposition(file, deleteIt);
    if (refused != kRuleCount) return kRules[refused].status;
    const win::os::NtStatus status = Real().NtSetInformationFile(file, io, buffer, bytes, kind);
    if (status >= 0) NoteDisposition(file, deleteIt);
    return status;
  }
  if (kind == 10 || kind == 65) {  // FileRenameInformation(Ex)
    const RuleId refused = CheckRename(file);
    if (refused != kRuleCount) {
      if (refused == kRenameDeletePending) Refuse(refused, "");
      return kRules[refused].status;
    }
  }
  return Real().NtSetInformationFile(file, io, buffer, bytes, kind);
}

BOOL WINAPI CheckedDeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                                   DWORD* returned, OVERLAPPED* overlapped) {
  const DWORD required = (code >> 14) & 3;
  if ((required & FILE_READ_ACCESS) && !Allows(device, kIoctlRead)) return RefusedWin32(kIoctlRead);
  if ((required & FILE_WRITE_ACCESS) && !Allows(device, kIoctlWrite)) return RefusedWin32(kIoctlWrite);
  return Real().DeviceIoControl(device, code, in, inBytes, out, outBytes, returned, overlapped);
}

BOOL WINAPI CheckedGetKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor,
                                           DWORD bytes, DWORD* needed) {
  if ((what & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
               LABEL_SECURITY_INFORMATION)) &&
      !Allows(handle, kReadSecurity))
    return RefusedWin32(kReadSecurity);
  if ((what & SACL_SECURITY_INFORMATION) && !Allows(handle, kReadSacl)) return RefusedWin32(kReadSacl);
  return Real().GetKernelObjectSecurity(handle, what, descriptor, bytes, needed);
}

BOOL WINAPI CheckedSetKernelObjectSecurity(HANDLE handle, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
  if ((what & DACL_SECURITY_INFORMATION) && !Allows(handle, kWriteDacl)) return RefusedWin32(kWriteDacl);
  if ((what & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) && !Allows(handle, kWriteOwner))
    return RefusedWin32(kWriteOwner);
  if ((what & SACL_SECURITY_INFORMATION) && !Allows(handle, kReadSacl)) return RefusedWin32(kReadSacl);
  return Real().SetKernelObjectSecurity(handle, what, descriptor);
}

HANDLE WINAPI CheckedOpenProcess(DWORD access, BOOL inherit, DWORD processId) {
  ACCESS_MASK limit = PROCESS_ALL_ACCESS;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    const auto found = S().limitedProcesses.find(processId);
    if (found != S().limitedProcesses.end()) limit = found->second;
  }
  if (limit != PROCESS_ALL_ACCESS) {
    ++gChecked;
    if (access & ~limit) {
      char detail[96];
      std::snprintf(detail, sizeof detail, "process %lu asked for 0x%08lX, grants 0x%08lX",
                    static_cast<unsigned long>(processId), static_cast<unsigned long>(access),
                    static_cast<unsigned long>(limit));
      Refuse(kProcessAccessList, detail);
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  const HANDLE process = Real().OpenProcess(access, inherit, processId);
  if (process) {
    Record record;
    record.kind = Kind::kProcess;
    // Full query access takes in the limited one.
    record.granted = access | ((access & PROCESS_QUERY_INFORMATION) ? PROCESS_QUERY_LIMITED_INFORMATION : 0);
    record.processId = processId;
    Remember(process, record);
  }
  return process;
}

BOOL WINAPI CheckedQueryFullProcessImageNameW(HANDLE process, DWORD flags, wchar_t* path, DWORD* chars) {
  return Allows(process, kProcessQuery) ? Real().QueryFullProcessImageNameW(process, flags, path, chars)
                                        : RefusedWin32(kProcessQuery);
}

// By the id it was opened by: a handle that may only terminate can't be asked for it.
bool Critical(HANDLE process) {
  Record record;
  if (!Find(process, record)) return false;
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().criticalProcesses.count(record.processId) != 0;
}

BOOL WINAPI CheckedIsProcessCritical(HANDLE process, BOOL* critical) {
  if (!Allows(process, kProcessQuery)) return RefusedWin32(kProcessQuery);
  if (Critical(process)) {
    *critical = TRUE;
    return TRUE;
  }
  return Real().IsProcessCritical(process, critical);
}

BOOL WINAPI CheckedTerminateProcess(HANDLE process, UINT exitCode) {
  if (!Allows(process, kProcessTerminate)) return RefusedWin32(kProcessTerminate);
  if (Critical(process)) {
    ++gChecked;
    Refuse(kTerminateCritical, "");
    return RefusedWin32(kTerminateCritical);
  }
  return Real().TerminateProcess(process, exitCode);
}

BOOL WINAPI CheckedOpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  const BOOL opened = Real().OpenProcessToken(process, access, token);
  if (opened) {
    Record record;
    record.kind = Kind::kToken;
    record.granted = access;
    Remember(*token, record);
  }
  return opened;
}

BOOL WINAPI CheckedAdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* state, DWORD bytes,
                                         TOKEN_PRIVILEGES* previous, DWORD* returned) {
  if (!Allows(token, kTokenAdjust)) return RefusedWin32(kTokenAdjust);
  if (previous && !Allows(token, kTokenQuery)) return RefusedWin32(kTokenQuery);
  return Real().AdjustTokenPrivileges(token, disableAll, state, bytes, previous, returned);
}

// The path below HKLM of a key opened relative to `parent`; empty when it isn't known.
std::wstring KeyPath(HKEY parent, const wchar_t* name) {
  std::wstring base;
  if (parent != HKEY_LOCAL_MACHINE) {
    Record record;
    if (!Find(reinterpret_cast<HANDLE>(parent), record) || record.path.empty()) return {};
    base = record.path + L"\\";
  }
  return Upper(base + (name ? name : L""));
}

// The registry's open and create: the key's access list, then a record of the handle.
LSTATUS OpenedKey(HKEY parent, const wchar_t* name, REGSAM access, const std::function<LSTATUS()>& open, HKEY* key) {
  const REGSAM asked = access & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
  const std::wstring path = KeyPath(parent, name);
  ACCESS_MASK denied = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    const auto found = S().deniedKeys.find(path);
    if (found != S().deniedKeys.end()) denied = found->second;
  }
  if (denied) {
    ++gChecked;
    const ACCESS_MASK mapped = (asked & MAXIMUM_ALLOWED) ? (KEY_ALL_ACCESS & ~denied) : asked;
    if (mapped & denied) {
      Refuse(kKeyAccessList, "HKLM\\" + Narrow(path));
      return ERROR_ACCESS_DENIED;
    }
  }
  const LSTATUS status = open();
  if (status == ERROR_SUCCESS) {
    Record record;
    record.kind = Kind::kKey;
    record.granted = asked;
    record.path = path;
    Remember(reinterpret_cast<HANDLE>(*key), record);
  }
  return status;
}

LSTATUS WINAPI CheckedRegOpenKeyExW(HKEY parent, const wchar_t* name, DWORD options, REGSAM access, HKEY* key) {
  return OpenedKey(
      parent, name, access, [&] { return Real().RegOpenKeyExW(parent, name, options, access, key); }, key);
}

LSTATUS WINAPI CheckedRegCreateKeyExW(HKEY parent, const wchar_t* name, DWORD reserved, wchar_t* className,
                                      DWORD options, REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* key,
                                      DWORD* disposition) {
  return OpenedKey(
      parent, name, access,
      [&] {
        return Real().RegCreateKeyExW(parent, name, reserved, className, options, access, security, key, disposition);
      },
      key);
}

LSTATUS WINAPI CheckedRegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                                       DWORD* bytes) {
  if (!Allows(reinterpret_cast<HANDLE>(key), kRegistryQuery)) return ERROR_ACCESS_DENIED;
  return Real().RegQueryValueExW(key, name, reserved, type, data, bytes);
}

LSTATUS WINAPI CheckedRegSetValueExW(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data,
                                     DWORD bytes) {
  if (!Allows(reinterpret_cast<HANDLE>(key), kRegistrySet)) return ERROR_ACCESS_DENIED;
  return Real().RegSetValueExW(key, name, reserved, type, data, bytes);
}

LSTATUS WINAPI CheckedRegCloseKey(HKEY key) {
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().handles.erase(reinterpret_cast<HANDLE>(key));
  }
  return Real().RegCloseKey(key);
}

}  // namespace

bool BackupPrivilegeOn() { return BackupPrivilegeEnabled(); }

ACCESS_MASK MapFileAccess(ACCESS_MASK access) {
  ACCESS_MASK mapped = access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | MAXIMUM_ALLOWED);
  if (access & GENERIC_READ) mapped |= FILE_GENERIC_READ;
  if (access & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
  if (access & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
  if (access & (GENERIC_ALL | MAXIMUM_ALLOWED)) mapped |= FILE_ALL_ACCESS;
  return mapped;
}

void Install(std::function<void(RuleId, const std::string&)> onRefusal) {
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().onRefusal = std::move(onRefusal);
  }
  if (gInstalled.exchange(true)) return;
  win::os::Calls& table = win::os::Table();
  table.CloseHandle = &CheckedCloseHandle;
  table.DuplicateHandle = &CheckedDuplicateHandle;
  table.CreateFileW = &CheckedCreateFileW;
  table.NtCreateFile = &CheckedNtCreateFile;
  table.ReadFile = &CheckedReadFile;
  table.WriteFile = &CheckedWriteFile;
  table.FlushFileBuffers = &CheckedFlushFileBuffers;
  table.GetFileInformationByHandleEx = &CheckedGetFileInformationByHandleEx;
  table.GetFileInformationByHandle = &CheckedGetFileInformationByHandle;
  table.SetFileInformationByHandle = &CheckedSetFileInformationByHandle;
  table.NtQueryInformationFile = &CheckedNtQueryInformationFile;
  table.NtSetInformationFile = &CheckedNtSetInformationFile;
  table.DeviceIoControl = &CheckedDeviceIoControl;
  table.GetKernelObjectSecurity = &CheckedGetKernelObjectSecurity;
  table.SetKernelObjectSecurity = &CheckedSetKernelObjectSecurity;
  table.OpenProcess = &CheckedOpenProcess;
  table.QueryFullProcessImageNameW = &CheckedQueryFullProcessImageNameW;
  table.IsProcessCritical = &CheckedIsProcessCritical;
  table.TerminateProcess = &CheckedTerminateProcess;
  table.OpenProcessToken = &CheckedOpenProcessToken;
  table.AdjustTokenPrivileges = &CheckedAdjustTokenPrivileges;
  table.RegOpenKeyExW = &CheckedRegOpenKeyExW;
  table.RegCreateKeyExW = &CheckedRegCreateKeyExW;
  table.RegQueryValueExW = &CheckedRegQueryValueExW;
  table.RegSetValueExW = &CheckedRegSetValueExW;
  table.RegCloseKey = &CheckedRegCloseKey;
}

bool Installed() { return gInstalled.load(); }
long CallsChecked() { return gChecked.load(); }
long CallsRefused() { return gRefused.load(); }

std::string Summary() {
  return "Windows rules: " + std::to_string(CallsChecked()) + " calls checked, " + std::to_string(CallsRefused()) +
         " refused";
}

void DenyFile(const std::wstring& path, ACCESS_MASK denied) {
  const HANDLE file = Real().CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::wstring finalPath = FinalPathOf(file);
  Real().CloseHandle(file);
  std::lock_guard<std::mutex> lock(S().mutex);
  S().deniedFiles[finalPath] |= MapFileAccess(denied);
}

void DenyKey(const std::wstring& subKey, REGSAM denied) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().deniedKeys[Upper(subKey)] |= denied;
}

void LimitProcess(DWORD processId, ACCESS_MASK granted) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().limitedProcesses[processId] = granted;
}

void MakeCritical(DWORD processId) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().criticalProcesses.insert(processId);
}

void ClearModels() {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().deniedFiles.clear();
  S().deniedKeys.clear();
  S().limitedProcesses.clear();
  S().criticalProcesses.clear();
}

}  // namespace rules
