#include "engine/file_facts.h"

#include <cstring>

#include "engine/entry_rules.h"
#include "win/os.h"

namespace engine {

namespace {

// FileIdInfo, Windows 8's, declared here since the program is built for Windows 7.
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(0x12);

// FILE_ID_INFO
struct FullIdInfo {
  ULONGLONG volumeSerialNumber;
  BYTE identifier[16];
};

// What NtCreateFile answers in the cases told apart.
constexpr LONG kStatusOplockBreakInProgress = 0x00000108;
constexpr LONG kStatusNameNotFound = static_cast<LONG>(0xC0000034L);
constexpr LONG kStatusPathNotFound = static_cast<LONG>(0xC000003AL);
constexpr LONG kStatusSharingViolation = static_cast<LONG>(0xC0000043L);

}  // namespace

FileId FileIdFromBytes(const uint8_t* bytes) {
  FileId id;
  std::memcpy(&id.low, bytes, sizeof id.low);
  std::memcpy(&id.high, bytes + sizeof id.low, sizeof id.high);
  return id;
}

bool FullIdOf(HANDLE file, FileId& id) {
  FullIdInfo info{};
  if (!win::os::GetFileInformationByHandleEx(file, kFileIdInfo, &info, sizeof info)) return false;
  id = FileIdFromBytes(info.identifier);
  id.volume = info.volumeSerialNumber;
  return id.known();
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
  // Windows 7 has no full ids, and a file system without them answers with id 0; the
  // 64-bit index is then the id, and where that too is 0 the file has none.
  if (!FullIdOf(file, facts.id)) {
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

}  // namespace engine
