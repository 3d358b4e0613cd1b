#include "engine/marker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "tests/support/scan_paths.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

struct MarkerCase {
  const wchar_t* fixture;
  bool infected;
  const wchar_t* company;
};

std::ostream& operator<<(std::ostream& out, const MarkerCase& c) {
  for (const wchar_t* p = c.fixture; *p; ++p) out << static_cast<char>(*p);
  return out;
}

class MarkerTest : public testing::TestWithParam<MarkerCase> {};

TEST_P(MarkerTest, CompanyNameAndVerdict) {
  const MarkerCase& c = GetParam();
  const std::wstring path = test::FixturePath(c.fixture);
  ASSERT_TRUE(test::Exists(path));

  std::wstring company = L"sentinel";
  ASSERT_TRUE(test::GetFileCompanyName(path, company));
  EXPECT_EQ(std::wstring(c.company), company);
  EXPECT_EQ(c.infected, test::IsVirusFile(path));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MarkerTest,
    testing::Values(MarkerCase{L"marker_exact", true, L"Hermitage Hortative"},
                    MarkerCase{L"marker_lower", true, L"hermitage hortative"},
                    MarkerCase{L"marker_upper_word", true, L"HERMITAGE HORTATIVE Ltd"},
                    MarkerCase{L"marker_inside", true, L"Copyright Hermitage Hortative Software Co."},
                    MarkerCase{L"marker_two_blanks", false, L"Hermitage  Hortative"},
                    MarkerCase{L"marker_hyphen", false, L"Hermitage-Hortative"},
                    // Trailing blanks and tabs go; leading blanks stay.
                    MarkerCase{L"trailing_space", false, L"  Clean Company"},
                    // With two translations the last one decides, even when it has no CompanyName.
                    MarkerCase{L"two_first_marker", false, L"Clean Company"},
                    MarkerCase{L"two_last_marker", true, L"Hermitage Hortative"},
                    MarkerCase{L"two_last_without_company", false, L""},
                    // No translation table: the read succeeds with an empty name.
                    MarkerCase{L"no_translation", false, L""}, MarkerCase{L"clean_company", false, L"Clean Company"},
                    MarkerCase{L"empty_company", false, L""},
                    // Several languages: U.S. English first, else the first one listed.
                    MarkerCase{L"languages_english_marker", true, L"Hermitage Hortative"},
                    MarkerCase{L"languages_german_marker", false, L"Clean Company"},
                    MarkerCase{L"languages_first_listed", true, L"Hermitage Hortative"},
                    // Layouts real modules have: the value as far as its NUL or its stated length.
                    MarkerCase{L"no_terminator", true, L"Hermitage Hortative"},
                    MarkerCase{L"byte_lengths", true, L"Hermitage Hortative"},
                    MarkerCase{L"upper_keys", true, L"Hermitage Hortative"},
                    MarkerCase{L"padded_nodes", true, L"Hermitage Hortative"}, MarkerCase{L"zero_length", false, L""},
                    MarkerCase{L"short_length", false, L"Hermitage"},
                    // Blocks laid out the 16-bit way, in 16-bit (NE) images and in PE images; their
                    // text goes as far as its NUL, whatever its stated length.
                    MarkerCase{L"ne_marker", true, L"Hermitage Hortative"},
                    MarkerCase{L"ne_clean", false, L"Clean Company"},
                    MarkerCase{L"narrow_block", true, L"Hermitage Hortative"},
                    MarkerCase{L"narrow_zero_length", true, L"Hermitage Hortative"}));

// A virtual-device (LE) image has no version resource for us, whatever it carries.
TEST(MarkerTest, NoVersionResourceMissingFileAndDirectoryAreNotInfected) {
  test::TempDir dir;
  const std::wstring text = dir.Write(L"notes.txt", "Hermitage Hortative\r\n");
  const std::wstring candidates[] = {
      test::FixturePath(L"no_version"), test::FixturePath(L"le_marker"), text, dir / L"missing.exe", dir.path(),
      dir.MakeDir(L"sub.exe")};
  for (const std::wstring& path : candidates) {
    std::wstring company = L"sentinel";
    EXPECT_FALSE(test::GetFileCompanyName(path, company));
    EXPECT_EQ(L"sentinel", company) << "the name is left as it was on failure";
    EXPECT_FALSE(test::IsVirusFile(path));
  }
}

TEST(MarkerTest, InfectedCopyAnywhereWithAnyName) {
  test::TempDir dir;
  const std::wstring copy = dir.CopyFixture(L"marker_exact", L"holiday photo.jpg");
  EXPECT_TRUE(test::IsVirusFile(copy));
}

// A pipe where a file was expected is refused before any read: the read would wait for as
// long as the writer keeps it open.
TEST(MarkerTest, APipeIsRefusedUnread) {
  HANDLE reader = nullptr, writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  win::KernelHandle ownReader(reader), ownWriter(writer);
  auto verdict = std::async(std::launch::async, [reader] { return engine::IsVirusFile(reader); });
  const bool answered = verdict.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  ownWriter.reset();  // ends a read that did start
  EXPECT_TRUE(answered) << "the test read from the pipe";
  EXPECT_FALSE(verdict.get());
}

}  // namespace
