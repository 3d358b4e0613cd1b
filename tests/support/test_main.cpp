#include <fcntl.h>
#include <io.h>
#include <objbase.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/support/windows_rules.h"

namespace {

// What a test says of Windows (an access list, a critical process) holds for it alone.
class ModelsPerTest : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { rules::ClearModels(); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Plain "\n" line ends: ctest reads the test list that this prints under Wine.
  _setmode(_fileno(stdout), _O_BINARY);
  CoInitialize(nullptr);
  testing::InitGoogleTest(&argc, argv);
  // Every call through the door to the system is held to Windows's rules.
  rules::Install([](rules::RuleId, const std::string& message) { test::ReportRefusal(message); });
  testing::UnitTest::GetInstance()->listeners().Append(new ModelsPerTest);
  const int result = RUN_ALL_TESTS();
  if (!testing::GTEST_FLAG(list_tests)) std::printf("%s\n", rules::Summary().c_str());
  CoUninitialize();
  return result;
}
