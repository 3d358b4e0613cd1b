// Pressing start on the default text: the run walks every fixed drive, which in the test
// prefix is drive C: alone.
#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/ui/dialog_driver.h"
#include "tests/ui/worker_support.h"
#include "ui/resource.h"
#include "ui/scan_run.h"

namespace {

TEST(MainDialogAllDrivesTest, DefaultTextScansTheFixedDrives) {
  test::Runs::Forget();
  test::WorkerHold hold;
  test::MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  ASSERT_EQ(L"默认扫描所有磁盘", dialog.Text(IDC_PATH));
  dialog.Click(IDC_START_STOP);
  ASSERT_TRUE(test::PumpUntil([&] { return dialog.Text(IDC_CURRENT_FILE).rfind(L"C:\\", 0) == 0; }, 30000))
      << "the walk reached drive C:";
  EXPECT_EQ(L"正在扫描...", dialog.Text(IDC_PROMPT));
  dialog.Click(IDC_START_STOP);
  const HWND offer = dialog.WaitForOffer();
  ASSERT_TRUE(offer);
  EXPECT_EQ(0u, test::ItemText(offer, IDC_SUMMARY).find(L"已被用户终止，"));
  ASSERT_TRUE(dialog.DeclineOffer(offer));
  ASSERT_TRUE(dialog.WaitForIdleAfterRun());
  EXPECT_EQ(L"默认扫描所有磁盘", dialog.Text(IDC_PATH));
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
  EXPECT_TRUE(hold.Ended()) << "the dialog waited for the stopped worker";
}

}  // namespace
