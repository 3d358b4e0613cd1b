// The sweep ends processes across the whole prefix: these tests run alone.
#include "engine/process_sweep.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include <gtest/gtest.h>

#include "tests/engine/waiting_process.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

bool ProcessListed(DWORD id) {
  const HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE) return false;
  win::KernelHandle snapshot(raw);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(raw, &entry); more; more = Process32NextW(raw, &entry))
    if (entry.th32ProcessID == id) return true;
  return false;
}

TEST(ProcessSweepTest, EndsInfectedProcessesWithExitCodeZeroAndSparesTheRest) {
  test::TempDir dir;
  const std::wstring virus = dir.CopyFixture(L"marker_exact", L"virus.exe");
  const std::wstring clean = dir.CopyFixture(L"clean_company", L"clean.exe");
  const std::wstring bare = dir.CopyFixture(L"no_version", L"bare.exe");
  {
    // Two copies of the same infected executable, and two clean ones.
    test::WaitingProcess first(virus), second(virus), cleanOne(clean), bareOne(bare);
    for (const test::WaitingProcess* p : {&first, &second, &cleanOne, &bareOne})
      ASSERT_TRUE(p->WaitUntilReady()) << "a fixture did not start";
    ASSERT_TRUE(ProcessListed(first.id()));

    engine::KillVirusProcesses();

    for (const test::WaitingProcess* p : {&first, &second}) {
      DWORD exitCode = 259;
      EXPECT_TRUE(p->WaitForEnd(10000, exitCode)) << "an infected process is ended";
      EXPECT_EQ(0u, exitCode);
    }
    EXPECT_TRUE(cleanOne.running()) << "a process with a clean CompanyName stays";
    EXPECT_TRUE(bareOne.running()) << "a process without version resource stays";
    // This test's own process was tested like any other and is still here to say so.
    EXPECT_TRUE(ProcessListed(GetCurrentProcessId()));
  }
}

TEST(DebugPrivilegeTest, IsEnabledInTheProcessToken) {
  ASSERT_TRUE(engine::EnableDebugPrivilege());

  win::KernelHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
  LUID debug{};
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug));
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> buffer(size);
  ASSERT_TRUE(GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size));
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  bool enabled = false;
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
    if (p.Luid.LowPart == debug.LowPart && p.Luid.HighPart == debug.HighPart)
      enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  EXPECT_TRUE(enabled) << "an administrator's token holds SeDebugPrivilege, and it is now enabled";
}

}  // namespace
