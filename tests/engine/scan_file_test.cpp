#include "engine/scan_file.h"

#include <gtest/gtest.h>

#include "engine/marker.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

using test::Pattern;
using test::TempDir;

win::FileHandle OpenExclusive(const std::wstring& path) {
  return win::FileHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(BackupCopyPathTest, CutsAtTheLastDotOfTheFileName) {
  EXPECT_EQ(L"C:\\a\\prog.sql", engine::BackupCopyPath(L"C:\\a\\prog.exe"));
  EXPECT_EQ(L"C:\\a\\prog.tar.sql", engine::BackupCopyPath(L"C:\\a\\prog.tar.gz"));
  EXPECT_EQ(L"C:\\a\\.sql", engine::BackupCopyPath(L"C:\\a\\.profile"));
  EXPECT_EQ(L"C:\\a\\prog.sql", engine::BackupCopyPath(L"C:\\a\\prog.sql"));
  EXPECT_EQ(L"", engine::BackupCopyPath(L"C:\\dir\\prog"));
  // A "." only in a directory name would point at a file in the parent directory.
  EXPECT_EQ(L"", engine::BackupCopyPath(L"C:\\a.b\\prog"));
}

class RestoreTest : public testing::Test {
 protected:
  TempDir dir;
  std::wstring Infected(const std::wstring& name = L"prog.exe") { return dir.CopyFixture(L"marker_exact", name); }
};

TEST_F(RestoreTest, LongerShorterAndEmptyCopiesAreRestoredByteForByte) {
  const size_t exeSize = test::ReadBytes(test::FixturePath(L"marker_exact")).size();
  ASSERT_GT(exeSize, 4096u);
  // Longer than the infected file and not a whole number of chunks; shorter; empty.
  const std::string contents[] = {Pattern(exeSize * 2 + 123, 'a'), Pattern(10, 'b'), std::string()};
  int n = 0;
  for (const std::string& former : contents) {
    const std::wstring stem = L"file" + std::to_wstring(n++);
    const std::wstring path = Infected(stem + L".exe");
    const std::wstring copy = dir.Write(stem + L".sql", former);
    EXPECT_TRUE(engine::RestoreVirusFile(path));
    const std::string restored = test::ReadBytes(path);
    EXPECT_EQ(former.size(), restored.size());
    EXPECT_TRUE(former == restored) << "holds exactly the former bytes, size " << former.size();
    EXPECT_FALSE(test::Exists(copy)) << "the backup copy is deleted";
  }
}

TEST_F(RestoreTest, ReadOnlyInfectedFileAndReadOnlyCopy) {
  const std::wstring path = Infected();
  const std::wstring copy = dir.Write(L"prog.sql", "former contents");
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(engine::RestoreVirusFile(path));
  EXPECT_EQ("former contents", test::ReadBytes(path));
  EXPECT_EQ(0u, test::Attributes(path) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(test::Exists(copy));
}

TEST_F(RestoreTest, WithoutCopyTheFileIsDeletedEvenHiddenSystemReadOnly) {
  const std::wstring plain = Infected(L"plain.exe");
  const std::wstring guarded = Infected(L"guarded.dll");
  SetFileAttributesW(guarded.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(engine::RestoreVirusFile(plain));
  EXPECT_TRUE(engine::RestoreVirusFile(guarded));
  EXPECT_FALSE(test::Exists(plain));
  EXPECT_FALSE(test::Exists(guarded));
}

TEST_F(RestoreTest, WithoutAnyDotNothingIsTouched) {
  dir.MakeDir(L"bin");
  const std::wstring path = Infected(L"bin\\prog");
  const std::string before = test::ReadBytes(path);
  EXPECT_FALSE(engine::RestoreVirusFile(path));
  EXPECT_EQ(before, test::ReadBytes(path));
}

TEST_F(RestoreTest, DotOnlyInADirectoryNameCountsAsNoDot) {
  dir.MakeDir(L"a.b");
  const std::wstring path = Infected(L"a.b\\prog");
  // What the cut at the directory's "." would take for the backup copy.
  const std::wstring stranger = dir.Write(L"a.sql", "somebody else's data");
  const std::string before = test::ReadBytes(path);

  EXPECT_FALSE(engine::RestoreVirusFile(path));
  EXPECT_EQ(before, test::ReadBytes(path));
  EXPECT_EQ("somebody else's data", test::ReadBytes(stranger));
}

TEST_F(RestoreTest, FileHeldOpenWithoutSharingStaysUnchanged) {
  const std::wstring path = Infected();
  const std::wstring copy = dir.Write(L"prog.sql", "former");
  const std::string before = test::ReadBytes(path);
  {
    win::FileHandle holder = OpenExclusive(path);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(engine::RestoreVirusFile(path));
  }
  EXPECT_EQ(before, test::ReadBytes(path));
  EXPECT_EQ("former", test::ReadBytes(copy));
}

TEST_F(RestoreTest, CopyThatCannotBeOpenedKeepsBothFiles) {
  const std::wstring path = Infected();
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring copy = dir.Write(L"prog.sql", "former");
  const std::string before = test::ReadBytes(path);
  {
    win::FileHandle holder = OpenExclusive(copy);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(engine::RestoreVirusFile(path));
  }
  EXPECT_EQ(before, test::ReadBytes(path)) << "the infected file is not deleted";
  EXPECT_NE(0u, test::Attributes(path) & FILE_ATTRIBUTE_READONLY) << "its attributes are put back";
  EXPECT_EQ("former", test::ReadBytes(copy)) << "the backup copy is kept for a later run";
}

// A byte-range lock held by another handle makes ReadFile/WriteFile fail on that range
// on Windows. Wine keeps such locks only against other lock calls.
TEST_F(RestoreTest, FailedReadKeepsTheCopy) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine does not enforce byte-range locks on ReadFile";
  const std::wstring path = Infected();
  const std::string former = Pattern(3 * 4096 + 5, 'c');
  const std::wstring copy = dir.Write(L"prog.sql", former);
  win::FileHandle locker(
      CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locker);
  ASSERT_TRUE(LockFile(locker.get(), 4096, 0, 4096, 0));

  EXPECT_FALSE(engine::RestoreVirusFile(path));
  UnlockFile(locker.get(), 4096, 0, 4096, 0);
  EXPECT_TRUE(former == test::ReadBytes(copy)) << "the backup copy survives an incomplete restoration";
}

TEST_F(RestoreTest, FailedWriteKeepsTheCopy) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine does not enforce byte-range locks on WriteFile";
  const std::wstring path = Infected();
  const std::string former = Pattern(3 * 4096 + 5, 'd');
  const std::wstring copy = dir.Write(L"prog.sql", former);
  win::FileHandle locker(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(locker);
  ASSERT_TRUE(LockFile(locker.get(), 8192, 0, 4096, 0));

  EXPECT_FALSE(engine::RestoreVirusFile(path));
  UnlockFile(locker.get(), 8192, 0, 4096, 0);
  EXPECT_TRUE(former == test::ReadBytes(copy));
}

// The same two failures, made real under Wine by the harness: in T:\special\full the
// infected file is /dev/full (every write fails, "disk full"), and in T:\special\short the
// backup copy is a sysfs file, whose size says 4096 bytes while a read gives a few.
class SpecialFileTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::RunningUnderWine()) GTEST_SKIP() << "needs the Unix special files that the Wine harness links";
    // Wine reports no attributes for a device, but opens it.
    ASSERT_TRUE(win::FileHandle(
        CreateFileW(L"T:\\special\\full\\prog.exe", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)))
        << "scripts/test.sh links it";
    ASSERT_TRUE(test::Exists(L"T:\\special\\short\\prog.sql")) << "scripts/test.sh links it";
  }
};

TEST_F(SpecialFileTest, WriteFailureKeepsTheCopyAndCountsNothing) {
  const std::wstring copy = L"T:\\special\\full\\prog.sql";
  const std::string former = Pattern(2 * 4096 + 17, 'e');
  ASSERT_TRUE(test::WriteBytes(copy, former));
  EXPECT_FALSE(engine::RestoreVirusFile(L"T:\\special\\full\\prog.exe"));
  EXPECT_TRUE(former == test::ReadBytes(copy)) << "the backup copy is kept";
  DeleteFileW(copy.c_str());
}

TEST_F(SpecialFileTest, ShortReadKeepsTheCopyAndTheFile) {
  const std::wstring path = L"T:\\special\\short\\prog.exe";
  ASSERT_TRUE(test::WriteBytes(path, "infected bytes"));
  EXPECT_FALSE(engine::RestoreVirusFile(path));
  EXPECT_EQ("infected bytes", test::ReadBytes(path));
  EXPECT_TRUE(test::Exists(L"T:\\special\\short\\prog.sql"));
  DeleteFileW(path.c_str());
}

class ScanFileTest : public testing::Test {
 protected:
  void SetUp() override { view = {window.hwnd(), 1017, 1016}; }
  TempDir dir;
  test::ScanWindow window;
  engine::ScanState state;
  engine::ProgressView view;
};

TEST_F(ScanFileTest, CountsAndProgressTexts) {
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(engine::ScanFile(dir.Write(L"clean" + std::to_wstring(i) + L".txt", "x"), state, view));
  EXPECT_EQ(L"已扫描3个文件，未发现病毒", window.Text(1017));
  EXPECT_EQ(dir / L"clean2.txt", window.Text(1016));

  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"prog.exe");
  dir.Write(L"prog.sql", "former");
  EXPECT_TRUE(engine::ScanFile(infected, state, view));
  EXPECT_TRUE(engine::ScanFile(dir.Write(L"clean3.txt", "y"), state, view));

  EXPECT_EQ(L"已扫描5个文件，查出1个病毒，恢复1个文件", window.Text(1017));
  EXPECT_EQ(dir / L"clean3.txt", window.Text(1016));
  EXPECT_EQ(5, state.filesScanned.load());
  EXPECT_EQ(1, state.virusesFound.load());
  EXPECT_EQ(1, state.filesRestored.load());
  EXPECT_EQ("former", test::ReadBytes(infected));
}

TEST_F(ScanFileTest, FoundButNotRestoredCountsOnlyAsFound) {
  dir.MakeDir(L"bin");
  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"bin\\prog");
  EXPECT_TRUE(engine::ScanFile(infected, state, view));
  EXPECT_EQ(1, state.virusesFound.load());
  EXPECT_EQ(0, state.filesRestored.load());
  EXPECT_EQ(L"已扫描1个文件，查出1个病毒，恢复0个文件", window.Text(1017));
}

TEST_F(ScanFileTest, StopRequestStillHandlesTheFileInFull) {
  state.stopRequested = 1;
  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"prog.exe");
  dir.Write(L"prog.sql", "former");
  EXPECT_FALSE(engine::ScanFile(infected, state, view));
  EXPECT_EQ(1, state.filesScanned.load());
  EXPECT_EQ(1, state.filesRestored.load());
  EXPECT_EQ("former", test::ReadBytes(infected));
  EXPECT_EQ(infected, window.Text(1016));
}

TEST(ProgressLineTest, Texts) {
  EXPECT_EQ(L"已扫描0个文件，未发现病毒", engine::FormatProgressLine(0, 0, 0));
  EXPECT_EQ(L"已扫描12个文件，查出3个病毒，恢复2个文件", engine::FormatProgressLine(12, 3, 2));
}

}  // namespace
