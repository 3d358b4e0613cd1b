#include "app/product_folder.h"

#include <gtest/gtest.h>

namespace {

TEST(ProductFolderPathTest, OneSeparatorBeforeTheName) {
  EXPECT_EQ(L"C:\\ProgramData\\Morva", app::ProductFolderPath(L"C:\\ProgramData"));
  // A folder path that already ends in a separator, such as a drive's root, gets no second one.
  EXPECT_EQ(L"D:\\Morva", app::ProductFolderPath(L"D:\\"));
  EXPECT_EQ(L"C:\\ProgramData\\Morva", app::ProductFolderPath(L"C:\\ProgramData\\"));
}

TEST(ProductFolderPathTest, NoFolderNoPath) {
  // Not "Morva" relative to whatever the current directory is.
  EXPECT_EQ(L"", app::ProductFolderPath(L""));
}

}  // namespace
