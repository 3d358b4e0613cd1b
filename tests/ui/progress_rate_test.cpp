// A long walk shows its progress about 20 times a second, not once per file, and the texts
// are exact when the run's end is announced.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/ui/worker_support.h"
#include "ui/scan_run.h"

namespace {

TEST(ProgressRateTest, LongWalkShowsAboutTwentyStatesASecondAndEndsExact) {
  test::TempDir dir;
  const std::wstring root = dir.MakeDir(L"many");
  constexpr int kFiles = 400;
  for (int i = 0; i < kFiles; ++i) dir.Write(L"many\\f" + std::to_wstring(i) + L".txt", "x");
  dir.CopyFixture(L"marker_exact", L"many\\prog.exe");
  dir.Write(L"many\\prog.sql", "former");

  test::ResetScanState();
  test::ScanWindow window;
  window.SetPath(root);
  // The texts at the moment the run's end becomes visible to the window's thread.
  std::wstring progressAtEnd, fileAtEnd;
  const ULONGLONG start = GetTickCount64();
  win::KernelHandle thread(reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, ui::ScanDirectoryThreadProc, window.hwnd(), 0, nullptr)));
  ASSERT_TRUE(thread);
  ASSERT_TRUE(test::PumpUntil([&] {
    if (ui::gScanState.scanFinished.load() == 0) return false;
    progressAtEnd = window.Text(1017);
    fileAtEnd = window.Text(1016);
    return true;
  }, 120000));
  ASSERT_TRUE(test::PumpUntilSignalled(thread.get(), 30000));
  const ULONGLONG elapsed = GetTickCount64() - start;

  const int handled = ui::gScanState.filesScanned.load();
  EXPECT_GE(handled, kFiles + 1);
  EXPECT_EQ(L"已扫描" + std::to_wstring(handled) + L"个文件，查出1个病毒，恢复1个文件", progressAtEnd);
  // The walk's last file: the last text set, in whatever order the listing gave.
  EXPECT_EQ(window.currentFiles().back(), fileAtEnd);
  const size_t allowed = 20 + static_cast<size_t>(elapsed / 50) + 2;
  EXPECT_LE(window.currentFiles().size(), allowed) << "in " << elapsed << " ms";
  EXPECT_LT(window.currentFiles().size(), static_cast<size_t>(handled)) << "not once per file";
}

}  // namespace
