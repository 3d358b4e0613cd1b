// The rules Wine can't show, from the documented values: reparse tags (ntifs.h's
// IO_REPARSE_TAG_*), file attributes (winnt.h) and well-known SIDs.
#include "engine/entry_rules.h"

#include <windows.h>
#include <sddl.h>

#include <vector>

#include <gtest/gtest.h>

namespace {

using engine::EntryKind;

TEST(ClassifyEntryTest, AttributesAndTags) {
  constexpr uint32_t kFile = FILE_ATTRIBUTE_ARCHIVE, kDir = FILE_ATTRIBUTE_DIRECTORY,
                     kReparse = FILE_ATTRIBUTE_REPARSE_POINT, kPinned = 0x00080000;  // FILE_ATTRIBUTE_PINNED
  const struct {
    const char* what;
    uint32_t attributes, tag;
    EntryKind expected;
  } rows[] = {
      {"plain file", kFile, 0, EntryKind::kTest},
      {"plain folder", kDir, 0, EntryKind::kWalk},
      {"EaSize of a plain file is no tag", kFile, 0xA000000C, EntryKind::kTest},
      {"symbolic link to a file", kFile | kReparse, 0xA000000C, EntryKind::kLink},
      {"junction", kDir | kReparse, 0xA0000003, EntryKind::kLink},
      {"a host link under Wine: no tag", kDir | kReparse, 0, EntryKind::kLink},
      {"AF_UNIX socket", kFile | kReparse, 0x80000023, EntryKind::kLink},
      {"app execution alias", kFile | kReparse, 0x8000001B, EntryKind::kLink},
      {"projected file system", kFile | kReparse, 0x9000001C, EntryKind::kLink},
      {"unknown name surrogate", kFile | kReparse, 0x20001234, EntryKind::kLink},
      {"system-compressed program (WOF)", kFile | kReparse, 0x80000017, EntryKind::kTest},
      {"deduplicated file", kFile | kReparse, 0x80000013, EntryKind::kTest},
      {"single-instance store", kFile | kReparse, 0x80000007, EntryKind::kTest},
      {"HSM", kFile | kReparse, 0xC0000004, EntryKind::kTest},
      {"HSM2", kFile | kReparse, 0x80000006, EntryKind::kTest},
      {"Azure File Sync", kFile | kReparse, 0x8000001E, EntryKind::kTest},
      {"OneDrive file on this machine", kFile | kReparse | kPinned, 0x9000001A, EntryKind::kTest},
      {"OneDrive file, CLOUD_3", kFile | kReparse, 0x9000301A, EntryKind::kTest},
      {"OneDrive file, CLOUD_F", kFile | kReparse, 0x9000F01A, EntryKind::kTest},
      {"OneDrive file online only", kFile | kReparse | engine::kAttributeRecallOnDataAccess, 0x9000001A,
       EntryKind::kCountOnly},
      // Anyone may mark their own file offline, and it still runs: only a storage filter's is away.
      {"plain file marked offline", kFile | FILE_ATTRIBUTE_OFFLINE, 0, EntryKind::kTest},
      {"offline file an HSM keeps", kFile | kReparse | FILE_ATTRIBUTE_OFFLINE, 0xC0000004, EntryKind::kCountOnly},
      {"offline link", kFile | kReparse | FILE_ATTRIBUTE_OFFLINE, 0xA000000C, EntryKind::kLink},
      {"OneDrive folder", kDir | kReparse, 0x9000701A, EntryKind::kWalk},
      {"OneDrive folder not on this machine", kDir | kReparse | engine::kAttributeRecallOnOpen, 0x9000701A,
       EntryKind::kCountOnly},
  };
  for (const auto& row : rows) EXPECT_EQ(row.expected, engine::ClassifyEntry(row.attributes, row.tag)) << row.what;
}

std::vector<uint8_t> Sid(const wchar_t* text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(text, &sid)) return {};
  const auto* bytes = static_cast<const uint8_t*>(sid);
  std::vector<uint8_t> out(bytes, bytes + GetLengthSid(sid));
  LocalFree(sid);
  return out;
}

TEST(CopyOwnerTrustedTest, TheFilesOwnerOrTheSystemForTheSystem) {
  const wchar_t* user = L"S-1-5-21-1-2-3-1001";
  const wchar_t* system = L"S-1-5-18";
  const wchar_t* administrators = L"S-1-5-32-544";
  const wchar_t* trustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const struct {
    const wchar_t *copy, *file;
    bool trusted;
  } rows[] = {
      {user, user, true},
      {L"S-1-5-21-1-2-3-1002", user, false},  // another user planted it
      // An administrator's copy beside a file that a user may have planted: the bytes would
      // become the user's. The system's accounts vouch only for the system's files.
      {administrators, user, false},
      {system, user, false},
      {trustedInstaller, user, false},
      {administrators, system, true},
      {system, trustedInstaller, true},
      // Administrators own both: on Windows the token's default owner of an elevated tool,
      // so the owner of every file it restored or wrote.
      {administrators, administrators, true},
      {user, administrators, false},           // a user's copy over the administrators' file
      {L"S-1-5-32-545", user, false},          // Users
      {L"S-1-1-0", user, false},               // Everyone
      {L"S-1-5-80-1-2-3-4-5", system, false},  // some other service
  };
  for (const auto& row : rows) {
    const std::vector<uint8_t> copy = Sid(row.copy), file = Sid(row.file);
    ASSERT_FALSE(copy.empty() || file.empty());
    EXPECT_EQ(row.trusted, engine::CopyOwnerTrusted(copy.data(), copy.size(), file.data(), file.size()))
        << "copy " << static_cast<int>(copy.size()) << " bytes, row " << (&row - rows);
  }
  // A SID that can't be read trusts nothing and is trusted by nothing.
  const std::vector<uint8_t> user1 = Sid(user);
  std::vector<uint8_t> cut(user1.begin(), user1.end() - 1);
  EXPECT_FALSE(engine::CopyOwnerTrusted(cut.data(), cut.size(), user1.data(), user1.size()));
  EXPECT_FALSE(engine::CopyOwnerTrusted(user1.data(), user1.size(), nullptr, 0));
  EXPECT_FALSE(engine::CopyOwnerTrusted(nullptr, 0, user1.data(), user1.size()));
}

}  // namespace
