// The sweep ends processes across the whole prefix: these tests run alone.
#include "engine/process_sweep.h"
#include "engine/paths.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/engine/waiting_process.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"
#include "tests/support/windows_rules.h"
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
  test::TempDir dir(test::kOnFixedDrive);
  const std::wstring virus = dir.CopyFixture(L"marker_exact", L"virus.exe");
  const std::wstring clean = dir.CopyFixture(L"clean_company", L"clean.exe");
  const std::wstring bare = dir.CopyFixture(L"no_version", L"bare.exe");
  {
    // Two copies of the same infected executable, and two clean ones; on Windows the first
    // grants the tool nothing but what the sweep needs, and a third is a critical process,
    // whose end would stop the system.
    test::WaitingProcess first(virus), second(virus), critical(virus), cleanOne(clean), bareOne(bare);
    for (const test::WaitingProcess* p : {&first, &second, &critical, &cleanOne, &bareOne})
      ASSERT_TRUE(p->WaitUntilReady()) << "a fixture did not start";
    ASSERT_TRUE(ProcessListed(first.id()));
    rules::LimitProcess(first.id(), PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE);
    rules::MakeCritical(critical.id());

    const engine::SweepCounts counts = engine::KillVirusProcesses();
    EXPECT_EQ(2, counts.ended);
    EXPECT_EQ(1, counts.leftCritical) << "the critical one is left running";
    EXPECT_TRUE(critical.running());

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

// The path the process's own memory gives, where the sweep used to take it from.
std::wstring ModulePath(const test::Process& process) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameExW(process.handle(), nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

// A process that misleads anyone who reads its image's path from its memory, or is out of
// the reach of a MAX_PATH buffer or of a name check, and whether the sweep is to end it.
struct LyingRow {
  const char* what;
  const wchar_t* fixture;  // what it really runs
  std::wstring claim;      // the path it writes into its memory; empty: its own
  enum Start { kPlain, kDeep, kShortName, kFromTheShare } start;
  bool ended;
};

TEST(ProcessSweepTest, TakesTheImageTheSystemStartedNotThePathAProcessClaims) {
  test::TempDir dir(test::kOnFixedDrive), share;  // T: is a network drive
  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"infected.exe");
  const std::wstring deep = std::wstring(100, L'd') + L"\\" + std::wstring(100, L'e') + L"\\";
  dir.MakeDir(deep);
  const std::wstring pipe = L"\\\\.\\pipe\\mfk-silent-" + std::to_wstring(GetCurrentProcessId());
  const std::vector<LyingRow> rows = {
      {"a virus calling itself notepad", L"marker_exact", L"C:\\windows\\notepad.exe", LyingRow::kPlain, true},
      {"a clean process naming an infected file", L"clean_company", infected, LyingRow::kPlain, false},
      {"a process naming a pipe that never answers", L"no_version", pipe, LyingRow::kPlain, false},
      {"a virus deeper than MAX_PATH", L"marker_exact", L"", LyingRow::kDeep, true},
      {"a deep virus started by its short name", L"marker_exact", L"", LyingRow::kShortName, true},
      // Never opened: the tool would send the administrator's credentials to the server.
      {"a virus started from a network drive", L"marker_exact", L"", LyingRow::kFromTheShare, false},
  };
  std::vector<std::pair<const LyingRow*, std::unique_ptr<test::Process>>> processes;
  for (const LyingRow& row : rows) {
    const bool plain = row.start == LyingRow::kPlain || row.start == LyingRow::kFromTheShare;
    std::wstring exe = (row.start == LyingRow::kFromTheShare ? share : dir)
                           .CopyFixture(row.fixture, (plain ? L"" : deep) + std::to_wstring(processes.size()) +
                                                         L" with a long name.exe");
    wchar_t shortName[MAX_PATH] = {};
    // Wine's CreateProcessW records long names as far as they fit in MAX_PATH: a short name
    // stays on record only for a file deeper than that.
    if (row.start == LyingRow::kShortName && GetShortPathNameW(exe.c_str(), shortName, MAX_PATH) > 0) {
      if (exe == shortName) continue;  // no short names on this volume: nothing to test
      exe = shortName;
    }
    ASSERT_TRUE(plain || exe.size() >= MAX_PATH || exe == shortName);
    const std::wstring claim = row.claim.empty() ? exe : row.claim;
    processes.emplace_back(
        &row, std::make_unique<test::Process>(exe, L"lie \"" + claim + (claim == pipe ? L"\" serve" : L"\"")));
    // What the process's memory says, once it says it, is what a sweep by
    // GetModuleFileNameExW would test.
    EXPECT_TRUE(test::PumpUntil([&] { return ModulePath(*processes.back().second) == claim; }, 10000)) << row.what;
  }

  // On a thread of its own: a read of the silent pipe would keep the sweep for ever.
  win::KernelHandle sweep(CreateThread(
      nullptr, 0, [](void*) -> DWORD { return engine::KillVirusProcesses(), 0; }, nullptr, 0, nullptr));
  ASSERT_TRUE(sweep);
  const bool returned = WaitForSingleObject(sweep.get(), 10000) == WAIT_OBJECT_0;
  EXPECT_TRUE(returned) << "the sweep returns promptly";

  for (const auto& [row, started] : processes) {
    const test::Process& process = *started;
    // A process that stays ends only now, with this test's exit code: the first
    // termination decides it, so no wait is needed to tell a termination by the sweep.
    if (!row->ended) TerminateProcess(process.handle(), 99);
    DWORD exitCode = 259;
    EXPECT_TRUE(process.WaitForEnd(10000, exitCode)) << row->what;
    EXPECT_EQ(row->ended ? 0u : 99u, exitCode) << row->what;
  }
  // With the pipe's server gone, a read that still waits fails.
  if (!returned) WaitForSingleObject(sweep.get(), 10000);
}

TEST(VolumeRootOfTest, OnlyAVolumeOfThisMachineHasARoot) {
  const struct {
    const wchar_t *path, *root;
  } rows[] = {
      {L"C:\\windows\\x.exe", L"C:\\"},
      {L"\\\\?\\D:\\deep\\x.exe", L"D:\\"},
      {L"\\\\?\\Volume{0a1b2c3d-0000-0000-0000-100000000000}\\x.exe",
       L"\\\\?\\Volume{0a1b2c3d-0000-0000-0000-100000000000}\\"},
      {L"\\\\server\\share\\x.exe", L""},           // a share
      {L"\\\\?\\UNC\\server\\share\\x.exe", L""},   // the same, long
      {L"\\\\server@SSL\\DavWWWRoot\\x.exe", L""},  // WebDAV
      {L"\\\\.\\pipe\\x", L""},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1\\x.exe", L""},
      {L"x.exe", L""},
      {L"C:x.exe", L""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(std::wstring(row.root), engine::VolumeRootOf(row.path)) << test::Utf8(row.path);
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
