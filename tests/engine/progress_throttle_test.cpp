#include "engine/progress_throttle.h"

#include <gtest/gtest.h>

namespace {

ULONGLONG gNow = 0;
ULONGLONG FakeClock() { return gNow; }

engine::ProgressSnapshot File(int n) { return {L"C:\\f" + std::to_wstring(n), n, 0, 0}; }

TEST(ProgressThrottleTest, BurstThenTwentyASecond) {
  gNow = 1000;
  engine::ProgressThrottle throttle(&FakeClock);
  int shown = 0;
  for (int i = 1; i <= 25; ++i) shown += throttle.Record(File(i), false);
  EXPECT_EQ(engine::ProgressThrottle::kBurst, shown) << "a short walk shows every file";

  // Then one for every 50 ms that passes, whatever the number of files in between.
  shown = 0;
  for (int ms = 1; ms <= 1000; ++ms) {
    gNow = 1000 + ms;
    for (int i = 0; i < 10; ++i) shown += throttle.Record(File(100 + ms), false);
  }
  EXPECT_EQ(20, shown);
}

TEST(ProgressThrottleTest, ForcedAndUnshownFiles) {
  gNow = 5000;
  engine::ProgressThrottle throttle(&FakeClock);
  for (int i = 1; i <= engine::ProgressThrottle::kBurst; ++i) ASSERT_TRUE(throttle.Record(File(i), false));
  EXPECT_FALSE(throttle.TakeUnshown()) << "everything was shown";
  EXPECT_FALSE(throttle.Record(File(21), false));
  EXPECT_FALSE(throttle.Record(File(22), false));
  EXPECT_EQ(L"C:\\f22", throttle.Latest()->path);
  const auto unshown = throttle.TakeUnshown();
  ASSERT_TRUE(unshown);
  EXPECT_EQ(22, unshown->filesScanned);
  EXPECT_FALSE(throttle.TakeUnshown()) << "taken once";
  EXPECT_TRUE(throttle.Record(File(23), true)) << "a forced file is always shown";
  EXPECT_FALSE(throttle.TakeUnshown());

  throttle.Reset();
  EXPECT_FALSE(throttle.Latest());
  EXPECT_TRUE(throttle.Record(File(1), false)) << "a new walk starts with a full burst";
}

}  // namespace
