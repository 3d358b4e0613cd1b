// The residue cleanup's helpers on the test's own files and a volatile key of its own.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "engine/residue.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

TEST(GetSystemDirPathTest, IsTheSystemDirectoryWithOneTrailingBackslash) {
  wchar_t expected[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(expected, MAX_PATH), 0u);
  std::wstring path = L"sentinel";
  ASSERT_TRUE(engine::GetSystemDirPath(path));
  EXPECT_EQ(std::wstring(expected) + L"\\", path);
  EXPECT_TRUE(test::Exists(path + L"kernel32.dll"));
}

// A volatile key under HKEY_CURRENT_USER that only this process uses, deleted afterwards.
class ReadKeyDefaultStringTest : public testing::Test {
 protected:
  void SetUp() override {
    name_ = L"Software\\MfkTest-ReadKey-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
  }
  void TearDown() override {
    key.reset();
    RegDeleteKeyW(HKEY_CURRENT_USER, name_.c_str());
  }
  void Set(DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), nullptr, 0, type, static_cast<const BYTE*>(data), bytes));
  }
  // Reads into a 512-character buffer pre-filled with a sentinel.
  LONG Read(DWORD capacity = 512) {
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    chars = capacity;
    return engine::ReadKeyDefaultString(key.get(), buffer, chars);
  }

  win::RegKey key;
  wchar_t buffer[512];
  DWORD chars = 0;

 private:
  std::wstring name_;
};

TEST_F(ReadKeyDefaultStringTest, StringsComeBackAsStoredWithTheirCountNulIncluded) {
  const wchar_t path[] = L"C:\\Windows\\evil.dll";
  Set(REG_SZ, path, sizeof path);
  EXPECT_EQ(ERROR_SUCCESS, Read());
  EXPECT_EQ(std::wstring(path), buffer);
  EXPECT_EQ(20u, chars);

  const wchar_t expandable[] = L"%SystemRoot%\\evil.dll";
  Set(REG_EXPAND_SZ, expandable, sizeof expandable);
  EXPECT_EQ(ERROR_SUCCESS, Read());
  EXPECT_EQ(std::wstring(expandable), buffer) << "not expanded";
  EXPECT_EQ(22u, chars);

  Set(REG_SZ, L"", 0);
  EXPECT_EQ(ERROR_SUCCESS, Read());
  EXPECT_EQ(L'\0', buffer[0]);
  EXPECT_EQ(0u, chars);
}

TEST_F(ReadKeyDefaultStringTest, WrongTypeOddLengthOrMissingNulIsInvalidData) {
  const wchar_t path[] = L"C:\\evil.dll";
  Set(REG_BINARY, path, sizeof path);
  EXPECT_EQ(ERROR_INVALID_DATA, Read());
  Set(REG_MULTI_SZ, L"C:\\evil.dll\0", sizeof path + sizeof(wchar_t));
  EXPECT_EQ(ERROR_INVALID_DATA, Read());
  const DWORD number = 7;
  Set(REG_DWORD, &number, sizeof number);
  EXPECT_EQ(ERROR_INVALID_DATA, Read());

  // RegSetValueExW counts a NUL that directly follows the data in: the character after
  // the stored ones must not be NUL for the value to lack its terminator.
  const wchar_t unterminated[] = L"C:\\evil.dllX";
  Set(REG_SZ, unterminated, sizeof unterminated - 3 * sizeof(wchar_t) + 1);
  EXPECT_EQ(ERROR_INVALID_DATA, Read()) << "odd byte length";
  Set(REG_SZ, unterminated, sizeof unterminated - 2 * sizeof(wchar_t));
  EXPECT_EQ(ERROR_INVALID_DATA, Read()) << "no terminating NUL";
  EXPECT_EQ(512u, chars) << "the count is only set on success";
}

TEST_F(ReadKeyDefaultStringTest, TooLongOrMissingValueIsTheRegistrysError) {
  const std::wstring longest(511, L'a');
  Set(REG_SZ, longest.c_str(), 512 * sizeof(wchar_t));
  EXPECT_EQ(ERROR_SUCCESS, Read());
  EXPECT_EQ(512u, chars);

  const std::wstring tooLong(512, L'a');
  Set(REG_SZ, tooLong.c_str(), 513 * sizeof(wchar_t));
  EXPECT_EQ(ERROR_MORE_DATA, Read());

  RegDeleteValueW(key.get(), nullptr);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Read());
}

}  // namespace
