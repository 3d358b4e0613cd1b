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
#include "engine/paths.h"

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

// Windows 8's extended listing, declared here since the program is built for Windows 7,
// which answers these classes with an error.
constexpr auto kFileIdExtdDirectoryInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(0x13);
constexpr auto kFileIdExtdDirectoryRestartInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(0x14);

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

constexpr LONG kStatusNameNotFound = static_cast<LONG>(0xC0000034L);
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
  FileId id;
  return FullIdOf(handle_.get(), id) && id.low == entry.id.low && id.high == entry.id.high;
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
      entry.id = FileIdFromBytes(record.fileId);
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

TestedFile HeldDirectory::Test(const std::wstring& name, ACCESS_MASK access, ULONG share, OpenResult* result) const {
  return Prove(OpenFileData(name, access, share, result), name);
}

TestedFile HeldDirectory::Prove(win::FileHandle opened, const std::wstring& name) const {
  TestedFile file;
  file.handle_ = std::move(opened);
  if (!file.handle_ || !FactsOf(file.handle(), file.facts_) || !file.facts_.plain() || !Holds(file.handle(), name))
    return TestedFile();
  file.directory_ = this;
  file.name_ = name;
  return file;
}

TestedFile HeldDirectory::Create(const std::wstring& name, ACCESS_MASK access) const {
  TestedFile file;
  file.handle_ = OpenFile(name, access, 0, nullptr, /*create=*/true);
  if (!file.handle_ || !FactsOf(file.handle(), file.facts_)) return TestedFile();
  file.directory_ = this;
  file.name_ = name;
  return file;
}

win::FileHandle TestedFile::Reopen(ACCESS_MASK access) const {
  win::FileHandle again = directory_->OpenFile(name_, access, kShareAll);
  FileFacts now;
  if (!again || !FactsOf(again.get(), now) || !SameFile(now.id, facts_.id)) return win::FileHandle();
  return again;
}

bool TestedFile::StandsHere() const { return directory_->Holds(handle(), name_); }

bool TestedFile::Normalize() const {
  const win::FileHandle attributes = Reopen(FILE_WRITE_ATTRIBUTES);
  return attributes && SetNormalAttributes(attributes.get());
}

void TestedFile::PutBackAttributes() const {
  const win::FileHandle attributes = Reopen(FILE_WRITE_ATTRIBUTES);
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = facts_.attributes ? facts_.attributes : FILE_ATTRIBUTE_NORMAL;
  if (attributes) win::os::SetFileInformationByHandle(attributes.get(), FileBasicInfo, &basic, sizeof basic);
}

bool TestedFile::MarkForDeletion(bool deleteIt) const { return engine::MarkForDeletion(handle(), deleteIt); }

bool TestedFile::Delete(DWORD pauseMs) {
  if (!Normalize()) return false;
  if (pauseMs) Sleep(pauseMs);
  // Ours is to be the last handle, so that the deletion happens at its close, right after
  // the check that it still stands where it was listed.
  Close();
  win::FileHandle deleter = Reopen(DELETE);
  if (!deleter || !directory_->DeleteAtClose(deleter.get(), name_)) {
    deleter.reset();
    PutBackAttributes();
    return false;
  }
  deleter.reset();
  // Under Wine a deletion by handle is carried out by path at the last close, and not at all
  // when the path no longer leads to the file: ask the directory.
  const win::FileHandle still = directory_->OpenFile(name_, FILE_READ_ATTRIBUTES, kShareAll);
  FileFacts now;
  return !still || !FactsOf(still.get(), now) || !SameFile(now.id, facts_.id);
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
