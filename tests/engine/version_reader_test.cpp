// Our own version reader against the version services: on every file of the prefix's
// Windows folder (hundreds of real executables, libraries and data files, one with 36
// languages) and on every fixture, the company name and the verdict are the same.
//
// Wine's services read Wine's own module instead of a file named like one (svchost.exe,
// kernel32.dll, ...), so they are asked about a hard link to the file under a name of no
// module; the reader is asked about the file itself.
#include <windows.h>
#include <lzexpand.h>

#include <gtest/gtest.h>

#include "engine/marker.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::wstring> FilesBelow(const std::wstring& dir) {
  std::vector<std::wstring> files;
  test::WalkTree(dir, [&](const std::wstring& path, bool isDirectory) {
    if (!isDirectory) files.push_back(path);
  });
  return files;
}

struct Tally {
  size_t files = 0, versioned = 0, infected = 0;
};

// A folder on drive C: for the hard links (a link can't cross drives).
class LinkDir {
 public:
  LinkDir() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"mfk-links-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~LinkDir() { test::RemoveTree(path_); }
  // The same bytes under a neutral name: a hard link, or a copy where a link can't be made.
  // Names are never reused within the process: run in one process, the second test was
  // answered from the file the first one had read under the same name.
  std::wstring Neutral(const std::wstring& path) {
    const std::wstring name = path_ + L"candidate" + std::to_wstring(next_++) + L".bin";
    if (!CreateHardLinkW(name.c_str(), path.c_str(), nullptr)) CopyFileW(path.c_str(), name.c_str(), FALSE);
    return name;
  }

 private:
  std::wstring path_;
  static inline int next_ = 0;
};

Tally ExpectSameReads(const std::vector<std::wstring>& files) {
  Tally tally;
  LinkDir links;
  for (const std::wstring& path : files) {
    std::wstring ours = L"sentinel", services = L"sentinel";
    const bool oursOk = engine::GetFileCompanyName(path.c_str(), ours);
    const bool isFile = !(test::Attributes(path) & FILE_ATTRIBUTE_DIRECTORY);
    const std::wstring neutral = test::Exists(path) && isFile ? links.Neutral(path) : path;
    const bool servicesOk = engine::GetFileCompanyNameFromVersionServices(neutral.c_str(), services);
    EXPECT_EQ(servicesOk, oursOk) << test::Utf8(path);
    EXPECT_EQ(services, ours) << test::Utf8(path);
    ++tally.files;
    tally.versioned += servicesOk;
    tally.infected += engine::IsVirusFile(path.c_str());
  }
  return tally;
}

TEST(VersionReaderTest, SameReadsOnEveryFileOfTheWindowsFolder) {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::vector<std::wstring> files = FilesBelow(windows);
  const Tally tally = ExpectSameReads(files);
  EXPECT_GT(tally.files, 500u);
  EXPECT_GT(tally.versioned, 200u) << "real executables with version resources among them";
  EXPECT_EQ(0u, tally.infected);
  std::printf("%zu files, %zu with a version resource\n", tally.files, tally.versioned);
}

TEST(VersionReaderTest, SameReadsOnEveryFixtureAndOddFiles) {
  std::vector<std::wstring> files = FilesBelow(test::ExeDir() + L"fixtures");
  test::TempDir dir;
  // Short files, a lone "M", a text that starts like an image, an empty file, a directory.
  files.push_back(dir.Write(L"empty.exe", ""));
  files.push_back(dir.Write(L"m.exe", "M"));
  files.push_back(dir.Write(L"mz.exe", "MZ"));
  files.push_back(dir.Write(L"mzish.txt", "MZ but no image after it"));
  files.push_back(dir.Write(L"szdd.txt", "SZDD"));
  files.push_back(dir.Write(L"zm.exe", "ZM"));
  files.push_back(dir.MakeDir(L"folder.exe"));
  files.push_back(dir / L"missing.exe");
  // The infected fixture named like the commonest disguise, a module of the system's.
  files.push_back(dir.CopyFixture(L"marker_exact", L"svchost.exe"));
  const Tally tally = ExpectSameReads(files);
  EXPECT_GE(tally.infected, 5u) << "the infected fixtures are still found";
}

// An LZ-compressed file ("SZDD", as made by compress.exe) made of literals only: the
// version services expand such a file before they look for a version resource.
std::string SzddCompress(const std::string& bytes) {
  std::string out("SZDD\x88\xF0\x27\x33", 8);
  out += 'A';   // compression mode
  out += '\0';  // the missing last character of the name
  const uint32_t size = static_cast<uint32_t>(bytes.size());
  out.append(reinterpret_cast<const char*>(&size), 4);
  for (size_t at = 0; at < bytes.size(); at += 8) {
    out += '\xFF';  // eight literals follow
    out += bytes.substr(at, 8);
  }
  return out;
}

TEST(VersionReaderTest, CompressedExecutablesAreStillRead) {
  test::TempDir dir;
  const std::wstring infected =
      dir.Write(L"setup.ex_", SzddCompress(test::ReadBytes(test::FixturePath(L"marker_exact"))));
  const std::wstring clean = dir.Write(L"tool.ex_", SzddCompress(test::ReadBytes(test::FixturePath(L"clean_company"))));
  // The encoding is right: the LZ expander gives the executable back.
  OFSTRUCT unused{};
  const INT lz = LZOpenFileW(const_cast<LPWSTR>(infected.c_str()), &unused, OF_READ);
  ASSERT_GE(lz, 0);
  const std::string original = test::ReadBytes(test::FixturePath(L"marker_exact"));
  std::string expanded(original.size() + 16, '\0');
  const INT got = LZRead(lz, &expanded[0], static_cast<INT>(expanded.size()));
  LZClose(lz);
  ASSERT_EQ(static_cast<INT>(original.size()), got);
  EXPECT_TRUE(original == expanded.substr(0, original.size()));

  std::wstring name;
  if (!engine::GetFileCompanyNameFromVersionServices(infected.c_str(), name)) {
    // Either way the reader leaves an "SZDD" file to the version services.
    EXPECT_FALSE(engine::IsVirusFile(infected.c_str()));
    GTEST_SKIP() << "these version services don't expand LZ-compressed files (Windows' do)";
  }
  const Tally tally = ExpectSameReads({infected, clean});
  EXPECT_EQ(2u, tally.versioned);
  EXPECT_EQ(1u, tally.infected);
}

}  // namespace
