#include "report/usage_reporter.h"

#include <gtest/gtest.h>

#include "tests/report/machine_id_key.h"
#include "tests/report/report_expectations.h"
#include "tests/support/http_recorder.h"

namespace {

const std::string kStoredId("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16);

// The reporter reads the prefix's real identifier key; the guard puts it back. Its
// reports go to a recorder that the test makes this process's HTTP proxy.
class UsageReporterTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::WriteMachineIdValue(KEY_WOW64_32KEY, REG_BINARY, kStoredId)); }
  test::MachineIdKeyGuard guard_;
};

TEST_F(UsageReporterTest, StartupReportAndOneMoreThroughTheProxy) {
  test::HttpRecorder proxy(200);
  ASSERT_TRUE(proxy.listening());
  test::ScopedEnvironment useProxy(L"http_proxy", proxy.ProxyUrl().c_str());

  const report::CUsageReporter reporter;
  EXPECT_EQ(L"00112233445566778899AABBCCDDEEFF", reporter.machineId());
  EXPECT_EQ(6, reporter.productCode());

  ASSERT_TRUE(proxy.WaitForRequests(1, 10000));
  const test::HttpRequest startup = proxy.Requests().at(0);
  EXPECT_EQ(test::ExpectedReportLine("m=00112233445566778899AABBCCDDEEFF&c=6&a=3"), test::ProxiedRequestLine(startup));
  EXPECT_EQ(test::Utf8(hosts::kReportHost), startup.Header("Host"));
  EXPECT_EQ("Close", startup.Header("Connection"));
  EXPECT_FALSE(startup.HasHeader("User-Agent")) << startup.raw;

  reporter.SendUsageReport(report::REPORT_ACTION_NO_PRODUCT_FOLDER);
  ASSERT_TRUE(proxy.WaitForRequests(2, 10000));
  EXPECT_EQ(test::ExpectedReportLine("m=00112233445566778899AABBCCDDEEFF&c=6&a=4"),
            test::ProxiedRequestLine(proxy.Requests().at(1)));

  EXPECT_FALSE(proxy.WaitForRequests(3, 300)) << "one request per report";
}

TEST_F(UsageReporterTest, NobodyWaitsForAReportInFlight) {
  test::HttpRecorder proxy(test::HttpRecorder::kNeverAnswer);
  ASSERT_TRUE(proxy.listening());
  test::ScopedEnvironment useProxy(L"http_proxy", proxy.ProxyUrl().c_str());

  const ULONGLONG start = GetTickCount64();
  const report::CUsageReporter reporter;
  reporter.SendUsageReport(report::REPORT_ACTION_NO_PRODUCT_FOLDER);
  const ULONGLONG elapsed = GetTickCount64() - start;

  // Both requests reach the server, which never answers them; the calls above returned
  // all the same, long before the 5 s receive time-out.
  ASSERT_TRUE(proxy.WaitForRequests(2, 10000));
  EXPECT_LT(elapsed, 2000u);
}

}  // namespace
