#include "engine/held_directory.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "win/os.h"

namespace {

using engine::OpenResult;

// From the documented NTSTATUS values: Wine can't take an opportunistic lock, so the
// break in progress is known only from here.
TEST(ClassifyOpenTest, StatusAndFileType) {
  const struct {
    unsigned long status;
    DWORD type;
    OpenResult expected;
  } rows[] = {
      {0x00000000, FILE_TYPE_DISK, OpenResult::kOpened},
      {0x00000000, FILE_TYPE_PIPE, OpenResult::kNotDiskFile},  // a pipe, a FIFO, a socket
      {0x00000000, FILE_TYPE_CHAR, OpenResult::kNotDiskFile},  // a device such as a console
      {0x00000000, FILE_TYPE_UNKNOWN, OpenResult::kNotDiskFile},
      {0x00000108, FILE_TYPE_DISK, OpenResult::kLockBreaking},  // STATUS_OPLOCK_BREAK_IN_PROGRESS
      {0xC0000034, 0, OpenResult::kNoSuchFile},                 // STATUS_OBJECT_NAME_NOT_FOUND
      {0xC000003A, 0, OpenResult::kNoSuchFile},                 // STATUS_OBJECT_PATH_NOT_FOUND
      {0xC0000043, 0, OpenResult::kInUse},                      // STATUS_SHARING_VIOLATION
      {0xC0000022, 0, OpenResult::kRefused},                    // STATUS_ACCESS_DENIED
      {0xC00000BA, 0, OpenResult::kRefused},                    // STATUS_FILE_IS_A_DIRECTORY
      {0xC0000056, 0, OpenResult::kRefused},                    // STATUS_DELETE_PENDING
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.expected, engine::ClassifyOpen(static_cast<long>(row.status), row.type)) << std::hex << row.status;
}

// From the documented statuses of a system or file system without FileRenameInformationEx's
// POSIX semantics (Windows before 10 1809, FAT, a share; Wine), and of a rename refused.
TEST(RenameNeedsFallbackTest, OnlyWhereTheSystemLacksPosixRenames) {
  const struct {
    unsigned long status;
    bool fallback;
  } rows[] = {
      {0xC0000003, true},   // STATUS_INVALID_INFO_CLASS: the system doesn't know class 65
      {0xC000000D, true},   // STATUS_INVALID_PARAMETER: the file system doesn't take it
      {0xC00000BB, true},   // STATUS_NOT_SUPPORTED
      {0xC0000002, true},   // STATUS_NOT_IMPLEMENTED: Wine 8
      {0x00000000, false},  // renamed
      {0xC0000022, false},  // STATUS_ACCESS_DENIED: the plain rename would be refused too
      {0xC0000043, false},  // STATUS_SHARING_VIOLATION
      {0xC0000056, false},  // STATUS_DELETE_PENDING
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.fallback, engine::RenameNeedsFallback(static_cast<long>(row.status))) << std::hex << row.status;
}

std::vector<engine::DirectoryEntry> Parse(const std::vector<BYTE>& bytes, bool extended) {
  std::vector<engine::DirectoryEntry> entries;
  engine::ParseListing(bytes.data(), bytes.size(), extended, [&](const engine::DirectoryEntry& entry) {
    entries.push_back(entry);
    return true;
  });
  return entries;
}

// FILE_ID_EXTD_DIR_INFO as MS-FSCC lays it out: the offsets of its fields, records 8-byte
// aligned. Wine has no extended listing, so a real listing is written out again so.
std::vector<BYTE> AsExtendedRecords(const std::vector<engine::DirectoryEntry>& entries) {
  std::vector<BYTE> out;
  size_t last = 0;
  for (const engine::DirectoryEntry& entry : entries) {
    const ULONG nameBytes = static_cast<ULONG>(entry.name.size() * sizeof(wchar_t));
    const size_t at = out.size(), size = (88 + nameBytes + 7) / 8 * 8;
    out.resize(at + size);
    const ULONG next = static_cast<ULONG>(size);
    std::memcpy(&out[at], &next, 4);
    std::memcpy(&out[at + 56], &entry.attributes, 4);
    std::memcpy(&out[at + 60], &nameBytes, 4);
    std::memcpy(&out[at + 68], &entry.reparseTag, 4);
    std::memcpy(&out[at + 72], &entry.id.low, 8);
    std::memcpy(&out[at + 80], &entry.id.high, 8);
    std::memcpy(&out[at + 88], entry.name.data(), nameBytes);
    last = at;
  }
  std::memset(&out[last], 0, 4);  // the last record points nowhere
  return out;
}

TEST(ParseListingTest, ExtendedRecordsGiveWhatTheListingGave) {
  test::TempDir dir;
  dir.Write(L"a.txt", "a");
  dir.Write(L"名字 with a long name.exe", "b");
  dir.MakeDir(L"sub");
  const win::FileHandle handle(CreateFileW(dir.path().c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::vector<BYTE> listing(65536);
  ASSERT_TRUE(GetFileInformationByHandleEx(handle.get(), FileIdBothDirectoryRestartInfo, listing.data(),
                                           static_cast<DWORD>(listing.size())));
  std::vector<engine::DirectoryEntry> plain = Parse(listing, false);
  ASSERT_EQ(3u, plain.size()) << "\".\" and \"..\" left out";
  for (engine::DirectoryEntry& entry : plain) entry.id.high = 0x5EED;  // a full id of 128 bits

  const std::vector<BYTE> extended = AsExtendedRecords(plain);
  const std::vector<engine::DirectoryEntry> parsed = Parse(extended, true);
  ASSERT_EQ(plain.size(), parsed.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(plain[i].name, parsed[i].name);
    EXPECT_EQ(plain[i].attributes, parsed[i].attributes);
    EXPECT_EQ(plain[i].reparseTag, parsed[i].reparseTag);
    EXPECT_TRUE(plain[i].id == parsed[i].id);
    EXPECT_TRUE(parsed[i].fullId);
  }
  // A file system without full ids gives 0: no id. A record that runs past the buffer ends it.
  std::vector<engine::DirectoryEntry> zero = plain;
  for (engine::DirectoryEntry& entry : zero) entry.id = engine::FileId{};
  for (const engine::DirectoryEntry& entry : Parse(AsExtendedRecords(zero), true)) EXPECT_FALSE(entry.fullId);
  const size_t nameBytes = plain.back().name.size() * sizeof(wchar_t);
  std::vector<BYTE> cut = extended;
  cut.resize(extended.size() - (88 + nameBytes + 7) / 8 * 8 + 88 + nameBytes - 2);
  EXPECT_EQ(plain.size() - 1, Parse(cut, true).size());
}

// A directory with no entry at all, not even "." and ".." (an empty volume root), answers
// its first query with STATUS_NO_SUCH_FILE: an empty listing, not a failed one.
DWORD gListingError = 0;
BOOL WINAPI ListingFails(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD) {
  SetLastError(gListingError);
  return FALSE;
}

TEST(HeldDirectoryListTest, AFirstQueryThatFindsNothingIsAnEmptyDirectory) {
  test::TempDir dir;
  dir.Write(L"a.txt", "a");
  engine::HeldDirectory held;
  ASSERT_TRUE(held.Open(dir.path()));
  const struct {
    DWORD error;
    bool listed;
  } rows[] = {{ERROR_FILE_NOT_FOUND, true}, {ERROR_NO_MORE_FILES, true}, {ERROR_ACCESS_DENIED, false}};
  for (const auto& row : rows) {
    gListingError = row.error;
    test::DoorEntry<decltype(win::os::Calls::GetFileInformationByHandleEx)> listing(
        win::os::Table().GetFileInformationByHandleEx, &ListingFails);
    int entries = 0;
    EXPECT_EQ(row.listed, held.List([&](const engine::DirectoryEntry&) { return ++entries, true; })) << row.error;
    EXPECT_EQ(0, entries);
  }
}

// Planted by scripts/test.sh from the host: T:\links\walk\dirlink links to T:\links\walk-outside.
TEST(OpenEveryStepTest, NoFolderOnTheWayMayBeALink) {
  engine::HeldDirectory directory;
  EXPECT_TRUE(directory.OpenEveryStep(L"T:\\links\\walk-outside"));
  EXPECT_TRUE(directory.OpenEveryStep(L"T:\\links\\walk\\"));
  EXPECT_FALSE(directory.OpenEveryStep(L"T:\\links\\walk\\dirlink"));
  test::TempDir dir;
  EXPECT_TRUE(directory.OpenEveryStep(dir.MakeDir(L"a\\b")));
  // Names that step sideways are refused, not resolved.
  EXPECT_FALSE(directory.OpenEveryStep(L"\\\\?\\T:\\links\\walk\\..\\walk-outside"));
  EXPECT_FALSE(directory.OpenEveryStep(L"T:\\links\\missing"));

  engine::HeldDirectory walk, child;
  ASSERT_TRUE(walk.OpenEveryStep(L"T:\\links\\walk"));
  EXPECT_FALSE(child.OpenIn(walk, L"dirlink"));
}

}  // namespace
