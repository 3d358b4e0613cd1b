// The whole program as a user meets it, in a prefix of its own: a simulated infection
// across drive C:, the real executable started and worked from outside, and proof that
// every trace was repaired or removed and nothing else changed.
//
// The tests run in the order written and share the prefix: the all-drives run first, then
// a run over one chosen directory, then a run stopped by the user; the last tests read the
// recorded reports and compare the drive and the registry with how they were at the start.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include <gtest/gtest.h>

#include "tests/e2e/infection.h"
#include "tests/e2e/program.h"
#include "tests/e2e/snapshot.h"
#include "tests/report/report_expectations.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

using e2e::Outcome;
using e2e::ProgramRun;

constexpr DWORD kRunTimeoutMs = 180000;
constexpr int kBulkFiles = 10000;

struct Scenario {
  e2e::FileSnapshot filesBefore;
  e2e::RegistrySnapshot registryBefore;
  std::vector<std::wstring> expectedFileChanges;  // upper-cased prefixes
  int starts = 0;
};
Scenario gScenario;

std::wstring Fixtures() { return test::ExeDir() + L"fixtures\\"; }

// The checked build of the program, which writes what Windows would have refused it, and
// at its end its summary line, to the log that MFK_RULES_LOG names.
std::wstring CheckedProgramPath() { return test::ExeDir() + L"MarrowFinchKiller_checked.exe"; }

void ExpectChange(const std::wstring& path) { gScenario.expectedFileChanges.push_back(e2e::Upper(path)); }

void ExpectInfectionHandled(const e2e::Infection& infection) {
  for (const e2e::Trace& t : infection.traces) {
    SCOPED_TRACE(test::Utf8(t.path));
    switch (t.outcome) {
      case Outcome::kRestored: {
        const std::string now = test::ReadBytes(t.path);
        EXPECT_EQ(t.bytes.size(), now.size());
        EXPECT_TRUE(t.bytes == now) << "holds exactly its former bytes";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(t.backup.c_str())) << "its copy is gone";
        EXPECT_EQ(0u, GetFileAttributesW(t.path.c_str()) & FILE_ATTRIBUTE_READONLY);
        break;
      }
      case Outcome::kDeleted:
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(t.path.c_str())) << "is gone";
        break;
      case Outcome::kFoundOnly:
      case Outcome::kUntouched: {
        const std::string now = test::ReadBytes(t.path);
        EXPECT_TRUE(t.bytes == now) << "is unchanged";
        break;
      }
    }
    ExpectChange(t.path);
    if (!t.backup.empty()) ExpectChange(t.backup);
  }
  for (const std::wstring& dir : infection.createdDirs) ExpectChange(dir + L"\\");
}

// Runs the program once: optionally sets the path box (as choosing a folder does), presses
// start, optionally presses stop once the walk is under way, and answers the offer with
// "取消". Returns the offer's summary; the program is left open in `run`.
std::wstring ScanOnce(ProgramRun& run, const std::wstring& path, bool stop) {
  EXPECT_TRUE(run.Start(CheckedProgramPath())) << "the main window appears";
  ++gScenario.starts;
  if (!run.main()) return {};
  if (!path.empty()) {
    run.SetText(1014, path);
    EXPECT_EQ(path, run.Text(1014));
  }
  run.Click(1008);
  if (stop) {
    EXPECT_TRUE(test::PumpUntil([&] { return run.PromptText() == L"正在扫描..."; }, kRunTimeoutMs));
    EXPECT_EQ(L"停止查杀", run.Text(1008));
    run.Click(1008);
  }
  const HWND offer = run.WaitForWindow(test::kOfferTitle, kRunTimeoutMs);
  EXPECT_TRUE(offer) << "the offer appears";
  if (!offer) return {};
  const std::wstring summary = run.Text(GetDlgItem(offer, 1019));
  ProgramRun::Click(GetDlgItem(offer, 2));  // 取消
  EXPECT_TRUE(test::PumpUntil([&] { return !IsWindow(offer); }, 10000));
  EXPECT_TRUE(test::PumpUntil([&] { return run.Text(1008) == L"开始查杀"; }, 10000));
  EXPECT_EQ(L"选择扫描目录：", run.PromptText());
  EXPECT_TRUE(run.Visible(1014));
  EXPECT_FALSE(run.Visible(1016));
  return summary;
}

void CloseAndExpectExitCode2(ProgramRun& run) {
  run.Close();
  EXPECT_EQ(2u, run.WaitForExit(30000)) << "closing the dialog ends the process with 2";
  // Nothing the run did would have been refused on Windows.
  const char* log = std::getenv("MFK_RULES_LOG");
  ASSERT_TRUE(log);
  const std::wstring path(log, log + std::strlen(log));
  const std::string lines = test::ReadBytes(path);
  DeleteFileW(path.c_str());
  std::printf("the program: %s", lines.c_str());
  EXPECT_EQ(0u, lines.find("Windows rules: ")) << lines;
  EXPECT_NE(std::string::npos, lines.find(" calls checked, 0 refused\n")) << lines;
}

int CountFiles(const e2e::FileSnapshot& snapshot) {
  int n = 0;
  for (const auto& [name, hash] : snapshot) n += name.back() != L'\\';
  return n;
}

// The progress line's file count, or -1.
int ScannedCount(const std::wstring& progress) {
  const std::wstring head = L"已扫描";
  if (progress.compare(0, head.size(), head) != 0) return -1;
  return _wtoi(progress.c_str() + head.size());
}

std::wstring Counts(int found, int restored) {
  return L"查出" + std::to_wstring(found) + L"个病毒，恢复" + std::to_wstring(restored) + L"个文件";
}

TEST(EndToEnd, AllDrivesRunRepairsEverything) {
  ASSERT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeW(L"C:\\"));
  ASSERT_NE(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeW(L"T:\\")) << "the fixtures' drive is never walked";
  gScenario.filesBefore = e2e::SnapshotFiles(L"C:");
  gScenario.registryBefore = e2e::SnapshotRegistry();

  e2e::Infection infection;
  std::wstring error;
  ASSERT_TRUE(e2e::SimulateFullInfection(Fixtures(), infection, error)) << test::Utf8(error);
  ExpectChange(infection.typeLibFile);

  ProgramRun run;
  ASSERT_TRUE(run.Start(CheckedProgramPath()));
  ++gScenario.starts;
  EXPECT_EQ(L"默认扫描所有磁盘", run.Text(1014));
  EXPECT_EQ(L"请选择扫描目录：", run.PromptText());
  EXPECT_EQ(L"开始查杀", run.Text(1008));
  EXPECT_FALSE(run.Visible(1016));
  run.Click(1008);
  const HWND offer = run.WaitForWindow(test::kOfferTitle, kRunTimeoutMs);
  ASSERT_TRUE(offer);
  const int found = infection.InfectedFoundByWalk(), restored = infection.RestoredByWalk();
  EXPECT_EQ(L"扫描完成，" + Counts(found, restored), run.Text(GetDlgItem(offer, 1019)));
  ProgramRun::Click(GetDlgItem(offer, 2));
  EXPECT_TRUE(test::PumpUntil([&] { return run.Text(1008) == L"开始查杀"; }, 10000));
  EXPECT_EQ(L"选择扫描目录：", run.PromptText());
  EXPECT_EQ(L"默认扫描所有磁盘", run.Text(1014));
  const std::wstring progress = run.Text(1017);
  CloseAndExpectExitCode2(run);

  // Every file the walk met was counted: what is left on C:, the infected files deleted
  // without a copy, and the copies deleted after a restoration if the listing still had
  // them (a listing may or may not show a file deleted while it is read).
  int deletedByWalk = 0, copies = 0;
  for (const e2e::Trace& t : infection.traces) {
    deletedByWalk += t.walked && t.outcome == Outcome::kDeleted;
    copies += t.walked && t.outcome == Outcome::kRestored;
  }
  const int left = CountFiles(e2e::SnapshotFiles(L"C:"));
  const int scanned = ScannedCount(progress);
  EXPECT_EQ(L"已扫描" + std::to_wstring(scanned) + L"个文件，" + Counts(found, restored), progress);
  EXPECT_GE(scanned, left + deletedByWalk);
  EXPECT_LE(scanned, left + deletedByWalk + copies);

  ExpectInfectionHandled(infection);
  for (const auto& process : infection.processes) {
    DWORD code = 1;
    EXPECT_TRUE(process->WaitForEnd(10000, code)) << "the running copy was ended";
    EXPECT_EQ(0u, code);
  }
  for (const std::wstring& dir : infection.keptDirs) {
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "a clean file keeps the directory";
    EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) << "its attributes were reset";
  }

  // The type-library key stays; its file is gone now, so its deletion doesn't wait for the
  // restart (there may be no list of restart deletions at all).
  win::RegKey key;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, e2e::kTypeLibKey, 0, KEY_READ, key.put()));
  win::RegKey session;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                                         KEY_READ, session.put()));
  std::vector<wchar_t> pending(32768, L'\0');
  DWORD bytes = static_cast<DWORD>(pending.size() * sizeof(wchar_t) - 4);
  RegQueryValueExW(session.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                   reinterpret_cast<BYTE*>(pending.data()), &bytes);
  bool scheduled = false;
  for (const wchar_t* p = pending.data(); *p; p += wcslen(p) + 1)
    scheduled |= e2e::Upper(p).find(e2e::Upper(infection.typeLibFile)) != std::wstring::npos;
  EXPECT_FALSE(scheduled) << "a type-library file deleted now isn't scheduled for deletion at restart";
}

TEST(EndToEnd, ChosenDirectoryRunTouchesOnlyThatDirectory) {
  const std::wstring dir = L"C:\\users\\Public\\Documents\\chosen";
  e2e::Infection infection;
  std::wstring error;
  ASSERT_TRUE(e2e::SimulateDirectoryInfection(Fixtures(), dir, L"C:\\users\\Public\\outside.exe", infection, error))
      << test::Utf8(error);

  ProgramRun run;
  const std::wstring summary = ScanOnce(run, dir, false);
  const int found = infection.InfectedFoundByWalk(), restored = infection.RestoredByWalk();
  EXPECT_EQ(L"扫描完成，" + Counts(found, restored), summary);
  const std::wstring progress = run.Text(1017);
  const int scanned = ScannedCount(progress);
  EXPECT_EQ(L"已扫描" + std::to_wstring(scanned) + L"个文件，" + Counts(found, restored), progress);
  EXPECT_GE(scanned, 4);
  EXPECT_LE(scanned, 6);
  EXPECT_EQ(dir, run.Text(1014)) << "the chosen directory stays in the path box";
  CloseAndExpectExitCode2(run);
  ExpectInfectionHandled(infection);
}

TEST(EndToEnd, RunStoppedByTheUser) {
  const std::wstring bulk = L"C:\\users\\Public\\bulk";
  CreateDirectoryW(bulk.c_str(), nullptr);
  ExpectChange(bulk + L"\\");
  for (int d = 0; d < 100; ++d) {
    const std::wstring sub = bulk + L"\\d" + std::to_wstring(d);
    CreateDirectoryW(sub.c_str(), nullptr);
    for (int f = 0; f < kBulkFiles / 100; ++f)
      ASSERT_TRUE(test::WriteBytes(sub + L"\\f" + std::to_wstring(f) + L".txt", "bulk"));
  }

  ProgramRun run;
  const std::wstring summary = ScanOnce(run, bulk, true);
  EXPECT_EQ(L"已被用户终止，未发现病毒", summary);
  const int scanned = ScannedCount(run.Text(1017));
  // The stop may come before the inspectors have begun a file: none is then begun after it.
  EXPECT_GE(scanned, 0) << "the progress line counts";
  EXPECT_LT(scanned, kBulkFiles) << "the walk ended early";
  CloseAndExpectExitCode2(run);
}

// The link race, tried as an attacker would: while the program walks forty folders of
// forty infected files with their copies, a process on the host (link_racer.py) keeps
// swapping each folder for a symbolic link to a folder of somebody else's files of the
// same names. Not one of those may change, and every infected file ends restored, left as
// it was with its copy for the next run, or deleted with its copy left as it was: a copy
// met while its folder was swapped is not where it should be, and isn't trusted.
TEST(EndToEnd, LinkRaceChangesNoVictim) {
  constexpr int kFolders = 40, kFiles = 40;
  const std::wstring race = L"C:\\users\\Public\\race";
  ExpectChange(race + L"\\");
  ASSERT_TRUE(CreateDirectoryW(race.c_str(), nullptr));
  const std::string infected = test::ReadBytes(Fixtures() + L"marker_tiny.exe");
  ASSERT_FALSE(infected.empty());
  const auto name = [](const wchar_t* kind, int n) {
    wchar_t text[32];
    swprintf(text, 32, L"%ls%02d", kind, n);
    return std::wstring(text);
  };
  const auto former = [](int folder, int file) { return "former " + std::to_string(folder * 100 + file); };
  const auto victim = [](int folder, int file) { return "somebody else's " + std::to_string(folder * 100 + file); };
  for (int d = 0; d < kFolders; ++d) {
    const std::wstring mine = race + L"\\" + name(L"infected", d), theirs = race + L"\\" + name(L"victim", d);
    ASSERT_TRUE(CreateDirectoryW(mine.c_str(), nullptr) && CreateDirectoryW(theirs.c_str(), nullptr));
    for (int f = 0; f < kFiles; ++f) {
      const std::wstring file = L"\\" + name(L"file", f);
      ASSERT_TRUE(test::WriteBytes(mine + file + L".exe", infected) &&
                  test::WriteBytes(mine + file + L".sql", former(d, f)) &&
                  test::WriteBytes(theirs + file + L".exe", victim(d, f)) &&
                  test::WriteBytes(theirs + file + L".sql", victim(d, f) + " copy"));
    }
  }

  const std::wstring signals = L"T:\\e2e\\";
  ASSERT_TRUE(test::WriteBytes(signals + L"race-go", ""));
  ASSERT_TRUE(test::PumpUntil([&] { return test::Exists(signals + L"race-running"); }, 30000)) << "the racer runs";
  ProgramRun run;
  const std::wstring summary = ScanOnce(run, race, false);
  ASSERT_TRUE(test::WriteBytes(signals + L"race-stop", ""));
  ASSERT_TRUE(test::PumpUntil([&] { return test::Exists(signals + L"race-stopped"); }, 30000)) << "the racer stops";
  CloseAndExpectExitCode2(run);

  int victimsChanged = 0, restored = 0, left = 0, deleted = 0, other = 0;
  for (int d = 0; d < kFolders; ++d) {
    const std::wstring mine = race + L"\\" + name(L"infected", d), theirs = race + L"\\" + name(L"victim", d);
    // Anything in somebody else's folder that isn't theirs as they left it, by what was done.
    std::set<std::wstring> strangers = test::Names(theirs + L"\\");
    for (int f = 0; f < kFiles; ++f) {
      const std::wstring file = L"\\" + name(L"file", f);
      for (const wchar_t* ext : {L".exe", L".sql"}) {
        const std::string expected = victim(d, f) + (std::wstring(ext) == L".sql" ? " copy" : "");
        const std::wstring path = theirs + file + ext;
        strangers.erase(path.substr(theirs.size() + 1));
        const std::string now = test::ReadBytes(path);
        if (now == expected) continue;
        ++victimsChanged;
        std::printf("victim %s %s\n", test::Utf8(path).c_str(),
                    !test::Exists(path)   ? "deleted or renamed away"
                    : now == infected     ? "rewritten with the virus"
                    : now == former(d, f) ? "rewritten with the restored bytes"
                                          : "rewritten");
      }
    }
    for (const std::wstring& stranger : strangers) {
      ++victimsChanged;
      std::printf("victim folder %s holds %s: %s\n", test::Utf8(theirs).c_str(), test::Utf8(stranger).c_str(),
                  test::ReadBytes(theirs + L"\\" + stranger).substr(0, 40).c_str());
    }
    for (int f = 0; f < kFiles; ++f) {
      const std::wstring file = L"\\" + name(L"file", f);
      const std::string now = test::ReadBytes(mine + file + L".exe");
      // Restored: the former bytes (under Wine a deletion by handle whose path changed
      // meanwhile doesn't happen, so the copy may still be there). Left: as it was, copy and all.
      if (now == former(d, f))
        ++restored;
      else if (now == infected && test::ReadBytes(mine + file + L".sql") == former(d, f))
        ++left;
      else if (!test::Exists(mine + file + L".exe") && test::ReadBytes(mine + file + L".sql") == former(d, f))
        ++deleted;
      else
        ++other;
    }
  }
  std::printf(
      "link race: %s swaps, %d victim files changed, %d infected files restored, %d left for the next run, %d deleted "
      "with their copies kept\n",
      test::ReadBytes(signals + L"race-stopped").c_str(), victimsChanged, restored, left, deleted);
  EXPECT_EQ(0, victimsChanged);
  EXPECT_EQ(0, other) << "every infected file restored, left with its copy, or deleted with its copy kept";
  EXPECT_GT(restored, 0);
  EXPECT_EQ(0u, summary.find(L"扫描完成，")) << test::Utf8(summary);
}

TEST(EndToEnd, EveryStartSentItsReports) {
  const char* log = std::getenv("MFK_E2E_REQUESTS");
  ASSERT_TRUE(log) << "run_e2e.sh names the recorder's log";
  std::wstring path;
  for (const char* p = log; *p; ++p) path += static_cast<wchar_t>(*p);
  // No folder "Morva" in the fresh prefix: every start sends action 3 and action 4.
  const size_t expected = 2 * static_cast<size_t>(gScenario.starts);
  std::vector<std::string> lines;
  test::PumpUntil(
      [&] {
        lines.clear();
        const std::string text = test::ReadBytes(path);
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
          lines.push_back(text.substr(at, end - at));
        return lines.size() >= expected;
      },
      30000);
  ASSERT_EQ(expected, lines.size());
  std::string id;
  int starts = 0, missing = 0;
  const std::string head = "GET http://" + test::Utf8(hosts::kReportHost) + "/feed/feedkb.php?m=";
  for (const std::string& logged : lines) {
    SCOPED_TRACE(logged);
    const std::string line = test::WithoutDefaultPort(logged);
    ASSERT_EQ(0u, line.compare(0, head.size(), head));
    const std::string m = line.substr(head.size(), 32);
    if (id.empty()) id = m;
    EXPECT_EQ(id, m) << "one machine, one identifier";
    EXPECT_EQ(std::string::npos, m.find_first_not_of("0123456789ABCDEF"));
    const std::string rest = line.substr(head.size() + 32);
    starts += rest.compare(0, 9, "&c=6&a=3|") == 0;
    missing += rest.compare(0, 9, "&c=6&a=4|") == 0;
    EXPECT_NE(std::string::npos, line.find("|Connection: Close")) << "asks the server to close";
  }
  EXPECT_EQ(gScenario.starts, starts);
  EXPECT_EQ(gScenario.starts, missing);
}

TEST(EndToEnd, NothingElseChanged) {
  ASSERT_FALSE(gScenario.filesBefore.empty());
  // WinINet, which the reports go through, opens its cookie index at first use; it holds
  // no entry of ours (the requests are never written to the cache).
  gScenario.expectedFileChanges.push_back(
      e2e::Upper(L"C:\\users\\root\\AppData\\Local\\Microsoft\\Windows\\INetCookies\\"));
  const std::vector<std::wstring> fileChanges =
      e2e::Differences(gScenario.filesBefore, e2e::SnapshotFiles(L"C:"), gScenario.expectedFileChanges);
  for (const std::wstring& change : fileChanges) ADD_FAILURE() << test::Utf8(change);

  const std::vector<std::wstring> expectedKeys = {
      // the simulated type-library key (the tool leaves it in place), in both views
      e2e::Upper(L"HKLM\\SOFTWARE\\CLASSES\\TYPELIB\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}"),
      e2e::Upper(L"HKLM\\SOFTWARE\\WOW6432NODE\\CLASSES\\TYPELIB\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}"),
      e2e::Upper(L"HKLM32\\SOFTWARE\\CLASSES\\TYPELIB\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}"),
      e2e::Upper(L"HKLM\\SOFTWARE\\CLASSES\\WOW6432NODE\\TYPELIB\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}"),
      // the machine identifier, kept in the 32-bit view
      L"HKLM\\SOFTWARE\\WOW6432NODE\\MORVA",
      L"HKLM32\\SOFTWARE\\MORVA",
      // the deletion of the type-library file at the next restart
      L"HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER|PENDINGFILERENAMEOPERATIONS",
  };
  // Wine's own, under the current user: user32 keeps settings that last only for this
  // session (the mouse's, when a desktop process starts), and WinINet records whether it
  // found a proxy (here the recorder, from http_proxy) when the reports open it.
  const std::vector<std::wstring> wineUserKeys = {
      L"\\SOFTWARE\\WINE\\TEMPORARY SYSTEM PARAMETERS\\",
      L"\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\INTERNET SETTINGS|PROXYENABLE"};
  const auto wineOwn = [&](const std::wstring& change) {
    if (change.compare(0, 9, L"new: HKU\\") != 0 && change.compare(0, 13, L"changed: HKU\\") != 0) return false;
    for (const std::wstring& key : wineUserKeys)
      if (change.find(key) != std::wstring::npos) return true;
    return false;
  };
  const std::vector<std::wstring> registryChanges =
      e2e::Differences(gScenario.registryBefore, e2e::SnapshotRegistry(), expectedKeys);
  for (const std::wstring& change : registryChanges)
    if (!wineOwn(change)) ADD_FAILURE() << test::Utf8(change);
}

}  // namespace
