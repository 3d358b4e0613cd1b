#include "report/machine_id.h"

#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include "tests/report/machine_id_key.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

constexpr test::RegistryView k32 = KEY_WOW64_32KEY;
constexpr test::RegistryView k64 = KEY_WOW64_64KEY;

bool IsHexId(const std::wstring& id) {
  return id.size() == 32 && id.find_first_not_of(L"0123456789ABCDEF") == std::wstring::npos;
}

// Every test changes the prefix's real key; the guard puts both views back.
class MachineIdTest : public testing::Test {
 protected:
  test::MachineIdKeyGuard guard_;
};

TEST_F(MachineIdTest, MissingKeyIsCreatedOnceAndKept) {
  ASSERT_TRUE(test::DeleteMachineIdKey(k32));

  const std::wstring first = report::LoadMachineId();
  ASSERT_TRUE(IsHexId(first)) << first;
  const test::StoredValue stored = test::ReadMachineIdValue(k32);
  ASSERT_TRUE(stored.valueExists);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
  ASSERT_EQ(16u, stored.bytes.size());
  EXPECT_EQ(test::HexOf(stored.bytes), first);

  // A second run finds it and leaves it as it is.
  EXPECT_EQ(first, report::LoadMachineId());
  EXPECT_EQ(stored.bytes, test::ReadMachineIdValue(k32).bytes);

  // Each new machine gets a random identifier of its own.
  ASSERT_TRUE(test::DeleteMachineIdKey(k32));
  const std::wstring second = report::LoadMachineId();
  EXPECT_TRUE(IsHexId(second)) << second;
  EXPECT_NE(first, second);
}

TEST_F(MachineIdTest, StoredBytesAreSpelledInMemoryOrder) {
  const std::string bytes("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16);
  ASSERT_TRUE(test::WriteMachineIdValue(k32, REG_BINARY, bytes));

  // The GUID {33221100-5544-7766-8899-AABBCCDDEEFF}: bytes as stored, not the GUID's text form.
  EXPECT_EQ(L"00112233445566778899AABBCCDDEEFF", report::LoadMachineId());
  EXPECT_EQ(bytes, test::ReadMachineIdValue(k32).bytes);
}

struct ReplacedCase {
  const char* name;
  DWORD type;
  std::string bytes;
};

// Named by its case in ctest's listing, not dumped byte by byte.
void PrintTo(const ReplacedCase& c, std::ostream* out) { *out << c.name; }

class ReplacedValueTest : public MachineIdTest, public testing::WithParamInterface<ReplacedCase> {};

TEST_P(ReplacedValueTest, GetsANewSixteenByteBinaryValue) {
  const ReplacedCase& c = GetParam();
  ASSERT_TRUE(test::WriteMachineIdValue(k32, c.type, c.bytes));

  const std::wstring id = report::LoadMachineId();
  ASSERT_TRUE(IsHexId(id)) << id;
  const test::StoredValue stored = test::ReadMachineIdValue(k32);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
  ASSERT_EQ(16u, stored.bytes.size());
  EXPECT_EQ(test::HexOf(stored.bytes), id);
  // Not the front of the old value either.
  EXPECT_NE(test::HexOf(c.bytes).substr(0, 32), id);
}

INSTANTIATE_TEST_SUITE_P(Values, ReplacedValueTest,
                         testing::Values(ReplacedCase{"Text", REG_SZ, std::string("0\0\x31\0\x32\0\x33\0\0\0", 10)},
                                         ReplacedCase{"Dword", REG_DWORD, std::string("\x01\x02\x03\x04", 4)},
                                         ReplacedCase{"Seventeen", REG_BINARY, test::Sequence(0, 17)},
                                         ReplacedCase{"ThirtyTwo", REG_BINARY, test::Sequence(0x40, 0x60)}),
                         [](const testing::TestParamInfo<ReplacedCase>& info) { return std::string(info.param.name); });

TEST_F(MachineIdTest, ShorterBinaryValueIsKeptAndReadWithZeros) {
  ASSERT_TRUE(test::WriteMachineIdValue(k32, REG_BINARY, test::Sequence(1, 11)));
  EXPECT_EQ(L"0102030405060708090A000000000000", report::LoadMachineId());
  EXPECT_EQ(test::Sequence(1, 11), test::ReadMachineIdValue(k32).bytes);

  ASSERT_TRUE(test::WriteMachineIdValue(k32, REG_BINARY, std::string()));
  EXPECT_EQ(std::wstring(32, L'0'), report::LoadMachineId());
  const test::StoredValue empty = test::ReadMachineIdValue(k32);
  EXPECT_TRUE(empty.valueExists);
  EXPECT_EQ(0u, empty.bytes.size());
}

TEST_F(MachineIdTest, LivesInThe32BitView) {
  ASSERT_TRUE(test::DeleteMachineIdKey(k32));
  ASSERT_TRUE(test::DeleteMachineIdKey(k64));
  ASSERT_TRUE(test::WriteMachineIdValue(k64, REG_BINARY, test::Sequence(0xA0, 0xB0)));
  if (test::ReadMachineIdValue(k32).keyExists) GTEST_SKIP() << "this prefix has one registry view for both";

  // The 64-bit view's value is not ours: a new one is made in the 32-bit view.
  const std::wstring created = report::LoadMachineId();
  ASSERT_TRUE(IsHexId(created));
  EXPECT_EQ(test::HexOf(test::ReadMachineIdValue(k32).bytes), created);
  EXPECT_EQ(test::Sequence(0xA0, 0xB0), test::ReadMachineIdValue(k64).bytes);

  // An identifier that an earlier 32-bit release stored is the one used.
  ASSERT_TRUE(test::WriteMachineIdValue(k32, REG_BINARY, test::Sequence(0x10, 0x20)));
  EXPECT_EQ(test::HexOf(test::Sequence(0x10, 0x20)), report::LoadMachineId());
}

TEST_F(MachineIdTest, KeyThatCannotBeWrittenGivesAnEmptyIdentifier) {
  ASSERT_TRUE(test::WriteMachineIdValue(k32, REG_BINARY, test::Sequence(0, 16)));
  // Nobody may set values or add subkeys; reading, and deleting it afterwards, stay allowed.
  {
    win::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, report::kMachineIdKey, 0, WRITE_DAC | READ_CONTROL | k32, key.put()));
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    EXPLICIT_ACCESSW entries[2] = {};
    entries[0].grfAccessPermissions = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
    entries[0].grfAccessMode = DENY_ACCESS;
    entries[1].grfAccessPermissions = KEY_READ | DELETE | WRITE_DAC;
    entries[1].grfAccessMode = GRANT_ACCESS;
    for (EXPLICIT_ACCESSW& entry : entries) {
      entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
      entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
      entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    }
    PACL acl = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), SetEntriesInAclW(2, entries, nullptr, &acl));
    const DWORD set =
        SetSecurityInfo(key.get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    FreeSid(everyone);
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), set);
  }
  win::RegKey probe;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, report::kMachineIdKey, 0, KEY_WRITE | k32, probe.put()) == ERROR_SUCCESS)
    GTEST_SKIP() << "this registry grants write access despite the key's deny entry";

  EXPECT_EQ(L"", report::LoadMachineId());
  EXPECT_EQ(test::Sequence(0, 16), test::ReadMachineIdValue(k32).bytes);
}

}  // namespace
