#include "engine/progress.h"

#include <gtest/gtest.h>

namespace {

engine::ProgressSnapshot File(int n) { return {L"C:\\f" + std::to_wstring(n), n, 0, 0}; }

std::vector<int> Taken(engine::ProgressBoard& board) {
  std::vector<int> numbers;
  for (const engine::ProgressSnapshot& snapshot : board.Take()) numbers.push_back(snapshot.filesScanned);
  return numbers;
}

// A short walk shows every file; after the first kBurst, the window sees the latest at each take.
TEST(ProgressBoardTest, EveryFileOfABurstThenTheLatest) {
  engine::ProgressBoard board;
  EXPECT_TRUE(Taken(board).empty());
  for (int i = 1; i <= 3; ++i) board.Show(File(i));
  EXPECT_EQ((std::vector<int>{1, 2, 3}), Taken(board));
  EXPECT_TRUE(Taken(board).empty()) << "taken once";

  for (int i = 4; i <= 100; ++i) board.Show(File(i));
  std::vector<int> expected;
  for (int i = 4; i <= static_cast<int>(engine::ProgressBoard::kBurst); ++i) expected.push_back(i);
  expected.push_back(100);
  EXPECT_EQ(expected, Taken(board)) << "the rest of the burst, then only the latest";
  board.Show(File(101));
  board.Show(File(102));
  EXPECT_EQ(std::vector<int>{102}, Taken(board));

  board.Reset();
  board.Show(File(1));
  board.Show(File(2));
  EXPECT_EQ((std::vector<int>{1, 2}), Taken(board)) << "a new run starts with a full burst";
}

}  // namespace
