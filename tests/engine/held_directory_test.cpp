#include "engine/held_directory.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using engine::OpenResult;

// From the documented NTSTATUS values: Wine can't take an opportunistic lock, so the
// break in progress is known only from here.
TEST(ClassifyOpenTest, StatusAndFileType) {
  const struct {
    unsigned long status;
    DWORD type;
    OpenResult expected;
  } rows[] = {
      {0x00000000, FILE_TYPE_DISK, OpenResult::kOpened},
      {0x00000000, FILE_TYPE_PIPE, OpenResult::kNotDiskFile},  // a pipe, a FIFO, a socket
      {0x00000000, FILE_TYPE_CHAR, OpenResult::kNotDiskFile},  // a device such as a console
      {0x00000000, FILE_TYPE_UNKNOWN, OpenResult::kNotDiskFile},
      {0x00000108, FILE_TYPE_DISK, OpenResult::kLockBreaking},  // STATUS_OPLOCK_BREAK_IN_PROGRESS
      {0xC0000034, 0, OpenResult::kNoSuchFile},                 // STATUS_OBJECT_NAME_NOT_FOUND
      {0xC000003A, 0, OpenResult::kNoSuchFile},                 // STATUS_OBJECT_PATH_NOT_FOUND
      {0xC0000043, 0, OpenResult::kInUse},                      // STATUS_SHARING_VIOLATION
      {0xC0000022, 0, OpenResult::kRefused},                    // STATUS_ACCESS_DENIED
      {0xC00000BA, 0, OpenResult::kRefused},                    // STATUS_FILE_IS_A_DIRECTORY
      {0xC0000056, 0, OpenResult::kRefused},                    // STATUS_DELETE_PENDING
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.expected, engine::ClassifyOpen(static_cast<long>(row.status), row.type)) << std::hex << row.status;
}

// Planted by scripts/test.sh from the host: T:\links\walk\dirlink links to T:\links\walk-outside.
TEST(OpenEveryStepTest, NoFolderOnTheWayMayBeALink) {
  engine::HeldDirectory directory;
  EXPECT_TRUE(directory.OpenEveryStep(L"T:\\links\\walk-outside"));
  EXPECT_TRUE(directory.OpenEveryStep(L"T:\\links\\walk\\"));
  EXPECT_FALSE(directory.OpenEveryStep(L"T:\\links\\walk\\dirlink"));
  test::TempDir dir;
  EXPECT_TRUE(directory.OpenEveryStep(dir.MakeDir(L"a\\b")));
  // Names that step sideways are refused, not resolved.
  EXPECT_FALSE(directory.OpenEveryStep(L"\\\\?\\T:\\links\\walk\\..\\walk-outside"));
  EXPECT_FALSE(directory.OpenEveryStep(L"T:\\links\\missing"));

  engine::HeldDirectory walk, child;
  ASSERT_TRUE(walk.OpenEveryStep(L"T:\\links\\walk"));
  EXPECT_FALSE(child.OpenIn(walk, L"dirlink"));
}

}  // namespace
