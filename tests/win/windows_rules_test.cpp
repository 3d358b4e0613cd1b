// The checker at the door (tests/support/windows_rules.h) refuses every call of its table
// that Windows refuses, with Windows's answer: one call of each kind made through the door
// with a handle that lacks what the rule needs, or on an object in the state it names.
#include "tests/support/windows_rules.h"

#include <winioctl.h>
#include <winternl.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/test_support.h"
#include "win/handles.h"
#include "win/os.h"

namespace {

namespace os = win::os;
using rules::RuleId;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const LONG kAccessDenied = static_cast<LONG>(0xC0000022L);

// A file opened through the door's native call, granted exactly `access`.
win::FileHandle OpenNative(const std::wstring& path, ACCESS_MASK access) {
  const std::wstring nt = L"\\??\\" + path;
  UNICODE_STRING name{static_cast<USHORT>(nt.size() * 2), static_cast<USHORT>(nt.size() * 2),
                      const_cast<wchar_t*>(nt.c_str())};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  os::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll, 1 /* FILE_OPEN */,
                   0x20 /* FILE_SYNCHRONOUS_IO_NONALERT */, nullptr, 0);
  return win::FileHandle(handle ? handle : INVALID_HANDLE_VALUE);
}

win::FileHandle Open(const std::wstring& path, DWORD access, DWORD flags = 0) {
  return win::FileHandle(os::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
}

bool Win32Refused(BOOL result) { return !result && GetLastError() == ERROR_ACCESS_DENIED; }

// A security descriptor with an owner and an empty DACL, for the writes.
struct Descriptor {
  Descriptor() {
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(reinterpret_cast<ACL*>(acl), sizeof acl, ACL_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<ACL*>(acl), FALSE);
    DWORD bytes = sizeof sid;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &bytes);
    SetSecurityDescriptorOwner(&sd, sid, FALSE);
  }
  SECURITY_DESCRIPTOR sd;
  BYTE acl[64];
  BYTE sid[SECURITY_MAX_SID_SIZE];
};

class WindowsRulesTest : public testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.Write(L"file.txt", "data");
    folder_ = dir_.MakeDir(L"folder");
  }
  test::TempDir dir_;
  std::wstring file_, folder_;
};

TEST_F(WindowsRulesTest, EachRuleRefusesAsWindowsDoes) {
  ASSERT_TRUE(rules::Installed());
  const std::wstring tlbKey = L"SOFTWARE\\MfkRulesTest";
  test::Process child(test::FixturePath(L"no_version"), L"wait");
  ASSERT_TRUE(child.WaitUntilReady());
  BYTE buffer[4096];
  DWORD bytes = 0;
  const struct {
    RuleId rule;
    std::function<bool()> refused;  // makes the call; true when it failed as Windows fails
  } rows[] = {
      {rules::kQueryAttributes,
       [&] {
         FILE_ATTRIBUTE_TAG_INFO tag;
         return Win32Refused(os::GetFileInformationByHandleEx(OpenNative(file_, FILE_READ_DATA).get(),
                                                              FileAttributeTagInfo, &tag, sizeof tag));
       }},
      {rules::kQueryAll,
       [&] {
         BY_HANDLE_FILE_INFORMATION info;
         return Win32Refused(os::GetFileInformationByHandle(OpenNative(file_, FILE_READ_DATA).get(), &info));
       }},
      {rules::kSetBasic,
       [&] {
         FILE_BASIC_INFO basic{};
         return Win32Refused(os::SetFileInformationByHandle(OpenNative(file_, FILE_READ_ATTRIBUTES).get(),
                                                            FileBasicInfo, &basic, sizeof basic));
       }},
      {rules::kDisposition,
       [&] {
         FILE_DISPOSITION_INFO disposition{TRUE};
         return Win32Refused(os::SetFileInformationByHandle(OpenNative(file_, FILE_READ_ATTRIBUTES).get(),
                                                            FileDispositionInfo, &disposition, sizeof disposition));
       }},
      {rules::kRename,
       [&] {
         struct {
           ULONG replace;
           HANDLE root;
           ULONG length;
           wchar_t name[8];
         } rename{0, nullptr, 10, L"other"};
         IO_STATUS_BLOCK io{};
         return os::NtSetInformationFile(OpenNative(file_, FILE_READ_ATTRIBUTES).get(), &io, &rename, sizeof rename,
                                         10) == kAccessDenied;
       }},
      {rules::kRead,
       [&] { return Win32Refused(os::ReadFile(Open(file_, GENERIC_WRITE).get(), buffer, 1, &bytes, nullptr)); }},
      {rules::kWrite,
       [&] { return Win32Refused(os::WriteFile(Open(file_, GENERIC_READ).get(), "x", 1, &bytes, nullptr)); }},
      {rules::kFlush, [&] { return Win32Refused(os::FlushFileBuffers(Open(file_, GENERIC_READ).get())); }},
      {rules::kIoctlRead,
       [&] {
         return Win32Refused(os::DeviceIoControl(Open(file_, 0).get(), CTL_CODE(9, 0x7F0, 0, FILE_READ_ACCESS), nullptr,
                                                 0, buffer, sizeof buffer, &bytes, nullptr));
       }},
      {rules::kIoctlWrite,
       [&] {
         return Win32Refused(os::DeviceIoControl(Open(file_, 0).get(), CTL_CODE(9, 0x7F1, 0, FILE_WRITE_ACCESS),
                                                 nullptr, 0, buffer, sizeof buffer, &bytes, nullptr));
       }},
      {rules::kReadSecurity,
       [&] {
         return Win32Refused(os::GetKernelObjectSecurity(Open(file_, FILE_READ_DATA).get(), OWNER_SECURITY_INFORMATION,
                                                         buffer, sizeof buffer, &bytes));
       }},
      {rules::kReadSacl,
       [&] {
         return Win32Refused(os::GetKernelObjectSecurity(Open(file_, GENERIC_READ).get(), SACL_SECURITY_INFORMATION,
                                                         buffer, sizeof buffer, &bytes));
       }},
      {rules::kWriteDacl,
       [&] {
         Descriptor d;
         return Win32Refused(
             os::SetKernelObjectSecurity(Open(file_, GENERIC_READ).get(), DACL_SECURITY_INFORMATION, &d.sd));
       }},
      {rules::kWriteOwner,
       [&] {
         Descriptor d;
         return Win32Refused(
             os::SetKernelObjectSecurity(Open(file_, GENERIC_READ).get(), OWNER_SECURITY_INFORMATION, &d.sd));
       }},
      {rules::kListDirectory,
       [&] {
         return Win32Refused(
             os::GetFileInformationByHandleEx(Open(folder_, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS).get(),
                                              FileIdBothDirectoryRestartInfo, buffer, sizeof buffer));
       }},
      {rules::kProcessQuery,
       [&] {
         wchar_t path[MAX_PATH];
         DWORD chars = MAX_PATH;
         const win::KernelHandle process(os::OpenProcess(SYNCHRONIZE, FALSE, child.id()));
         return Win32Refused(os::QueryFullProcessImageNameW(process.get(), 0, path, &chars));
       }},
      {rules::kProcessTerminate,
       [&] {
         const win::KernelHandle process(os::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.id()));
         return Win32Refused(os::TerminateProcess(process.get(), 0)) && child.running();
       }},
      {rules::kTokenAdjust,
       [&] {
         win::KernelHandle token;
         TOKEN_PRIVILEGES none{};
         return os::OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) &&
                Win32Refused(os::AdjustTokenPrivileges(token.get(), FALSE, &none, 0, nullptr, nullptr));
       }},
      {rules::kTokenQuery,
       [&] {
         win::KernelHandle token;
         TOKEN_PRIVILEGES none{}, previous{};
         DWORD returned = 0;
         return os::OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()) &&
                Win32Refused(
                    os::AdjustTokenPrivileges(token.get(), FALSE, &none, sizeof previous, &previous, &returned));
       }},
      {rules::kRegistryQuery,
       [&] {
         win::RegKey key;
         return os::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS &&
                os::RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_ACCESS_DENIED;
       }},
      {rules::kRegistrySet,
       [&] {
         win::RegKey key;
         return os::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS &&
                os::RegSetValueExW(key.get(), L"MfkRulesTest", 0, REG_DWORD, buffer, 4) == ERROR_ACCESS_DENIED;
       }},
      {rules::kDispositionReadOnly,
       [&] {
         SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_READONLY);
         FILE_DISPOSITION_INFO disposition{TRUE};
         const bool refused = Win32Refused(os::SetFileInformationByHandle(
             Open(file_, DELETE).get(), FileDispositionInfo, &disposition, sizeof disposition));
         SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
         return refused && test::Exists(file_);
       }},
      {rules::kOpenDeletePending,
       [&] {
         const std::wstring doomed = dir_.Write(L"doomed.txt", "x");
         const win::FileHandle marked = Open(doomed, DELETE);
         FILE_DISPOSITION_INFO disposition{TRUE};
         return os::SetFileInformationByHandle(marked.get(), FileDispositionInfo, &disposition, sizeof disposition) &&
                !Open(doomed, FILE_READ_ATTRIBUTES) && GetLastError() == ERROR_ACCESS_DENIED;
       }},
      {rules::kRenameDeletePending,
       [&] {
         const std::wstring doomed = dir_.Write(L"doomed2.txt", "x");
         const win::FileHandle marked = Open(doomed, DELETE);
         FILE_DISPOSITION_INFO disposition{TRUE};
         struct {
           ULONG replace;
           HANDLE root;
           ULONG length;
           wchar_t name[8];
         } rename{0, nullptr, 10, L"other"};
         IO_STATUS_BLOCK io{};
         return os::SetFileInformationByHandle(marked.get(), FileDispositionInfo, &disposition, sizeof disposition) &&
                os::NtSetInformationFile(marked.get(), &io, &rename, sizeof rename, 10) == kAccessDenied;
       }},
      {rules::kDirectoryWithoutBackupSemantics,
       [&] { return !Open(folder_, GENERIC_READ) && GetLastError() == ERROR_ACCESS_DENIED; }},
      {rules::kFileAccessList,
       [&] {
         rules::DenyFile(file_, GENERIC_READ);
         return !Open(file_, GENERIC_READ) && GetLastError() == ERROR_ACCESS_DENIED;
       }},
      {rules::kKeyAccessList,
       [&] {
         rules::DenyKey(tlbKey, KEY_SET_VALUE);
         win::RegKey key;
         return os::RegOpenKeyExW(HKEY_LOCAL_MACHINE, tlbKey.c_str(), 0, KEY_ALL_ACCESS, key.put()) ==
                ERROR_ACCESS_DENIED;
       }},
      {rules::kProcessAccessList,
       [&] {
         rules::LimitProcess(child.id(), PROCESS_QUERY_LIMITED_INFORMATION);
         return !os::OpenProcess(PROCESS_TERMINATE, FALSE, child.id()) && GetLastError() == ERROR_ACCESS_DENIED;
       }},
      {rules::kTerminateCritical,
       [&] {
         rules::ClearModels();
         rules::MakeCritical(child.id());
         const win::KernelHandle process(os::OpenProcess(PROCESS_TERMINATE, FALSE, child.id()));
         return process && !os::TerminateProcess(process.get(), 0) && child.running();
       }},
  };
  static_assert(sizeof rows / sizeof rows[0] == rules::kRuleCount, "a row for each rule");
  for (const auto& row : rows) {
    SCOPED_TRACE(rules::kRules[row.rule].operation);
    EXPECT_EQ(static_cast<size_t>(&row - rows), static_cast<size_t>(row.rule)) << "rows in the table's order";
    const long before = rules::CallsRefused();
    test::ExpectRefusals expect;
    EXPECT_TRUE(row.refused()) << "the call fails as on Windows";
    EXPECT_EQ(1, expect.seen()) << "and the checker records one refusal";
    EXPECT_EQ(before + 1, rules::CallsRefused());
  }
}

TEST_F(WindowsRulesTest, TheBackupPrivilegeLiftsAnAccessListForReadingOnly) {
  rules::DenyFile(file_, GENERIC_ALL);
  win::KernelHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()));
  TOKEN_PRIVILEGES backup{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &backup.Privileges[0].Luid));
  ASSERT_TRUE(AdjustTokenPrivileges(token.get(), FALSE, &backup, 0, nullptr, nullptr));
  EXPECT_TRUE(Open(file_, GENERIC_READ, FILE_FLAG_BACKUP_SEMANTICS)) << "read with backup intent";
  test::ExpectRefusals expect;
  EXPECT_FALSE(Open(file_, GENERIC_READ)) << "read without backup intent";
  EXPECT_FALSE(Open(file_, GENERIC_READ | DELETE, FILE_FLAG_BACKUP_SEMANTICS)) << "anything beyond reading";
  backup.Privileges[0].Attributes = 0;
  ASSERT_TRUE(AdjustTokenPrivileges(token.get(), FALSE, &backup, 0, nullptr, nullptr));
  EXPECT_FALSE(Open(file_, GENERIC_READ, FILE_FLAG_BACKUP_SEMANTICS)) << "backup intent with the privilege off";
  EXPECT_EQ(3, expect.seen());
}

}  // namespace
