#include <fcntl.h>
#include <io.h>
#include <objbase.h>

#include <cstdio>

#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  // Plain "\n" line ends: ctest reads the test list that this prints under Wine.
  _setmode(_fileno(stdout), _O_BINARY);
  CoInitialize(nullptr);
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
