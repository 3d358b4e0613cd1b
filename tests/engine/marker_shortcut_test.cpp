// The marker test decides from a file's first bytes whether to ask the version services at
// all. These tests prove that this changes no verdict and no company name: on every file
// of the prefix's Windows folder (hundreds of real executables, libraries and data files)
// and on every fixture, the read with the shortcut and the read through the version
// services alone agree.
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

Tally ExpectSameReads(const std::vector<std::wstring>& files) {
  Tally tally;
  for (const std::wstring& path : files) {
    std::wstring fast = L"sentinel", slow = L"sentinel";
    const bool fastOk = engine::GetFileCompanyName(path.c_str(), fast);
    const bool slowOk = engine::GetFileCompanyNameFromVersionServices(path.c_str(), slow);
    EXPECT_EQ(slowOk, fastOk) << test::Utf8(path);
    EXPECT_EQ(slow, fast) << test::Utf8(path);
    ++tally.files;
    tally.versioned += slowOk;
    tally.infected += engine::IsVirusFile(path.c_str());
  }
  return tally;
}

TEST(MarkerShortcutTest, SameReadsOnEveryFileOfTheWindowsFolder) {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::vector<std::wstring> files = FilesBelow(windows);
  const Tally tally = ExpectSameReads(files);
  EXPECT_GT(tally.files, 500u);
  EXPECT_GT(tally.versioned, 200u) << "real executables with version resources among them";
  EXPECT_EQ(0u, tally.infected);
  std::printf("%zu files, %zu with a version resource\n", tally.files, tally.versioned);
}

TEST(MarkerShortcutTest, SameReadsOnEveryFixtureAndOddFiles) {
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

TEST(MarkerShortcutTest, CompressedExecutablesAreStillRead) {
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
    // Either way the shortcut sends an "SZDD" file to the version services.
    EXPECT_FALSE(engine::IsVirusFile(infected.c_str()));
    GTEST_SKIP() << "these version services don't expand LZ-compressed files (Windows' do)";
  }
  const Tally tally = ExpectSameReads({infected, clean});
  EXPECT_EQ(2u, tally.versioned);
  EXPECT_EQ(1u, tally.infected);
}

}  // namespace
