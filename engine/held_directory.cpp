#include "engine/held_directory.h"

#include <winternl.h>
#include <ntsecapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/entry_rules.h"

namespace engine {

namespace {

// NtCreateFile's dispositions and options, as the native headers spell them.
constexpr ULONG kFileOpen = 1;
constexpr ULONG kFileCreate = 2;
constexpr ULONG kFileDirectoryFile = 0x1;
constexpr ULONG kFileSynchronousIoNonalert = 0x20;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileCompleteIfOplocked = 0x100;
constexpr ULONG kFileOpenForBackupIntent = 0x4000;

// Windows 8's full file ids and extended listing, declared here since the program is built
// for Windows 7, which answers these classes with an error.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(0x12);
constexpr auto kFileIdExtdDirectoryInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(0x13);
constexpr auto kFileIdExtdDirectoryRestartInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(0x14);

// FILE_ID_INFO
struct FullIdInfo {
  ULONGLONG volumeSerialNumber;
  BYTE identifier[16];
};

// FILE_ID_EXTD_DIR_INFO
struct ExtdDirInfo {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  LARGE_INTEGER creationTime;
  LARGE_INTEGER lastAccessTime;
  LARGE_INTEGER lastWriteTime;
  LARGE_INTEGER changeTime;
  LARGE_INTEGER endOfFile;
  LARGE_INTEGER allocationSize;
  ULONG fileAttributes;
  ULONG fileNameLength;
  ULONG eaSize;
  ULONG reparsePointTag;
  BYTE fileId[16];
  WCHAR fileName[1];
};

// A full id's 16 bytes as the two halves of FileId.
void SplitId(const BYTE* identifier, FileId& id) {
  std::memcpy(&id.low, identifier, sizeof id.low);
  std::memcpy(&id.high, identifier + sizeof id.low, sizeof id.high);
}
constexpr ULONG kFileOpenReparsePoint = 0x00200000;
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileRenameInformationEx = 65;
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kFileInternalInformation = 6;
constexpr ULONG kFileFsFullSizeInformation = 7;

// FILE_FS_FULL_SIZE_INFORMATION: the volume's size and what this caller may still use of
// it, quotas included.
struct FullSizeInformation {
  LARGE_INTEGER totalUnits;
  LARGE_INTEGER callerAvailableUnits;
  LARGE_INTEGER actualAvailableUnits;
  ULONG sectorsPerUnit;
  ULONG bytesPerSector;
};

// What NtCreateFile answers in the cases told apart.
constexpr LONG kStatusOplockBreakInProgress = 0x00000108;
constexpr LONG kStatusNameNotFound = static_cast<LONG>(0xC0000034L);
constexpr LONG kStatusPathNotFound = static_cast<LONG>(0xC000003AL);
constexpr LONG kStatusSharingViolation = static_cast<LONG>(0xC0000043L);
// What a system or a file system answers for a rename class or flag it doesn't have.
constexpr LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002L);
constexpr LONG kStatusInvalidInfoClass = static_cast<LONG>(0xC0000003L);
constexpr LONG kStatusInvalidParameter = static_cast<LONG>(0xC000000DL);
constexpr LONG kStatusNotSupported = static_cast<LONG>(0xC00000BBL);

// FILE_RENAME_INFORMATION_EX with room for a name; its flags overlay the older structure's
// ReplaceIfExists.
struct RenameInformation {
  ULONG flags;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[1];
};

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Opens `name` relative to the directory `root` with the native call. The status is the
// call's own; a handle comes back only when it succeeded, which includes the case of an
// opportunistic lock whose break has only begun.
LONG CreateRelative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                    ULONG options, win::FileHandle& out) {
  if (name.empty() || name.size() * sizeof(WCHAR) > 0xFFFE) return kStatusNameNotFound;
  UNICODE_STRING unicodeName;
  unicodeName.Buffer = const_cast<PWSTR>(name.c_str());
  unicodeName.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  unicodeName.MaximumLength = unicodeName.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, root, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  // NtCreateFile grants exactly what it is asked for, where CreateFileW adds SYNCHRONIZE and
  // FILE_READ_ATTRIBUTES: every handle here is asked for its facts (FileAttributeTagInfo,
  // FileBasicInfo), which Windows answers only with FILE_READ_ATTRIBUTES.
  const LONG status = win::os::NtCreateFile(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io,
                                            nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                                            options | kFileSynchronousIoNonalert, nullptr, 0);
  if (status >= 0 && handle) out.reset(handle);
  return status;
}

}  // namespace

bool SplitAtRoot(const std::wstring& path, std::wstring& root, std::vector<std::wstring>& names) {
  size_t at = 0;
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    const size_t server = path.find(L'\\', 8);
    if (server == std::wstring::npos || server == 8) return false;
    size_t share = path.find(L'\\', server + 1);
    if (share == std::wstring::npos) share = path.size();
    if (share == server + 1) return false;
    root = path.substr(0, share) + L'\\';
    at = share + 1;
  } else if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() >= 6 && path[5] == L':' &&
             (path.size() == 6 || path[6] == L'\\')) {
    at = path.size() == 6 ? 6 : 7;
    root = path.substr(0, 6) + L"\\";
  } else {
    return false;
  }
  names.clear();
  while (at < path.size()) {
    size_t end = path.find(L'\\', at);
    if (end == std::wstring::npos) end = path.size();
    if (end > at) {
      std::wstring name = path.substr(at, end - at);
      if (name == L"." || name == L"..") return false;
      names.push_back(std::move(name));
    }
    at = end + 1;
  }
  return true;
}

OpenResult ClassifyOpen(long status, DWORD fileType) {
  // STATUS_OPLOCK_BREAK_IN_PROGRESS is a success: the handle is there, but the lock's
  // owner hasn't let go yet, and whatever we did next could wait for it.
  if (status == kStatusOplockBreakInProgress) return OpenResult::kLockBreaking;
  if (status == kStatusNameNotFound || status == kStatusPathNotFound) return OpenResult::kNoSuchFile;
  if (status == kStatusSharingViolation) return OpenResult::kInUse;
  if (status < 0) return OpenResult::kRefused;
  return fileType == FILE_TYPE_DISK ? OpenResult::kOpened : OpenResult::kNotDiskFile;
}

bool FileFacts::plain() const {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || ClassifyEntry(attributes, reparseTag) == EntryKind::kTest;
}

bool FactsOf(HANDLE file, FileFacts& facts) {
  FILE_STANDARD_INFO standard{};
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!win::os::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
      !win::os::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag))
    return false;
  facts.id = FileId{};
  FullIdInfo id{};
  if (win::os::GetFileInformationByHandleEx(file, kFileIdInfo, &id, sizeof id)) {
    facts.id.volume = id.volumeSerialNumber;
    SplitId(id.identifier, facts.id);
  }
  // Windows 7 has no full ids, and a file system without them answers with id 0; the
  // 64-bit index is then the id, and where that too is 0 the file has none.
  if (!facts.id.known()) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!win::os::GetFileInformationByHandle(file, &info)) return false;
    facts.id.volume = info.dwVolumeSerialNumber;
    facts.id.low = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.id.high = 0;
  }
  facts.attributes = tag.FileAttributes;
  facts.reparseTag = tag.ReparseTag;
  facts.links = standard.NumberOfLinks;
  return true;
}

std::wstring LongPath(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  const DWORD needed = win::os::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = win::os::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring LongNamesPath(const std::wstring& path) {
  const std::wstring full = LongPath(path);
  if (full.compare(0, 4, L"\\\\?\\") != 0) return full;
  // Wine lengthens the names of a path only without the "\\?\" prefix, which Windows needs
  // only for a path longer than MAX_PATH.
  const bool unc = full.compare(0, 8, L"\\\\?\\UNC\\") == 0;
  std::wstring asked = unc ? L"\\\\" + full.substr(8) : full.substr(4);
  if (asked.size() >= MAX_PATH) asked = full;
  const DWORD needed = win::os::GetLongPathNameW(asked.c_str(), nullptr, 0);
  if (needed == 0) return full;
  std::wstring longNames(needed, L'\0');
  const DWORD length = win::os::GetLongPathNameW(asked.c_str(), &longNames[0], needed);
  if (length == 0 || length >= needed) return full;
  longNames.resize(length);
  return LongPath(longNames);
}

std::wstring FinalPath(HANDLE file) {
  wchar_t buffer[MAX_PATH];
  const DWORD length =
      win::os::GetFinalPathNameByHandleW(file, buffer, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length > 0 && length < MAX_PATH) return std::wstring(buffer, length);
  if (length >= MAX_PATH) {
    // Longer than MAX_PATH: the length asked for includes the NUL.
    std::wstring path(length, L'\0');
    const DWORD again =
        win::os::GetFinalPathNameByHandleW(file, &path[0], length, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (again > 0 && again < length) {
      path.resize(again);
      return path;
    }
  }
  // Wine's GetFinalPathNameByHandleW gives up beyond MAX_PATH; the object's name, which
  // Wine gives as "\??\C:\...", says the same.
  constexpr ULONG kNameBytes = 0x10000 + sizeof(UNICODE_STRING);
  std::unique_ptr<uint64_t[]> storage(new (std::nothrow) uint64_t[kNameBytes / sizeof(uint64_t)]);
  ULONG returned = 0;
  if (!storage || win::os::NtQueryObject(file, 1 /* ObjectNameInformation */, storage.get(), kNameBytes, &returned) < 0)
    return {};
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(storage.get());
  const std::wstring path(name->Buffer, name->Length / sizeof(WCHAR));
  if (path.compare(0, 4, L"\\??\\") != 0) return {};
  return L"\\\\?\\" + path.substr(4);
}

bool SetNormalAttributes(HANDLE file) {
  FILE_BASIC_INFO basic{};  // zero times: left as they are
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return win::os::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool MarkForDeletion(HANDLE file, bool deleteIt) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleteIt ? TRUE : FALSE;
  return win::os::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

bool HeldDirectory::Open(const std::wstring& path) {
  win::FileHandle handle(
      win::os::CreateFileW(LongPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return handle && Adopt(handle.release());
}

bool HeldDirectory::OpenIn(const HeldDirectory& parent, const std::wstring& name, ACCESS_MASK extraAccess) {
  win::FileHandle handle;
  if (name.find(L'\\') != std::wstring::npos || name == L"." || name == L"..") return false;
  if (CreateRelative(parent.handle(), name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | extraAccess,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen,
                     kFileDirectoryFile | kFileOpenReparsePoint | kFileCompleteIfOplocked |
                         ((extraAccess & ~SYNCHRONIZE) == 0 ? kFileOpenForBackupIntent : 0),
                     handle) != 0 ||
      !handle)
    return false;
  // Under Wine a host link is resolved even so: only where it really is tells.
  return Adopt(handle.release()) && SameIgnoringCase(finalPath_, parent.finalPath() + L"\\" + name);
}

bool HeldDirectory::OpenEveryStep(const std::wstring& path) {
  std::wstring root;
  std::vector<std::wstring> names;
  if (!SplitAtRoot(LongPath(path), root, names) || !Open(root)) return false;
  for (const std::wstring& name : names) {
    HeldDirectory next;
    if (!next.OpenIn(*this, name)) return false;
    *this = std::move(next);
  }
  return true;
}

bool HeldDirectory::ShareOf(const HeldDirectory& other) {
  HANDLE duplicate = nullptr;
  if (!other.handle_ || other.finalPath_.empty() ||
      !win::os::DuplicateHandle(GetCurrentProcess(), other.handle_.get(), GetCurrentProcess(), &duplicate, 0, FALSE,
                                DUPLICATE_SAME_ACCESS))
    return false;
  handle_.reset(duplicate);
  finalPath_ = other.finalPath_;
  facts_ = other.facts_;
  return true;
}

bool HeldDirectory::Adopt(HANDLE raw) {
  handle_.reset(raw);
  // Its attributes and its index, without its volume's serial number: that costs Wine about
  // a millisecond a directory, and a walk that enters no mount point stays on one volume.
  FILE_BASIC_INFO basic{};
  LARGE_INTEGER index{};
  IO_STATUS_BLOCK io{};
  if (!win::os::GetFileInformationByHandleEx(handle_.get(), FileBasicInfo, &basic, sizeof basic) ||
      win::os::NtQueryInformationFile(handle_.get(), &io, &index, sizeof index, kFileInternalInformation) < 0)
    return false;
  facts_ = FileFacts{};
  facts_.attributes = basic.FileAttributes;
  facts_.id.low = static_cast<uint64_t>(index.QuadPart);
  if ((facts_.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  // A reparse point only when its tag, read from the handle, is one of data kept by a
  // filter (a OneDrive folder): a link, junction or mount point is never held.
  if (facts_.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!win::os::GetFileInformationByHandleEx(handle_.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        ClassifyEntry(tag.FileAttributes, tag.ReparseTag) != EntryKind::kWalk)
      return false;
    facts_.reparseTag = tag.ReparseTag;
  }
  finalPath_ = FinalPath(handle_.get());
  while (!finalPath_.empty() && finalPath_.back() == L'\\') finalPath_.pop_back();
  return !finalPath_.empty();
}

bool HeldDirectory::IsListed(const DirectoryEntry& entry) const {
  if (!entry.fullId) return entry.id.low == 0 || entry.id.low == facts_.id.low;
  FullIdInfo info{};
  if (!win::os::GetFileInformationByHandleEx(handle_.get(), kFileIdInfo, &info, sizeof info)) return false;
  FileId id;
  SplitId(info.identifier, id);
  return id.low == entry.id.low && id.high == entry.id.high;
}

bool HeldDirectory::List(const std::function<bool(const DirectoryEntry&)>& onEntry) const {
  // 64 KiB of entries per call; aligned as the records inside it need.
  constexpr size_t kBufferBytes = 64 * 1024;
  std::unique_ptr<uint64_t[]> buffer(new (std::nothrow) uint64_t[kBufferBytes / sizeof(uint64_t)]);
  if (!buffer) return false;
  // The extended listing gives each entry's full id and its reparse tag. Windows before 8,
  // FAT volumes and Wine don't have it: the listing with the 64-bit index stands in, and
  // gives a reparse point's tag in its EaSize.
  bool extended = true;
  bool first = true;
  for (;;) {
    const FILE_INFO_BY_HANDLE_CLASS kind = extended
                                               ? (first ? kFileIdExtdDirectoryRestartInfo : kFileIdExtdDirectoryInfo)
                                               : (first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo);
    if (!win::os::GetFileInformationByHandleEx(handle_.get(), kind, buffer.get(), kBufferBytes)) {
      const DWORD error = GetLastError();
      // A directory without any entry, not even "." and ".." (a volume's empty root), can
      // answer its first query with STATUS_NO_SUCH_FILE rather than STATUS_NO_MORE_FILES.
      const bool noEntries = error == ERROR_NO_MORE_FILES || (first && error == ERROR_FILE_NOT_FOUND);
      if (first && extended && !noEntries) {
        extended = false;
        continue;
      }
      return !first || noEntries;
    }
    first = false;
    if (!ParseListing(reinterpret_cast<const BYTE*>(buffer.get()), kBufferBytes, extended, onEntry)) return true;
  }
}

bool ParseListing(const BYTE* bytes, size_t size, bool extended,
                  const std::function<bool(const DirectoryEntry&)>& onEntry) {
  const size_t head = extended ? offsetof(ExtdDirInfo, fileName) : offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
  DirectoryEntry entry;
  for (size_t at = 0; at < size && size - at >= head;) {
    ULONG next = 0, nameBytes = 0;
    const BYTE* name = nullptr;
    if (extended) {
      ExtdDirInfo record;
      std::memcpy(&record, bytes + at, head);
      nameBytes = record.fileNameLength;
      entry.attributes = record.fileAttributes;
      entry.reparseTag = record.reparsePointTag;
      SplitId(record.fileId, entry.id);
      // A file system without full ids may give 0: then the entry has no id.
      entry.fullId = entry.id.known();
      next = record.nextEntryOffset;
      name = bytes + at + head;
    } else {
      FILE_ID_BOTH_DIR_INFO record;
      std::memcpy(&record, bytes + at, head);
      nameBytes = record.FileNameLength;
      entry.attributes = record.FileAttributes;
      entry.reparseTag = (record.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? record.EaSize : 0;
      entry.id = FileId{};
      entry.id.low = static_cast<uint64_t>(record.FileId.QuadPart);
      entry.fullId = false;
      next = record.NextEntryOffset;
      name = bytes + at + head;
    }
    if (nameBytes > size - at - head) return true;  // a record that runs past the buffer ends it
    entry.name.resize(nameBytes / sizeof(WCHAR));
    std::memcpy(&entry.name[0], name, entry.name.size() * sizeof(WCHAR));
    if (entry.name != L"." && entry.name != L".." && !onEntry(entry)) return false;
    if (next == 0) break;
    at += next;
  }
  return true;
}

win::FileHandle HeldDirectory::OpenFile(const std::wstring& name, ACCESS_MASK access, ULONG share, OpenResult* result,
                                        bool create, bool throughFilter) const {
  OpenResult ignored;
  OpenResult& outcome = result ? *result : ignored;
  win::FileHandle file;
  // Backup intent only where nothing is changed: with the backup privilege it lifts the
  // access checks for reading, and an action keeps the ordinary ones.
  constexpr ACCESS_MASK kChanges = GENERIC_WRITE | GENERIC_ALL | DELETE | WRITE_DAC | WRITE_OWNER | FILE_WRITE_DATA |
                                   FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA;
  const ULONG options = kFileNonDirectoryFile | kFileCompleteIfOplocked | (throughFilter ? 0 : kFileOpenReparsePoint) |
                        ((access & kChanges) == 0 && !create ? kFileOpenForBackupIntent : 0);
  const LONG status =
      CreateRelative(handle_.get(), name, access, share, create ? kFileCreate : kFileOpen, options, file);
  outcome = file ? ClassifyOpen(status, win::os::GetFileType(file.get())) : ClassifyOpen(status < 0 ? status : -1, 0);
  if (outcome != OpenResult::kOpened) file.reset();
  return file;
}

bool HeldDirectory::FreeBytes(uint64_t& bytes) const {
  FullSizeInformation size{};
  IO_STATUS_BLOCK io{};
  if (win::os::NtQueryVolumeInformationFile(handle_.get(), &io, &size, sizeof size, kFileFsFullSizeInformation) < 0)
    return false;
  const uint64_t unitBytes = static_cast<uint64_t>(size.sectorsPerUnit) * size.bytesPerSector;
  const uint64_t units = static_cast<uint64_t>(size.callerAvailableUnits.QuadPart);
  bytes = unitBytes != 0 && units > UINT64_MAX / unitBytes ? UINT64_MAX : units * unitBytes;
  return true;
}

win::FileHandle HeldDirectory::OpenFileData(const std::wstring& name, ACCESS_MASK access, ULONG share,
                                            OpenResult* result) const {
  OpenResult ignored;
  OpenResult& outcome = result ? *result : ignored;
  win::FileHandle file = OpenFile(name, access, share, &outcome);
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!file) return file;
  if (!win::os::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    outcome = OpenResult::kRefused;
    return win::FileHandle();
  }
  switch (ClassifyEntry(tag.FileAttributes, tag.ReparseTag)) {
    case EntryKind::kTest:
      break;
    case EntryKind::kCountOnly:
      outcome = OpenResult::kNotHere;
      return win::FileHandle();
    case EntryKind::kWalk:
    case EntryKind::kLink:
      outcome = OpenResult::kRefused;
      return win::FileHandle();
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return file;
  // Closed first: the second open may ask for what the first one's sharing refuses.
  FileFacts first, second;
  if (!FactsOf(file.get(), first)) {
    outcome = OpenResult::kRefused;
    return win::FileHandle();
  }
  file.reset();
  win::FileHandle data = OpenFile(name, access, share, &outcome, false, /*throughFilter=*/true);
  if (data && (!FactsOf(data.get(), second) || !SameFile(second.id, first.id))) {
    outcome = OpenResult::kRefused;
    data.reset();
  }
  return data;
}

bool HeldDirectory::Holds(HANDLE file, const std::wstring& name) const {
  const std::wstring actual = FinalPath(file);
  return !actual.empty() && SameIgnoringCase(actual, finalPath_ + L"\\" + name);
}

bool HeldDirectory::DeleteAtClose(HANDLE file, const std::wstring& name) const {
  if (!MarkForDeletion(file)) return false;
  if (Holds(file, name)) return true;
  MarkForDeletion(file, false);
  return false;
}

bool HeldDirectory::MoveInto(HANDLE file, const std::wstring& name, bool replace) const {
  if (name.empty()) return false;
  const size_t bytes = sizeof(RenameInformation) + name.size() * sizeof(WCHAR);
  std::unique_ptr<uint64_t[]> storage(new (std::nothrow) uint64_t[bytes / sizeof(uint64_t) + 1]);
  if (!storage) return false;
  auto* info = reinterpret_cast<RenameInformation*>(storage.get());
  // The new name is taken relative to this directory's handle, not to any path.
  info->rootDirectory = handle_.get();
  info->fileNameLength = static_cast<ULONG>(name.size() * sizeof(WCHAR));
  std::memcpy(info->fileName, name.data(), info->fileNameLength);
  IO_STATUS_BLOCK io{};
  if (replace) {
    // A plain replacing rename fails while anyone else has the file it replaces open, be it
    // only an indexer or a virus scanner that shares everything. POSIX semantics (Windows 10
    // 1809 and later, NTFS) replace it all the same: those handles keep the old file.
    info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    const LONG status =
        win::os::NtSetInformationFile(file, &io, info, static_cast<ULONG>(bytes), kFileRenameInformationEx);
    if (!RenameNeedsFallback(status)) return status >= 0;
  }
  info->flags = replace ? TRUE : FALSE;  // FILE_RENAME_INFORMATION's ReplaceIfExists
  return win::os::NtSetInformationFile(file, &io, info, static_cast<ULONG>(bytes), kFileRenameInformation) >= 0;
}

bool RenameNeedsFallback(long status) {
  return status == kStatusInvalidInfoClass || status == kStatusInvalidParameter || status == kStatusNotSupported ||
         status == kStatusNotImplemented;
}

std::wstring UniqueName(const wchar_t* extension) {
  uint64_t random[2] = {};
  if (!RtlGenRandom(random, sizeof random)) {
    // Not expected to fail; the clock and the thread still make it unique, if less secret.
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    random[0] = static_cast<uint64_t>(counter.QuadPart) ^ (GetTickCount64() << 20);
    random[1] = GetCurrentThreadId();
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"~mfk%016llx%016llx%ls", static_cast<unsigned long long>(random[0]),
                static_cast<unsigned long long>(random[1]), extension);
  return name;
}

}  // namespace engine
