#include "engine/scan_file.h"

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "engine/marker.h"
#include "tests/support/scan_paths.h"
#include "tests/support/test_support.h"
#include "win/handles.h"
#include "win/os.h"

namespace {

using test::Pattern;
using test::TempDir;

win::FileHandle OpenExclusive(const std::wstring& path) {
  return win::FileHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(BackupCopyNameTest, CutsAtTheLastDot) {
  EXPECT_EQ(L"prog.sql", engine::BackupCopyName(L"prog.exe"));
  EXPECT_EQ(L"prog.tar.sql", engine::BackupCopyName(L"prog.tar.gz"));
  EXPECT_EQ(L".sql", engine::BackupCopyName(L".profile"));
  EXPECT_EQ(L"prog.sql", engine::BackupCopyName(L"prog.sql"));
  EXPECT_EQ(L"", engine::BackupCopyName(L"prog"));
}

// The progress lines as the walk would show them.
struct Sink : test::ProgressRecorder {
  std::wstring line() const { return LastLine(); }
  std::wstring path() const { return shown.empty() ? std::wstring() : shown.back().path; }
};

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
    EXPECT_TRUE(test::RestoreVirusFile(path));
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

  EXPECT_TRUE(test::RestoreVirusFile(path));
  EXPECT_EQ("former contents", test::ReadBytes(path));
  EXPECT_EQ(0u, test::Attributes(path) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(test::Exists(copy));
}

TEST_F(RestoreTest, WithoutCopyTheFileIsDeletedEvenHiddenSystemReadOnly) {
  const std::wstring plain = Infected(L"plain.exe");
  const std::wstring guarded = Infected(L"guarded.dll");
  SetFileAttributesW(guarded.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(test::RestoreVirusFile(plain));
  EXPECT_TRUE(test::RestoreVirusFile(guarded));
  EXPECT_FALSE(test::Exists(plain));
  EXPECT_FALSE(test::Exists(guarded));
}

TEST_F(RestoreTest, WithoutAnyDotNothingIsTouched) {
  dir.MakeDir(L"bin");
  const std::wstring path = Infected(L"bin\\prog");
  const std::string before = test::ReadBytes(path);
  EXPECT_FALSE(test::RestoreVirusFile(path));
  EXPECT_EQ(before, test::ReadBytes(path));
}

TEST_F(RestoreTest, DotOnlyInADirectoryNameCountsAsNoDot) {
  dir.MakeDir(L"a.b");
  const std::wstring path = Infected(L"a.b\\prog");
  // What the cut at the directory's "." would take for the backup copy.
  const std::wstring stranger = dir.Write(L"a.sql", "somebody else's data");
  const std::string before = test::ReadBytes(path);

  EXPECT_FALSE(test::RestoreVirusFile(path));
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
    EXPECT_FALSE(test::RestoreVirusFile(path));
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
    EXPECT_FALSE(test::RestoreVirusFile(path));
  }
  EXPECT_EQ(before, test::ReadBytes(path)) << "the infected file is not deleted";
  EXPECT_NE(0u, test::Attributes(path) & FILE_ATTRIBUTE_READONLY) << "its attributes are put back";
  EXPECT_EQ("former", test::ReadBytes(copy)) << "the backup copy is kept for a later run";
}

// A failed write, and a stop requested while the copy is under way: the copy is abandoned
// between two chunks and both files stay as they were, with nothing left beside them.
TEST_F(RestoreTest, ACopyCutShortLeavesBothFilesAsTheyWere) {
  engine::ScanState state;
  const struct {
    const char* what;
    std::function<bool(uint64_t offset)> writeSucceeds;
  } cases[] = {
      {"the disk fills after one chunk", [](uint64_t offset) { return offset < 4096; }},
      {"a stop is requested during the second chunk",
       [&](uint64_t offset) {
         if (offset == 4096) state.stopRequested = 1;
         return true;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring path = Infected();
    const std::string before = test::ReadBytes(path);
    const std::string former = Pattern(3 * 4096 + 5, 'e');
    const std::wstring copy = dir.Write(L"prog.sql", former);
    engine::ScanHooks hooks;
    hooks.writeSucceeds = c.writeSucceeds;
    EXPECT_FALSE(test::RestoreVirusFile(path, &hooks, &state));
    EXPECT_TRUE(before == test::ReadBytes(path)) << "the infected file keeps its old bytes, not a mix";
    EXPECT_TRUE(former == test::ReadBytes(copy)) << "the backup copy is kept";
    EXPECT_EQ(2u, test::Names(dir.path()).size()) << "no new file is left beside them";
  }
}

// A copy that will never be trusted doesn't keep the virus alive: the infected file, tested
// through its own handle, goes, and whatever stands at the copy's name stays as it was.
TEST_F(RestoreTest, AnUntrustedCopyStaysAndTheVirusGoes) {
  const std::wstring outside = dir.Write(L"somebody else's.doc", "somebody else's data");
  const struct {
    const char* what;
    std::wstring folder;  // with a trailing backslash; prog.exe goes into it
    std::function<void(const std::wstring& copy)> make;
  } cases[] = {
      {"a hard link to another file", dir.MakeDir(L"hard") + L"\\",
       [&](const std::wstring& copy) { CreateHardLinkW(copy.c_str(), outside.c_str(), nullptr); }},
      {"a directory", dir.MakeDir(L"dir") + L"\\",
       [&](const std::wstring& copy) { CreateDirectoryW(copy.c_str(), nullptr); }},
      {"the virus itself", dir.MakeDir(L"virus") + L"\\",
       [&](const std::wstring& copy) { CopyFileW(test::FixturePath(L"marker_lower").c_str(), copy.c_str(), FALSE); }},
      // Planted by scripts/test.sh from the host: a symbolic link to T:\links\outside\prog.sql,
      // a copy that lies in another directory, and a FIFO whose writer stays open, which
      // a read would wait on for ever.
      {"a link to a copy elsewhere", L"T:\\links\\copy\\", nullptr},
      {"a FIFO", L"T:\\links\\fifo-copy\\", nullptr},
  };
  ASSERT_TRUE(test::WriteBytes(L"T:\\links\\outside\\prog.sql", "somebody else's data"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring path = c.folder + L"prog.exe", copy = c.folder + L"prog.sql";
    ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), path.c_str(), FALSE));
    if (c.make) c.make(copy);
    // Wine gives no attributes for a FIFO by its path, and its bytes are never read.
    const bool fifo = c.folder.find(L"fifo") != std::wstring::npos;
    const DWORD copyAttributes = fifo ? 0 : test::Attributes(copy);
    ASSERT_EQ(1u, test::Names(c.folder).count(L"prog.sql"));
    const std::string copyBefore = fifo || (copyAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "" : test::ReadBytes(copy);

    EXPECT_TRUE(test::RestoreVirusFile(path));
    EXPECT_FALSE(test::Exists(path)) << "the virus is gone";
    EXPECT_EQ(1u, test::Names(c.folder).count(L"prog.sql"));
    if (!fifo) {
      EXPECT_EQ(copyAttributes, test::Attributes(copy));
    }
    if (!copyBefore.empty()) {
      EXPECT_TRUE(copyBefore == test::ReadBytes(copy));
    }
  }
  EXPECT_EQ("somebody else's data", test::ReadBytes(outside));
  EXPECT_EQ("somebody else's data", test::ReadBytes(L"T:\\links\\outside\\prog.sql"));
}

// The virus as its own copy, under its own name or another: every name of it goes, and
// nothing is restored from it. Before, its open copy kept its deletion out and it stayed.
TEST_F(RestoreTest, TheVirusIsNeverItsOwnCopy) {
  const struct {
    const char* what;
    const wchar_t* scanned;
    bool hardLink;  // x.sql another name of x.exe; otherwise x.sql is the virus itself
  } rows[] = {{"x.sql, itself infected", L"self\\x.sql", false},
              {"x.sql, a hard link to the infected x.exe", L"linked\\x.exe", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    dir.MakeDir(std::wstring(row.scanned).substr(0, std::wstring(row.scanned).find(L'\\')));
    const std::wstring scanned = Infected(row.scanned);
    const std::wstring folder = scanned.substr(0, scanned.rfind(L'\\') + 1);
    if (row.hardLink) {
      ASSERT_TRUE(CreateHardLinkW((folder + L"x.sql").c_str(), scanned.c_str(), nullptr));
    }
    EXPECT_TRUE(test::RestoreVirusFile(scanned));
    EXPECT_TRUE(test::Names(folder).empty()) << "no name of the virus is left";
  }
}

// A file system without 128-bit ids answers FileIdInfo with an id of 0 (MS-FSCC 2.4.21): the
// 64-bit index stands in. Where that is 0 too, the file has no id, and nothing may pass
// for it: it is found and left as it is.
bool gNoIndexEither = false;
decltype(win::os::Calls::GetFileInformationByHandleEx) gInformationEx;
decltype(win::os::Calls::GetFileInformationByHandle) gInformation;
BOOL WINAPI NoFullId(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, void* buffer, DWORD bytes) {
  if (kind != static_cast<FILE_INFO_BY_HANDLE_CLASS>(0x12)) return gInformationEx(file, kind, buffer, bytes);
  std::memset(buffer, 0, bytes);  // FileIdInfo
  return TRUE;
}
BOOL WINAPI NoIndex(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  if (!gInformation(file, information)) return FALSE;
  if (gNoIndexEither) information->nFileIndexHigh = information->nFileIndexLow = 0;
  return TRUE;
}

TEST_F(RestoreTest, AZeroIdIsNoIdAndTheIndexStandsIn) {
  for (const bool noIndex : {false, true}) {
    SCOPED_TRACE(noIndex ? "no index either" : "a 64-bit index");
    gNoIndexEither = noIndex;
    const std::wstring path = Infected(noIndex ? L"none.exe" : L"index.exe");
    const std::wstring copy = dir.Write(noIndex ? L"none.sql" : L"index.sql", "former");
    const std::string before = test::ReadBytes(path);
    test::DoorEntry<decltype(win::os::Calls::GetFileInformationByHandleEx)> fullId(
        win::os::Table().GetFileInformationByHandleEx, &NoFullId);
    test::DoorEntry<decltype(win::os::Calls::GetFileInformationByHandle)> index(
        win::os::Table().GetFileInformationByHandle, &NoIndex);
    gInformationEx = fullId.previous();
    gInformation = index.previous();
    EXPECT_EQ(!noIndex, test::RestoreVirusFile(path));
    EXPECT_EQ(noIndex ? before : "former", test::ReadBytes(path));
    EXPECT_EQ(noIndex, test::Exists(copy));
  }
}

// On a volume of 256 MiB that scripts/test.sh mounts (T:\smallvol), a sparse copy of 100 GiB
// can't fit: it isn't attempted, both files stay, and the volume is left as it was.
TEST_F(RestoreTest, ACopyLargerThanTheVolumesFreeSpaceIsNotAttempted) {
  if (!test::Exists(L"T:\\smallvol\\mounted"))
    GTEST_SKIP() << "no small volume: scripts/test.sh mounts one only when it runs as root";
  const std::wstring folder = L"T:\\smallvol\\" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring path = folder + L"\\prog.exe", copy = folder + L"\\prog.sql";
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), path.c_str(), FALSE));
  {
    const win::FileHandle sparse(CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    LARGE_INTEGER size;
    size.QuadPart = 100LL << 30;
    ASSERT_TRUE(sparse && SetFilePointerEx(sparse.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(sparse.get()));
  }
  ULARGE_INTEGER freeBefore{}, freeAfter{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &freeBefore, nullptr, nullptr));
  const std::string before = test::ReadBytes(path);

  int writes = 0;
  engine::ScanHooks hooks;
  hooks.writeSucceeds = [&](uint64_t) { return ++writes > 0; };
  EXPECT_FALSE(test::RestoreVirusFile(path, &hooks));
  EXPECT_EQ(0, writes) << "not a byte of it was written";
  EXPECT_TRUE(before == test::ReadBytes(path));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(100ull << 30, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  EXPECT_EQ(2u, test::Names(folder + L"\\").size());
  ASSERT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &freeAfter, nullptr, nullptr));
  EXPECT_EQ(freeBefore.QuadPart, freeAfter.QuadPart);
  test::RemoveTree(folder);
}

// Test and action meet the same file: a folder swapped after the verdict changes nothing
// in the folder that now stands at its path.
TEST_F(RestoreTest, AFolderSwappedAfterTheVerdictChangesNothingElse) {
  const std::wstring folder = dir.MakeDir(L"infected");
  const std::wstring path = Infected(L"infected\\prog.exe");
  dir.Write(L"infected\\prog.sql", "former");
  const std::wstring other = dir.MakeDir(L"other");
  dir.Write(L"other\\prog.exe", "somebody else's program");
  dir.Write(L"other\\prog.sql", "somebody else's data");

  engine::ScanState state;
  Sink sink;
  engine::ScanHooks hooks;
  hooks.afterVerdict = [&](const std::wstring&) {
    ASSERT_TRUE(MoveFileW(folder.c_str(), (folder + L".away").c_str()));
    ASSERT_TRUE(MoveFileW(other.c_str(), folder.c_str()));
  };
  EXPECT_TRUE(test::ScanFile(path, state, sink, &hooks));
  EXPECT_EQ(1, state.virusesFound.load());
  EXPECT_EQ("somebody else's program", test::ReadBytes(path));
  EXPECT_EQ("somebody else's data", test::ReadBytes(dir / L"infected\\prog.sql"));
  // The original is restored where it went, or left with its copy for a later run.
  const std::string original = test::ReadBytes(dir / L"infected.away\\prog.exe");
  if (state.filesRestored.load() == 1)
    EXPECT_EQ("former", original);
  else
    EXPECT_EQ("former", test::ReadBytes(dir / L"infected.away\\prog.sql"));
}

class ScanFileTest : public testing::Test {
 protected:
  TempDir dir;
  Sink view;
  engine::ScanState state;
};

// Anyone may mark their own file offline, and it still runs: it is tested like any other.
TEST_F(ScanFileTest, APlainFileMarkedOfflineIsTested) {
  const std::wstring path = dir.CopyFixture(L"marker_exact", L"away.exe");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_OFFLINE));
  if (!(test::Attributes(path) & FILE_ATTRIBUTE_OFFLINE)) GTEST_SKIP() << "this file system keeps no offline mark";
  test::ScanFile(path, state, view);
  EXPECT_EQ(L"已扫描1个文件，查出1个病毒，恢复1个文件", view.line());
  EXPECT_FALSE(test::Exists(path));
}

// How often a file's own final path (not its folder's) was asked for.
int gFinalPaths = 0;
decltype(win::os::Calls::GetFinalPathNameByHandleW) gFinalPath;
DWORD WINAPI CountedFinalPath(HANDLE file, wchar_t* path, DWORD chars, DWORD flags) {
  const DWORD length = gFinalPath(file, path, chars, flags);
  if (length && length < chars && std::wstring(path, length).find(L".txt") != std::wstring::npos) ++gFinalPaths;
  return length;
}

TEST_F(ScanFileTest, CountsAndProgressTexts) {
  {
    // A clean file is never asked where it stands: that proof is for what is acted on, and
    // under Wine it cost more than the rest of a file's scan.
    test::DoorEntry<decltype(win::os::Calls::GetFinalPathNameByHandleW)> counted(
        win::os::Table().GetFinalPathNameByHandleW, &CountedFinalPath);
    gFinalPath = counted.previous();
    gFinalPaths = 0;
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(test::ScanFile(dir.Write(L"clean" + std::to_wstring(i) + L".txt", "x"), state, view));
    EXPECT_EQ(0, gFinalPaths);
  }
  EXPECT_EQ(L"已扫描3个文件，未发现病毒", view.line());
  EXPECT_EQ(dir / L"clean2.txt", view.path());

  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"prog.exe");
  dir.Write(L"prog.sql", "former");
  EXPECT_TRUE(test::ScanFile(infected, state, view));
  EXPECT_TRUE(test::ScanFile(dir.Write(L"clean3.txt", "y"), state, view));

  EXPECT_EQ(L"已扫描5个文件，查出1个病毒，恢复1个文件", view.line());
  EXPECT_EQ(dir / L"clean3.txt", view.path());
  EXPECT_EQ(5, state.filesScanned.load());
  EXPECT_EQ(1, state.virusesFound.load());
  EXPECT_EQ(1, state.filesRestored.load());
  EXPECT_EQ("former", test::ReadBytes(infected));
}

TEST_F(ScanFileTest, FoundButNotRestoredCountsOnlyAsFound) {
  dir.MakeDir(L"bin");
  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"bin\\prog");
  EXPECT_TRUE(test::ScanFile(infected, state, view));
  // Without a copy, and held open by someone who lets nobody delete it: not deleted, not counted.
  const std::wstring held = dir.CopyFixture(L"marker_exact", L"held.exe");
  const win::FileHandle holder(
      CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_TRUE(test::ScanFile(held, state, view));
  EXPECT_TRUE(test::Exists(held));
  EXPECT_EQ(2, state.virusesFound.load());
  EXPECT_EQ(0, state.filesRestored.load());
  EXPECT_EQ(L"已扫描2个文件，查出2个病毒，恢复0个文件", view.line());
}

TEST_F(ScanFileTest, StopRequestStillHandlesTheFileInFull) {
  state.stopRequested = 1;
  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"prog.exe");
  dir.Write(L"prog.sql", "former");
  EXPECT_FALSE(test::ScanFile(infected, state, view));
  EXPECT_EQ(1, state.filesScanned.load());
  EXPECT_EQ(1, state.filesRestored.load());
  EXPECT_EQ("former", test::ReadBytes(infected));
  EXPECT_EQ(infected, view.path());
}

// The commonest disguise, in a user's own folder: under Wine the version services read
// Wine's svchost.exe for any file of that name and would miss it.
TEST_F(ScanFileTest, InfectedSvchostInAUserFolderIsFoundAndRestored) {
  wchar_t profile[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH), 0u);
  const std::wstring folder = std::wstring(profile) + L"\\Downloads\\mfk-" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring infected = folder + L"\\svchost.exe";
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), infected.c_str(), FALSE));
  ASSERT_TRUE(test::WriteBytes(folder + L"\\svchost.sql", "former"));
  EXPECT_TRUE(test::ScanFile(infected, state, view));
  EXPECT_EQ(1, state.virusesFound.load());
  EXPECT_EQ(1, state.filesRestored.load());
  EXPECT_EQ("former", test::ReadBytes(infected));
  test::RemoveTree(folder);
}

}  // namespace
