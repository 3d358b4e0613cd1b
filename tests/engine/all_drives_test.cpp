// The all-drives walk in the test prefix. Drive C: is the prefix's only fixed drive;
// the harness adds T: (network) and R: (removable), which must never be walked.
#include "engine/walk.h"

#include <gtest/gtest.h>

#include "tests/support/scan_paths.h"
#include "tests/support/test_support.h"

namespace {

// A directory of the test's own on another drive, removed afterwards.
class DriveDir {
 public:
  explicit DriveDir(const std::wstring& root)
      : path_(root + L"mfk-all-drives-" + std::to_wstring(GetCurrentProcessId())) {
    test::RemoveTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~DriveDir() { test::RemoveTree(path_); }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(AllDrivesTest, WalksFixedDrivesOnly) {
  ASSERT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeW(L"C:\\"));
  ASSERT_EQ(static_cast<UINT>(DRIVE_REMOTE), GetDriveTypeW(L"T:\\")) << "the harness maps T: as a network drive";
  ASSERT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), GetDriveTypeW(L"R:\\")) << "the harness maps R: as a removable drive";

  const DriveDir onC(L"C:\\"), onR(L"R:\\");
  test::TempDir onT;
  const DriveDir* dirs[] = {&onC, &onR};
  for (const DriveDir* d : dirs) {
    ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), (*d / L"prog.exe").c_str(), FALSE));
    ASSERT_TRUE(test::WriteBytes(*d / L"prog.sql", "former"));
  }
  onT.CopyFixture(L"marker_exact", L"prog.exe");
  onT.Write(L"prog.sql", "former");
  const std::string infected = test::ReadBytes(test::FixturePath(L"marker_exact"));

  engine::ScanState state;
  test::ProgressRecorder shown;
  EXPECT_TRUE(engine::Walk(engine::ScanRequest{}, engine::WalkContext{state, shown, nullptr})) << "ran to its end";

  EXPECT_EQ(1, state.virusesFound.load());
  EXPECT_EQ(1, state.filesRestored.load());
  EXPECT_GT(state.filesScanned.load(), 100) << "the whole of drive C: is walked";
  EXPECT_EQ("former", test::ReadBytes(onC / L"prog.exe"));
  EXPECT_EQ(infected, test::ReadBytes(onR / L"prog.exe")) << "removable drives are not walked";
  EXPECT_EQ(infected, test::ReadBytes(onT / L"prog.exe")) << "network drives are not walked";
  for (const std::wstring& path : shown.Paths()) ASSERT_TRUE(StartsWith(path, L"C:\\")) << "walked " << path.size();
}

TEST(AllDrivesTest, StopEndsTheRunWithoutFinishing) {
  engine::ScanState state;
  test::ProgressRecorder shown;
  shown.onShow = [&](const engine::ProgressSnapshot&) { state.stopRequested = 1; };
  EXPECT_FALSE(engine::Walk(engine::ScanRequest{}, engine::WalkContext{state, shown, nullptr}));
  // The files the inspectors had begun when the first one was shown, at most one each.
  EXPECT_GE(shown.shown.size(), 1u);
  EXPECT_LE(shown.shown.size(), 8u) << "the walk ended at the stop";
}

}  // namespace
