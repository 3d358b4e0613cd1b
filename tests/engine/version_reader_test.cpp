// Our own version reader against the version services: on every file of the prefix's
// Windows folder (hundreds of real executables, libraries and data files, one with 36
// languages) and on every fixture, the company name and the verdict are the same.
//
// Wine's services read Wine's own module instead of a file named like one (svchost.exe,
// kernel32.dll, ...), so they are asked about a hard link to the file under a name of no
// module; the reader is asked about the file itself. These services don't expand an
// LZ-compressed file, so they are asked about what the system's LZ functions expand it to.
#include <windows.h>
#include <lzexpand.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <memory>
#include <new>

#include "engine/lz_expand.h"
#include "engine/marker.h"
#include "tests/native/memory_source.h"
#include "tests/support/scan_paths.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

// The company name as the version services give it: the block's size, the block, then the
// CompanyName of each translation in turn, the last one winning even when it is empty.
bool ServicesCompanyName(const std::wstring& path, std::wstring& name) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return false;
  std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
  if (!block || !GetFileVersionInfoW(path.c_str(), handle, size, block.get())) return false;
  struct LangCodePage {
    WORD language, codePage;
  }* table = nullptr;
  UINT tableBytes = 0;
  VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&table), &tableBytes);
  name.clear();
  for (UINT i = 0; table && i < tableBytes / sizeof *table; ++i) {
    wchar_t query[50];
    std::swprintf(query, 50, L"\\StringFileInfo\\%04x%04x\\CompanyName", table[i].language, table[i].codePage);
    wchar_t* value = nullptr;
    UINT chars = 0;
    if (VerQueryValueW(block.get(), query, reinterpret_cast<void**>(&value), &chars) && value && chars > 0)
      name.assign(value, wcsnlen(value, chars));
    else
      name.clear();
  }
  while (!name.empty() && std::iswspace(name.back())) name.pop_back();
  return true;
}

bool Compressed(const std::wstring& path) {
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  char head[4] = {};
  DWORD read = 0;
  return file && ReadFile(file.get(), head, sizeof head, &read, nullptr) && read == sizeof head &&
         std::memcmp(head, "SZDD", sizeof head) == 0;
}

// What the system's LZ functions expand a file to; a file they don't take for compressed,
// as it is.
std::string Expanded(const std::wstring& path) {
  OFSTRUCT unused{};
  const INT lz = LZOpenFileW(const_cast<LPWSTR>(path.c_str()), &unused, OF_READ);
  std::string bytes;
  char chunk[4096];
  for (INT got; lz >= 0 && (got = LZRead(lz, chunk, sizeof chunk)) > 0;) bytes.append(chunk, got);
  if (lz >= 0) LZClose(lz);
  return bytes;
}

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
  // The same bytes under a neutral name: a hard link, or a copy where a link can't be made;
  // a compressed file expanded. Names are never reused within the process: run in one
  // process, the second test was answered from the file the first one had read under the
  // same name.
  std::wstring Neutral(const std::wstring& path) {
    const std::wstring name = path_ + L"candidate" + std::to_wstring(next_++) + L".bin";
    if (Compressed(path))
      test::WriteBytes(name, Expanded(path));
    else if (!CreateHardLinkW(name.c_str(), path.c_str(), nullptr))
      CopyFileW(path.c_str(), name.c_str(), FALSE);
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
    const bool oursOk = test::GetFileCompanyName(path, ours);
    const bool isFile = !(test::Attributes(path) & FILE_ATTRIBUTE_DIRECTORY);
    const std::wstring neutral = test::Exists(path) && isFile ? links.Neutral(path) : path;
    const bool servicesOk = ServicesCompanyName(neutral, services);
    EXPECT_EQ(servicesOk, oursOk) << test::Utf8(path);
    EXPECT_EQ(services, ours) << test::Utf8(path);
    ++tally.files;
    tally.versioned += servicesOk;
    tally.infected += test::IsVirusFile(path);
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
  files.push_back(dir.Write(L"huge.ex_", std::string("SZDD\x88\xF0\x27\x33"
                                                     "A\0\xFF\xFF\xFF\xFF",
                                                     14)));
  files.push_back(dir.Write(L"zm.exe", "ZM"));
  files.push_back(dir.MakeDir(L"folder.exe"));
  files.push_back(dir / L"missing.exe");
  // The infected fixture named like the commonest disguise, a module of the system's.
  files.push_back(dir.CopyFixture(L"marker_exact", L"svchost.exe"));
  const Tally tally = ExpectSameReads(files);
  EXPECT_GE(tally.infected, 5u) << "the infected fixtures are still found";
}

// The compressed fixtures (tests/fixtures/szdd.py, with pairs reaching into the window's
// initial spaces): the system's LZ functions and our expander expand each to its
// original, and our reader reads each as that original.
TEST(VersionReaderTest, CompressedExecutablesAreStillRead) {
  for (const std::wstring original : {L"marker_exact", L"clean_company", L"ne_marker"}) {
    const std::wstring compressed = test::FixturePath(L"lz_" + original), plain = test::FixturePath(original);
    const std::string bytes = test::ReadBytes(compressed), expected = test::ReadBytes(plain);
    EXPECT_TRUE(Expanded(compressed) == expected) << test::Utf8(compressed);
    MemorySource file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    engine::LzExpandedSource expander(file);
    std::string ours(expected.size(), '\0');
    EXPECT_TRUE(expander.Open() && expander.Size() == ours.size() && expander.Read(0, &ours[0], ours.size()) &&
                ours == expected)
        << test::Utf8(compressed);
    std::wstring name, expectedName;
    ASSERT_TRUE(test::GetFileCompanyName(plain, expectedName));
    EXPECT_TRUE(test::GetFileCompanyName(compressed, name)) << test::Utf8(compressed);
    EXPECT_EQ(expectedName, name);
    EXPECT_EQ(test::IsVirusFile(plain), test::IsVirusFile(compressed));
  }
}

}  // namespace
