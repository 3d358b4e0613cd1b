// The worker procedures: they walk the request they are given, publish every file to the
// board the window reads, and say whether the run ran to its end.
#include "ui/scan_run.h"

#include <gtest/gtest.h>

#include "tests/controls/failing_new.h"
#include "tests/support/test_support.h"
#include "tests/support/windows_rules.h"
#include "tests/ui/worker_support.h"

namespace {

class ScanRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::gScanState.Reset();
    ui::gProgressBoard.Reset();
  }
  test::TempDir dir;
};

TEST_F(ScanRunTest, RequestForThePathBox) {
  EXPECT_TRUE(ui::RequestFor(ui::kAllDrivesText).allDrives);
  const engine::ScanRequest chosen = ui::RequestFor(L"C:\\some folder");
  EXPECT_FALSE(chosen.allDrives);
  EXPECT_EQ(L"C:\\some folder", chosen.root);
}

TEST_F(ScanRunTest, ARunToItsEndIsFinishedAndEveryFileOfAShortOneIsPublished) {
  const std::wstring root = dir.MakeDir(L"few");
  for (int i = 0; i < 3; ++i) dir.Write(L"few\\f" + std::to_wstring(i) + L".txt", "x");
  ASSERT_TRUE(test::RunWorker(ui::ScanDirectoryThreadProc, engine::ScanRequest{false, root}));
  EXPECT_EQ(1, ui::gScanState.scanFinished.load());
  const std::vector<engine::ProgressSnapshot> published = ui::gProgressBoard.Take();
  ASSERT_EQ(3u, published.size());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(i + 1, published[i].filesScanned);
}

TEST_F(ScanRunTest, AStoppedRunIsNotFinished) {
  dir.Write(L"a.txt", "a");
  dir.Write(L"b.txt", "b");
  ui::gScanState.stopRequested = 1;
  ASSERT_TRUE(test::RunWorker(ui::ScanDirectoryThreadProc, engine::ScanRequest{false, dir.path()}));
  EXPECT_LE(ui::gScanState.filesScanned.load(), 1) << "at most a file in hand is handled, then the walk ends";
  EXPECT_EQ(0, ui::gScanState.scanFinished.load());
}

// The walk reads with the backup privilege, and nothing after it does: the folder browser
// would otherwise list folders that deny administrators.
TEST_F(ScanRunTest, TheBackupPrivilegeIsOnForTheWalkAndOffAfterIt) {
  dir.CopyFixture(L"marker_exact", L"virus.exe");
  static std::atomic<int> duringWalk{-1};
  const engine::ScanHooks hooks{[](const std::wstring&) { duringWalk = rules::BackupPrivilegeOn(); }, nullptr};
  ui::SetScanHooks(&hooks);
  ASSERT_TRUE(test::RunWorker(ui::ScanDirectoryThreadProc, engine::ScanRequest{false, dir.path()}));
  ui::SetScanHooks(nullptr);
  EXPECT_EQ(1, duringWalk.load());
  EXPECT_FALSE(rules::BackupPrivilegeOn());
}

// Nothing unwinds out of the worker's entry routine: a worker without memory ends its run
// with what it has done, as a run that ends, never as one the user stopped.
TEST_F(ScanRunTest, AWorkerWithoutMemoryEndsItsRunAsFinished) {
  dir.Write(L"a.txt", "a");
  auto* request = new engine::ScanRequest{false, dir.path()};
  unsigned result = 1;
  {
    test::NewThrows newThrows;
    result = ui::ScanDirectoryThreadProc(request);
  }
  EXPECT_EQ(0u, result);
  EXPECT_EQ(1, ui::gScanState.scanFinished.load());
  EXPECT_EQ(L"扫描完成，未发现病毒", engine::FormatFinalSummary(ui::gScanState));
}

}  // namespace
