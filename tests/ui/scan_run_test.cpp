// A run's worker: it walks the request it is given, publishes every file to the run's board,
// which the window reads, and says whether the run ran to its end.
#include "ui/scan_run.h"

#include "ui/run_texts.h"

#include <gtest/gtest.h>

#include "tests/controls/failing_new.h"
#include "tests/support/test_support.h"
#include "tests/support/windows_rules.h"
#include "tests/ui/worker_support.h"

namespace {

class ScanRunTest : public testing::Test {
 protected:
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
  const auto run = test::RunWorker(engine::ScanRequest{false, root});
  ASSERT_TRUE(run);
  EXPECT_EQ(1, run->state.scanFinished.load());
  const std::vector<engine::ProgressSnapshot> published = run->board.Take();
  ASSERT_EQ(3u, published.size());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(i + 1, published[i].filesScanned);
}

TEST_F(ScanRunTest, AStoppedRunIsNotFinished) {
  dir.Write(L"a.txt", "a");
  dir.Write(L"b.txt", "b");
  const auto run = ui::ScanRun::Make(engine::ScanRequest{false, dir.path()}, ui::RunSetup{});
  ASSERT_TRUE(run);
  run->state.stopRequested = 1;
  ASSERT_TRUE(run->Start() && run->WaitForEnd(60000));
  EXPECT_LE(run->state.filesScanned.load(), 1) << "at most a file in hand is handled, then the walk ends";
  EXPECT_EQ(0, run->state.scanFinished.load());
}

// The walk reads with the backup privilege, and nothing after it does: the folder browser
// would otherwise list folders that deny administrators.
TEST_F(ScanRunTest, TheBackupPrivilegeIsOnForTheWalkAndOffAfterIt) {
  dir.CopyFixture(L"marker_exact", L"virus.exe");
  static std::atomic<int> duringWalk{-1};
  const engine::ScanHooks hooks{[](const std::wstring&) { duringWalk = rules::BackupPrivilegeOn(); }, nullptr};
  ui::RunSetup setup;
  setup.hooks = &hooks;
  ASSERT_TRUE(test::RunWorker(engine::ScanRequest{false, dir.path()}, setup));
  EXPECT_EQ(1, duringWalk.load());
  EXPECT_FALSE(rules::BackupPrivilegeOn());
}

// Nothing unwinds out of the worker's entry routine: a worker without memory ends its run
// with what it has done, as a run that ends, never as one the user stopped.
TEST_F(ScanRunTest, AWorkerWithoutMemoryEndsItsRunAsFinished) {
  dir.Write(L"a.txt", "a");
  ui::RunSetup setup;
  // The worker's body, run here with every allocation failing; its thread handle a signalled event.
  setup.startWorker = [](unsigned(__stdcall * procedure)(void*), void* argument) -> HANDLE {
    {
      test::NewThrows newThrows;
      procedure(argument);
    }
    return CreateEventW(nullptr, TRUE, TRUE, nullptr);
  };
  const auto run = test::RunWorker(engine::ScanRequest{false, dir.path()}, setup);
  ASSERT_TRUE(run);
  EXPECT_EQ(1, run->state.scanFinished.load());
  EXPECT_EQ(L"扫描完成，未发现病毒", ui::FormatFinalSummary(run->state));
}

TEST(RunTextsTest, ProgressLineAndFinalSummary) {
  EXPECT_EQ(L"已扫描0个文件，未发现病毒", ui::FormatProgressLine(0, 0, 0));
  EXPECT_EQ(L"已扫描12个文件，查出3个病毒，恢复2个文件", ui::FormatProgressLine(12, 3, 2));
  EXPECT_EQ(L"扫描完成，未发现病毒", ui::FormatFinalSummary(false, 0, 0));
  EXPECT_EQ(L"已被用户终止，未发现病毒", ui::FormatFinalSummary(true, 0, 5));
  EXPECT_EQ(L"扫描完成，查出1个病毒，恢复1个文件", ui::FormatFinalSummary(false, 1, 1));
  EXPECT_EQ(L"已被用户终止，查出3个病毒，恢复2个文件", ui::FormatFinalSummary(true, 3, 2));
}

}  // namespace
