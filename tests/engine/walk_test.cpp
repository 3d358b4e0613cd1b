// The walk: its order, the links it never follows, what it counts, and its stop.
#include "engine/walk.h"

#include <algorithm>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "tests/support/scan_paths.h"
#include "ui/run_texts.h"
#include "tests/support/test_support.h"
#include "tests/support/windows_rules.h"
#include "win/handles.h"

namespace {

using test::TempDir;

class WalkTest : public testing::Test {
 protected:
  TempDir dir;
  engine::ScanState state;
  test::ProgressRecorder shown;

  // True when the walk ran to its end.
  bool ScanDirectory(const std::wstring& root, int inspectors = 1) {
    return engine::WalkDirectoryTree(root, engine::WalkContext{state, shown, nullptr}, inspectors);
  }
};

// Every entry below root by its path there, with a file's bytes.
std::map<std::wstring, std::string> Contents(const std::wstring& root) {
  std::map<std::wstring, std::string> contents;
  test::WalkTree(root, [&](const std::wstring& path, bool isDirectory) {
    contents[path.substr(root.size())] = isDirectory ? "<directory>" : test::ReadBytes(path);
  });
  return contents;
}

// Forty folders of every kind of file the scan meets: infected ones with a good copy, with
// none, with a copy that is a folder or a hard link to somebody else's file; a clean
// program with a ".sql" beside it, an infected file with no extension, plain documents.
void PlantMixedTree(const TempDir& dir, const std::wstring& root) {
  const std::wstring outside = dir.Write(root + L"-outside.doc", "somebody else's data");
  for (int d = 0; d < 40; ++d) {
    const std::wstring folder =
        dir.MakeDir(root + L"\\f" + std::to_wstring(d % 8) + L"\\d" + std::to_wstring(d)).substr(dir.path().size()) +
        L"\\";
    for (int f = 0; f < 12; ++f) dir.Write(folder + L"doc" + std::to_wstring(f) + L".txt", "text");
    dir.CopyFixture(L"marker_exact", folder + L"restored.exe");
    dir.Write(folder + L"restored.sql", "former " + std::to_string(d));
    dir.CopyFixture(L"marker_lower", folder + L"deleted.dll");
    dir.CopyFixture(L"marker_inside", folder + L"noext");
    dir.CopyFixture(L"clean_company", folder + L"clean.exe");
    dir.Write(folder + L"clean.sql", "stays");
    dir.CopyFixture(L"marker_exact", folder + L"foldercopy.exe");
    dir.MakeDir(folder + L"foldercopy.sql");
    dir.CopyFixture(L"marker_exact", folder + L"linkedcopy.exe");
    CreateHardLinkW((dir / (folder + L"linkedcopy.sql")).c_str(), outside.c_str(), nullptr);
  }
}

TEST_F(WalkTest, WalkOrderFilesFirstThenLastListedSubdirectoryFirst) {
  const std::wstring root = dir.MakeDir(L"root");
  dir.Write(L"root\\f1.txt", "1");
  dir.Write(L"root\\f2.txt", "2");
  dir.Write(L"root\\f3.txt", "3");
  for (const wchar_t* sub : {L"root\\A", L"root\\A\\X", L"root\\A\\Y", L"root\\B", L"root\\C", L"root\\C\\Z"})
    dir.MakeDir(sub);
  for (const wchar_t* file : {L"root\\A\\a1", L"root\\A\\a2", L"root\\A\\X\\x1", L"root\\A\\Y\\y1", L"root\\B\\b1",
                              L"root\\C\\c1", L"root\\C\\Z\\z1", L"root\\C\\Z\\z2"})
    dir.Write(file, "x");

  ScanDirectory(root);

  // The documented order: a directory's files as its listing gives them, then its
  // subdirectories' walks, the one listed last first.
  std::vector<std::wstring> expected;
  test::WalkTree(
      root,
      [&](const std::wstring& path, bool isDirectory) {
        if (!isDirectory) expected.push_back(path);
      },
      true);
  ASSERT_EQ(11u, expected.size());
  EXPECT_EQ(expected, shown.Paths());
  EXPECT_EQ(11, state.filesScanned.load());
}

// Planted by scripts/test.sh from the host: in T:\\links\\walk, "dirlink" is a symbolic link
// to T:\\links\\walk-outside and "filelink.exe" one to the infected file there.
TEST_F(WalkTest, LinksAreNeverFollowed) {
  const std::wstring outside = L"T:\\links\\walk-outside\\";
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), (outside + L"prog.exe").c_str(), FALSE));
  ASSERT_TRUE(test::WriteBytes(outside + L"prog.sql", "somebody else's data"));
  for (int inspectors : {1, 4}) {
    state.Reset();
    ScanDirectory(L"T:\\links\\walk", inspectors);
    EXPECT_EQ(1, state.filesScanned.load()) << "the file link is counted, the directory link not entered";
    EXPECT_EQ(0, state.virusesFound.load()) << "what the file link leads to is not tested";
  }
  EXPECT_TRUE(test::ReadBytes(test::FixturePath(L"marker_exact")) == test::ReadBytes(outside + L"prog.exe"));
  EXPECT_EQ("somebody else's data", test::ReadBytes(outside + L"prog.sql"));
}

// Planted by scripts/test.sh from the host: T:\\links\\fifo-walk\\x.exe is a FIFO whose writer
// stays open, so a read of it would never end. It is counted and never read.
TEST_F(WalkTest, AFifoIsCountedAndNeverRead) {
  for (int inspectors : {1, 4}) {
    state.Reset();
    ScanDirectory(L"T:\\links\\fifo-walk", inspectors);
    EXPECT_EQ(1, state.filesScanned.load());
  }
}

// Windows cuts ordinary paths at MAX_PATH; the walk hands the system the "\\?\" form and
// shows the ordinary one. (Wine doesn't enforce the limit, so here this passes either way.)
TEST_F(WalkTest, FilesDeeperThanMaxPathAreScanned) {
  std::wstring deep = dir.MakeDir(L"deep");
  const std::wstring root = deep;
  while (deep.size() < 300) {
    deep += L"\\a-folder-with-a-long-name";
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
  }
  const std::wstring infected = deep + L"\\prog.exe";
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), (L"\\\\?\\" + infected).c_str(), FALSE));
  ASSERT_TRUE(test::WriteBytes(L"\\\\?\\" + deep + L"\\prog.sql", "former"));
  ScanDirectory(root);
  EXPECT_EQ(1, state.filesRestored.load());
  EXPECT_EQ("former", test::ReadBytes(L"\\\\?\\" + infected));
  const std::vector<std::wstring> paths = shown.Paths();
  EXPECT_NE(paths.end(), std::find(paths.begin(), paths.end(), infected)) << "shown in the ordinary form";
}

TEST_F(WalkTest, DotNamesAreWalkedAndRootSeparatorIsNotDoubled) {
  const std::wstring root = dir.MakeDir(L"dots");
  dir.Write(L"dots\\.profile", "x");
  dir.MakeDir(L"dots\\.git");
  dir.Write(L"dots\\.git\\config", "x");
  const std::vector<std::wstring> expected = {root + L"\\.git\\config", root + L"\\.profile"};

  for (const std::wstring& path : {root, root + L"\\"}) {
    shown.shown.clear();
    ScanDirectory(path);
    std::vector<std::wstring> seen = shown.Paths();
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(expected, seen);
  }
}

// "..." is an ordinary name on Windows (only a single trailing period is trimmed); it can
// only be made through a \\?\ path.
TEST_F(WalkTest, DirectoryNamedThreeDotsIsWalked) {
  const std::wstring root = dir.MakeDir(L"dots");
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + root + L"\\...").c_str(), nullptr));
  ASSERT_TRUE(test::WriteBytes(L"\\\\?\\" + root + L"\\...\\inner.txt", "x"));
  const std::wstring outside = dir.Write(L"dots\\outside.txt", "x");
  ScanDirectory(root);
  if (test::RunningUnderWine()) {
    // Wine refuses the listing of "...\\*.*" (ERROR_INVALID_NAME): the walk skips it and ends.
    EXPECT_EQ(std::vector<std::wstring>{outside}, shown.Paths());
    GTEST_SKIP() << "Wine cannot list a directory named \"...\" through a plain path";
  }
  std::vector<std::wstring> seen = shown.Paths();
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ((std::vector<std::wstring>{root + L"\\...\\inner.txt", outside}), seen);
}

TEST_F(WalkTest, MissingRootOrOnlyEmptyDirectoriesFinishWithZeroCountsAndTextsUntouched) {
  dir.MakeDir(L"empty\\one\\two");
  dir.MakeDir(L"empty\\three");
  for (const std::wstring& root : {dir / L"no such dir", dir / L"empty"}) {
    state.Reset();
    EXPECT_TRUE(ScanDirectory(root)) << "ran to its end";
    EXPECT_EQ(0, state.filesScanned.load());
    EXPECT_TRUE(shown.shown.empty()) << "nothing shown: the texts stay as the last run left them";
    EXPECT_EQ(L"扫描完成，未发现病毒", ui::FormatFinalSummary(state));
  }
}

TEST_F(WalkTest, ThreeFoundTwoRestored) {
  const std::wstring root = dir.MakeDir(L"mixed");
  dir.MakeDir(L"mixed\\deep\\er");
  dir.CopyFixture(L"marker_exact", L"mixed\\one.exe");
  dir.Write(L"mixed\\one.sql", "one");
  dir.CopyFixture(L"marker_lower", L"mixed\\deep\\er\\two.dll");
  dir.CopyFixture(L"marker_inside", L"mixed\\deep\\noext");  // no "." at all: not restored
  dir.CopyFixture(L"clean_company", L"mixed\\deep\\clean.exe");
  dir.Write(L"mixed\\deep\\clean.sql", "stays");
  dir.Write(L"mixed\\readme.txt", "text");

  EXPECT_TRUE(ScanDirectory(root));

  EXPECT_EQ(L"扫描完成，查出3个病毒，恢复2个文件", ui::FormatFinalSummary(state));
  // one.sql may or may not still be listed after one.exe was restored from it.
  const size_t handled = shown.Paths().size();
  EXPECT_TRUE(handled == 6 || handled == 7) << handled;
  EXPECT_EQ(L"已扫描" + std::to_wstring(handled) + L"个文件，查出3个病毒，恢复2个文件", shown.LastLine());
  EXPECT_EQ("one", test::ReadBytes(dir / L"mixed\\one.exe"));
  EXPECT_FALSE(test::Exists(dir / L"mixed\\deep\\er\\two.dll"));
  EXPECT_TRUE(test::Exists(dir / L"mixed\\deep\\noext"));
  EXPECT_EQ("stays", test::ReadBytes(dir / L"mixed\\deep\\clean.sql"));
}

// Sets the backup privilege of this process's token on or off.
bool BackupPrivilege(bool on) {
  win::KernelHandle token;
  TOKEN_PRIVILEGES request{1, {{{0, 0}, static_cast<DWORD>(on ? SE_PRIVILEGE_ENABLED : 0)}}};
  return OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()) &&
         LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &request.Privileges[0].Luid) &&
         AdjustTokenPrivileges(token.get(), FALSE, &request, 0, nullptr, nullptr);
}

// A folder and a file whose access lists shut administrators out: Windows enforces them and
// Wine doesn't, so the checker holds them here. With the backup privilege the walk lists
// the folder and tests the file all the same; it can't change the file, which counts as
// found. Without the privilege the folder stays closed.
TEST_F(WalkTest, AccessListsHideNothingFromTheBackupPrivilege) {
  const std::wstring root = dir.MakeDir(L"locked");
  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"locked\\prog.exe");
  dir.Write(L"locked\\prog.sql", "former");
  rules::DenyFile(root, GENERIC_ALL);
  rules::DenyFile(infected, GENERIC_ALL);
  for (const bool privilege : {true, false}) {
    SCOPED_TRACE(privilege ? "with the backup privilege" : "without it");
    ASSERT_TRUE(BackupPrivilege(privilege));
    state.Reset();
    test::ExpectRefusals expect;
    EXPECT_TRUE(ScanDirectory(root));
    EXPECT_EQ(privilege ? 2 : 0, state.filesScanned.load());
    EXPECT_EQ(privilege ? 1 : 0, state.virusesFound.load());
    EXPECT_EQ(0, state.filesRestored.load());
    EXPECT_EQ(1, expect.seen()) << "the restore's open for a change, or the listing";
  }
  EXPECT_EQ("former", test::ReadBytes(dir / L"locked\\prog.sql"));
}

TEST_F(WalkTest, StopTakesEffectAfterTheNextFile) {
  const std::wstring root = dir.MakeDir(L"stop");
  // Infected files without copies: a handled one is deleted and counted as restored.
  for (int i = 0; i < 6; ++i) dir.CopyFixture(L"marker_exact", L"stop\\p" + std::to_wstring(i) + L".exe");
  // The request arrives while the second file is in hand.
  shown.onShow = [this](const engine::ProgressSnapshot&) {
    if (shown.shown.size() == 2) state.stopRequested = 1;
  };

  EXPECT_FALSE(ScanDirectory(root)) << "stopped";

  const auto& seen = shown.Paths();
  ASSERT_EQ(3u, seen.size()) << "the file in hand and the next one are handled, then the walk ends";
  EXPECT_EQ(3, state.filesScanned.load());
  EXPECT_EQ(3, state.filesRestored.load());
  EXPECT_EQ(L"已被用户终止，查出3个病毒，恢复3个文件", ui::FormatFinalSummary(state));
  for (const std::wstring& path : seen) EXPECT_FALSE(test::Exists(path));
  int left = 0;
  for (int i = 0; i < 6; ++i) left += test::Exists(dir / (L"stop\\p" + std::to_wstring(i) + L".exe"));
  EXPECT_EQ(3, left) << "files after the next one are not touched";
}

// Files inspected on several threads end as they do on one: every file, every count, every
// text.
TEST_F(WalkTest, APoolEndsEveryFileAsOneThreadDoes) {
  struct Run {
    std::map<std::wstring, std::string> contents;
    std::set<std::wstring> shown;
    int32_t scanned, found, restored;
    std::wstring lastLine;
  };
  const auto run = [&](const std::wstring& root, int inspectors) {
    state.Reset();
    shown.shown.clear();
    EXPECT_TRUE(ScanDirectory(root, inspectors)) << "ran to its end";
    Run r{Contents(root), {}, state.filesScanned, state.virusesFound, state.filesRestored, shown.LastLine()};
    for (const std::wstring& path : shown.Paths()) r.shown.insert(path.substr(root.size()));
    EXPECT_EQ(shown.Paths().size(), r.shown.size()) << "no file is shown twice";
    for (const engine::ProgressSnapshot& line : shown.shown)
      EXPECT_TRUE(line.virusesFound <= line.filesScanned && line.filesRestored <= line.virusesFound)
          << "no line shows more found than scanned";
    return r;
  };
  PlantMixedTree(dir, L"one");
  PlantMixedTree(dir, L"four");
  const Run one = run(dir / L"one", 1), four = run(dir / L"four", 4);
  EXPECT_EQ(40 * 21, one.scanned);
  EXPECT_EQ(40 * 5, one.found);
  EXPECT_TRUE(one.contents == four.contents);
  EXPECT_EQ(one.shown, four.shown);
  EXPECT_EQ(one.scanned, four.scanned);
  EXPECT_EQ(one.found, four.found);
  EXPECT_EQ(one.restored, four.restored);
  EXPECT_EQ(one.lastLine, four.lastLine) << "the last file shown carries the final counts";
  EXPECT_EQ("former 7", one.contents.at(L"\\f7\\d7\\restored.exe"));
  EXPECT_EQ(0u, one.contents.count(L"\\f7\\d7\\deleted.dll"));
  EXPECT_EQ("somebody else's data", one.contents.at(L"\\f7\\d7\\linkedcopy.sql"));
}

// A stop ends a pool's walk at once: what was begun is done in full, what was still
// queued isn't begun, and nothing is counted that wasn't handled.
TEST_F(WalkTest, APoolStoppedHandlesWhatItCountsAndNothingElse) {
  const std::wstring root = dir.MakeDir(L"stop");
  for (int d = 0; d < 6; ++d) dir.MakeDir(L"stop\\d" + std::to_wstring(d));
  for (int i = 0; i < 600; ++i)
    dir.CopyFixture(L"marker_exact", L"stop\\d" + std::to_wstring(i % 6) + L"\\p" + std::to_wstring(i) + L".exe");
  shown.onShow = [this](const engine::ProgressSnapshot&) {
    if (shown.shown.size() == 20) state.stopRequested = 1;
  };

  EXPECT_FALSE(ScanDirectory(root, 4)) << "stopped";

  const size_t handled = shown.Paths().size();
  EXPECT_LT(handled, 600u / 2) << "the queue was dropped";
  EXPECT_EQ(static_cast<int32_t>(handled), state.filesScanned.load());
  EXPECT_EQ(state.filesScanned.load(), state.filesRestored.load()) << "every file begun was deleted in full";
  for (const std::wstring& path : shown.Paths()) EXPECT_FALSE(test::Exists(path));
  size_t left = 0;
  test::WalkTree(root, [&](const std::wstring&, bool isDirectory) { left += !isDirectory; });
  EXPECT_EQ(600u - handled, left) << "nothing else was touched";
}

TEST(InspectorCountTest, TwiceTheCoresAtMostEightOneOnASpinningDisk) {
  using engine::SeekPenalty;
  const struct {
    unsigned cores;
    SeekPenalty penalty;
    int threads;
  } rows[] = {
      {0, SeekPenalty::kNone, 2},    {1, SeekPenalty::kNone, 2}, {2, SeekPenalty::kNone, 4},
      {3, SeekPenalty::kUnknown, 6}, {4, SeekPenalty::kNone, 8}, {64, SeekPenalty::kUnknown, 8},
      {2, SeekPenalty::kHas, 1},     {16, SeekPenalty::kHas, 1},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.threads, engine::InspectorCount(row.cores, row.penalty)) << row.cores << " cores";
}

TEST(DriveRootsTest, ListTooLongForTheFirstBufferIsFetchedAgain) {
  const std::vector<std::wstring> roots = engine::GetDriveRoots();
  ASSERT_FALSE(roots.empty());
  EXPECT_EQ(L"C:\\", roots.front());
  for (const std::wstring& root : roots) EXPECT_EQ(3u, root.size());
  // A first buffer that holds less than one root: every drive is still seen.
  EXPECT_EQ(roots, engine::GetDriveRoots(2));
  EXPECT_EQ(roots, engine::GetDriveRoots(static_cast<DWORD>(roots.size() * 4 - 1)));
}

}  // namespace
