#include "engine/held_directory.h"

#include <winternl.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace engine {

namespace {

// The native calls that open a name relative to a directory handle and rename a file by
// its handle. Win32 has neither; ntdll is in every process, so nothing is imported.
using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                    ULONG, ULONG, ULONG, PVOID, ULONG);
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using NtQueryObjectFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtQueryInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

struct Native {
  NtCreateFileFn createFile = nullptr;
  NtSetInformationFileFn setInformation = nullptr;
  NtQueryObjectFn queryObject = nullptr;
  NtQueryInformationFileFn queryInformation = nullptr;
};

const Native& NativeCalls() {
  static const Native native = [] {
    Native n;
    if (const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll")) {
      // Through void*: GetProcAddress's type says nothing of the function's real one.
      n.createFile = reinterpret_cast<NtCreateFileFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
      n.setInformation = reinterpret_cast<NtSetInformationFileFn>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
      n.queryObject =
          reinterpret_cast<NtQueryObjectFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
      n.queryInformation = reinterpret_cast<NtQueryInformationFileFn>(
          reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")));
    }
    return n;
  }();
  return native;
}

// NtCreateFile's dispositions and options, as the native headers spell them.
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileSynchronousIoNonalert = 0x20;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileInternalInformation = 6;

// FILE_RENAME_INFORMATION with room for a name.
struct RenameInformation {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[1];
};

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

}  // namespace

bool FactsOf(HANDLE file, FileFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return false;
  facts.id.volume = info.dwVolumeSerialNumber;
  facts.id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  facts.attributes = info.dwFileAttributes;
  facts.links = info.nNumberOfLinks;
  return true;
}

std::wstring LongPath(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring DisplayPath(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

std::wstring FinalPath(HANDLE file) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetFinalPathNameByHandleW(file, buffer, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length > 0 && length < MAX_PATH) return std::wstring(buffer, length);
  if (length >= MAX_PATH) {
    // Longer than MAX_PATH: the length asked for includes the NUL.
    std::wstring path(length, L'\0');
    const DWORD again = GetFinalPathNameByHandleW(file, &path[0], length, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (again > 0 && again < length) {
      path.resize(again);
      return path;
    }
  }
  // Wine's GetFinalPathNameByHandleW gives up beyond MAX_PATH; the object's name, which
  // Wine gives as "\??\C:\...", says the same.
  const Native& native = NativeCalls();
  if (!native.queryObject) return {};
  constexpr ULONG kNameBytes = 0x10000 + sizeof(UNICODE_STRING);
  std::unique_ptr<uint64_t[]> storage(new (std::nothrow) uint64_t[kNameBytes / sizeof(uint64_t)]);
  ULONG returned = 0;
  if (!storage || native.queryObject(file, 1 /* ObjectNameInformation */, storage.get(), kNameBytes, &returned) < 0)
    return {};
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(storage.get());
  const std::wstring path(name->Buffer, name->Length / sizeof(WCHAR));
  if (path.compare(0, 4, L"\\??\\") != 0) return {};
  return L"\\\\?\\" + path.substr(4);
}

bool SetNormalAttributes(HANDLE file) {
  FILE_BASIC_INFO basic{};  // zero times: left as they are
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

bool HeldDirectory::Open(const std::wstring& path) {
  handle_.reset(CreateFileW(LongPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle_) return false;
  // Its attributes and its index, without its volume's serial number: that costs Wine about
  // a millisecond a directory, and a walk that enters no mount point stays on one volume.
  const Native& native = NativeCalls();
  FILE_BASIC_INFO basic{};
  LARGE_INTEGER index{};
  IO_STATUS_BLOCK io{};
  if (!native.queryInformation || !GetFileInformationByHandleEx(handle_.get(), FileBasicInfo, &basic, sizeof basic) ||
      native.queryInformation(handle_.get(), &io, &index, sizeof index, kFileInternalInformation) < 0)
    return false;
  facts_ = FileFacts{};
  facts_.attributes = basic.FileAttributes;
  facts_.id.index = static_cast<uint64_t>(index.QuadPart);
  if ((facts_.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (facts_.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  finalPath_ = FinalPath(handle_.get());
  while (!finalPath_.empty() && finalPath_.back() == L'\\') finalPath_.pop_back();
  return !finalPath_.empty();
}

bool HeldDirectory::List(const std::function<bool(const DirectoryEntry&)>& onEntry) const {
  // 64 KiB of entries per call; aligned as the records inside it need.
  constexpr size_t kBufferBytes = 64 * 1024;
  std::unique_ptr<uint64_t[]> buffer(new (std::nothrow) uint64_t[kBufferBytes / sizeof(uint64_t)]);
  if (!buffer) return false;
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  DirectoryEntry entry;
  for (;;) {
    if (!GetFileInformationByHandleEx(handle_.get(), kind, buffer.get(), kBufferBytes))
      return GetLastError() == ERROR_NO_MORE_FILES;
    kind = FileIdBothDirectoryInfo;
    const auto* bytes = reinterpret_cast<const BYTE*>(buffer.get());
    for (size_t at = 0;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
      entry.name.assign(record->FileName, record->FileNameLength / sizeof(WCHAR));
      entry.attributes = record->FileAttributes;
      entry.fileIndex = static_cast<uint64_t>(record->FileId.QuadPart);
      if (entry.name != L"." && entry.name != L".." && !onEntry(entry)) return true;
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
      if (at >= kBufferBytes) break;
    }
  }
}

win::FileHandle HeldDirectory::OpenFile(const std::wstring& name, ACCESS_MASK access, ULONG share, long* status,
                                        bool create) const {
  const Native& native = NativeCalls();
  if (status) *status = -1;
  if (!native.createFile || name.empty() || name.size() * sizeof(WCHAR) > 0xFFFE) return win::FileHandle();
  UNICODE_STRING unicodeName;
  unicodeName.Buffer = const_cast<PWSTR>(name.c_str());
  unicodeName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  unicodeName.MaximumLength = unicodeName.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, handle_.get(), nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE file = nullptr;
  const LONG result =
      native.createFile(&file, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                        create ? kFileCreate : kFileOpen,
                        kFileSynchronousIoNonalert | kFileNonDirectoryFile | kFileOpenReparsePoint, nullptr, 0);
  if (status) *status = result;
  if (result < 0 || !file) return win::FileHandle();
  return win::FileHandle(file);
}

bool HeldDirectory::Holds(HANDLE file, const std::wstring& name) const {
  const std::wstring actual = FinalPath(file);
  return !actual.empty() && SameIgnoringCase(actual, finalPath_ + L"\\" + name);
}

bool HeldDirectory::MoveInto(HANDLE file, const std::wstring& name, bool replace) const {
  const Native& native = NativeCalls();
  if (!native.setInformation || name.empty()) return false;
  const size_t bytes = sizeof(RenameInformation) + name.size() * sizeof(WCHAR);
  std::unique_ptr<uint64_t[]> storage(new (std::nothrow) uint64_t[bytes / sizeof(uint64_t) + 1]);
  if (!storage) return false;
  auto* info = reinterpret_cast<RenameInformation*>(storage.get());
  info->replaceIfExists = replace ? TRUE : FALSE;
  // The new name is taken relative to this directory's handle, not to any path.
  info->rootDirectory = handle_.get();
  info->fileNameLength = static_cast<ULONG>(name.size() * sizeof(WCHAR));
  std::memcpy(info->fileName, name.data(), info->fileNameLength);
  IO_STATUS_BLOCK io{};
  return native.setInformation(file, &io, info, static_cast<ULONG>(bytes), kFileRenameInformation) >= 0;
}

}  // namespace engine
