#include "report/http_get.h"

#include <gtest/gtest.h>

#include "report/usage_reporter.h"
#include "tests/report/report_expectations.h"
#include "tests/support/http_recorder.h"
#include "tests/support/test_support.h"

namespace {

constexpr wchar_t kReportPath[] = L"/feed/feedkb.php?m=00112233445566778899AABBCCDDEEFF&c=6&a=3";

int CountHeaders(const test::HttpRequest& request, const std::string& name) {
  int count = 0;
  for (const auto& header : request.headers)
    if (_stricmp(header.first.c_str(), name.c_str()) == 0) ++count;
  return count;
}

TEST(CrackedUrlTest, NewObjectIsNotValid) {
  report::CCrackedUrl url;
  EXPECT_FALSE(url.valid());
  EXPECT_EQ(nullptr, url.HostName());
  EXPECT_EQ(nullptr, url.UrlPath());
  EXPECT_EQ(0, url.Port());
}

TEST(CrackedUrlTest, HostPortAndPathWithItsQuery) {
  report::CCrackedUrl url;
  const std::wstring text = L"http://feed.morva.example:8080/feed/feedkb.php?m=AB&c=6&a=4";
  ASSERT_TRUE(url.Crack(text.c_str()));
  EXPECT_TRUE(url.valid());
  EXPECT_STREQ(L"feed.morva.example", url.HostName());
  EXPECT_EQ(8080, url.Port());
  EXPECT_STREQ(L"/feed/feedkb.php?m=AB&c=6&a=4", url.UrlPath());
  EXPECT_EQ(text, url.url());

  ASSERT_TRUE(url.Crack(L"http://127.0.0.1/"));
  EXPECT_STREQ(L"127.0.0.1", url.HostName());
  EXPECT_EQ(INTERNET_DEFAULT_HTTP_PORT, url.Port());
  EXPECT_STREQ(L"/", url.UrlPath());
}

TEST(CrackedUrlTest, HostOrPathLongerThanItsBufferFails) {
  report::CCrackedUrl url;
  // 259 characters and the NUL fill the 260-character buffers exactly.
  ASSERT_TRUE(url.Crack((L"http://" + std::wstring(259, L'h') + L"/p").c_str()));
  EXPECT_EQ(259u, wcslen(url.HostName()));
  ASSERT_TRUE(url.Crack((L"http://h/" + std::wstring(258, L'p')).c_str()));
  EXPECT_EQ(259u, wcslen(url.UrlPath()));

  EXPECT_FALSE(url.Crack((L"http://" + std::wstring(260, L'h') + L"/p").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_FALSE(url.valid());
  EXPECT_EQ(nullptr, url.HostName());
  EXPECT_EQ(nullptr, url.UrlPath());
  EXPECT_EQ(0, url.Port());

  EXPECT_FALSE(url.Crack((L"http://h/" + std::wstring(259, L'p')).c_str()));
  EXPECT_FALSE(url.Crack(L"no url at all"));
  EXPECT_FALSE(url.Crack(nullptr));
}

// Straight to the recorder on 127.0.0.1: the test wrapper's http_proxy (a closed port)
// would take every request otherwise.
class HttpGetTest : public testing::Test {
 protected:
  test::ScopedEnvironment noProxy_{L"http_proxy", nullptr};
};

struct StatusCase {
  int status;
  HRESULT result;
  const char* headers;  // added to the answer
};

class HttpStatusTest : public HttpGetTest, public testing::WithParamInterface<StatusCase> {};

// A redirect is not followed, and a request for credentials gets none: the tool runs as
// administrator, and a proxy or server that asks must not get its Windows logon.
TEST_P(HttpStatusTest, StatusBecomesTheResultAndTheRequestIsAsSent) {
  const std::string redirect = "Location: http://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()) + "/x\r\n";
  test::HttpRecorder server(GetParam().status, GetParam().status == 302 ? redirect : GetParam().headers);
  ASSERT_TRUE(server.listening());

  EXPECT_EQ(GetParam().result, report::HttpGet(server.Url(kReportPath).c_str()));

  ASSERT_TRUE(server.WaitForRequests(1, 5000));
  EXPECT_EQ(1, server.connections()) << "asked once, never again with credentials";
  EXPECT_FALSE(server.Requests().at(0).HasHeader("Authorization"));
  const test::HttpRequest request = server.Requests().at(0);
  EXPECT_EQ("GET " + test::Utf8(kReportPath) + " HTTP/1.1", request.line);
  EXPECT_EQ("Close", request.Header("Connection"));
  EXPECT_EQ(1, CountHeaders(request, "Connection"));
  EXPECT_EQ("127.0.0.1:" + std::to_string(server.port()), request.Header("Host"));
  EXPECT_FALSE(request.HasHeader("User-Agent")) << request.raw;
}

INSTANTIATE_TEST_SUITE_P(Statuses, HttpStatusTest,
                         testing::Values(StatusCase{200, S_OK, ""}, StatusCase{404, static_cast<HRESULT>(0xA0060194), ""},
                                         StatusCase{500, static_cast<HRESULT>(0xA00601F4), ""},
                                         StatusCase{302, static_cast<HRESULT>(0xA006012E), ""},
                                         StatusCase{401, static_cast<HRESULT>(0xA0060191),
                                                    "WWW-Authenticate: Negotiate\r\nWWW-Authenticate: NTLM\r\n"
                                                    "WWW-Authenticate: Basic realm=\"x\"\r\n"}),
                         [](const testing::TestParamInfo<StatusCase>& info) {
                           return "Status" + std::to_string(info.param.status);
                         });

TEST_F(HttpGetTest, IdenticalRequestsAllReachTheServerWithoutCookies) {
  test::HttpRecorder server(200, "Set-Cookie: mfk=1\r\n");
  ASSERT_TRUE(server.listening());
  const std::wstring url = server.Url(L"/same?x=1");

  EXPECT_EQ(S_OK, report::HttpGet(url.c_str()));
  EXPECT_EQ(S_OK, report::HttpGet(url.c_str()));
  EXPECT_TRUE(server.WaitForRequests(2, 5000)) << "the second answer came from a cache";
  EXPECT_EQ(2, server.connections());
  EXPECT_FALSE(server.Requests().at(1).HasHeader("Cookie")) << "a cookie was kept";
}

TEST_F(HttpGetTest, RefusedConnectionGivesTheSystemError) {
  const uint16_t port = test::ClosedLoopbackPort();
  ASSERT_NE(0, port);
  const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + L"/feed/feedkb.php?m=&c=6&a=3";
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT), report::HttpGet(url.c_str()));
}

TEST_F(HttpGetTest, ServerThatNeverAnswersEndsAtTheReceiveTimeout) {
  test::HttpRecorder server(test::HttpRecorder::kNeverAnswer);
  ASSERT_TRUE(server.listening());

  const ULONGLONG start = GetTickCount64();
  const HRESULT result = report::HttpGet(server.Url(L"/silent").c_str());
  const ULONGLONG elapsed = GetTickCount64() - start;

  if (test::RunningUnderWine())  // Wine reports the receive time-out as an aborted connection
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED), result);
  else
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT), result);
  EXPECT_TRUE(server.WaitForRequests(1, 0)) << "the request was sent, only the answer never came";
  EXPECT_GE(elapsed, 4500u);
  EXPECT_LT(elapsed, 9000u);
}

TEST_F(HttpGetTest, UrlThatCannotBeSplitMakesNoRequest) {
  test::HttpRecorder server(200);
  ASSERT_TRUE(server.listening());
  const std::wstring longHost = L"http://" + std::wstring(300, L'h') + L"/x";

  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), report::HttpGet(longHost.c_str()));
  EXPECT_TRUE(FAILED(report::HttpGet(L"not a url")));
  EXPECT_EQ(0, server.connections());
}

TEST(HttpGetProxyTest, GoesThroughTheConfiguredProxy) {
  test::HttpRecorder proxy(404);
  ASSERT_TRUE(proxy.listening());
  test::ScopedEnvironment useProxy(L"http_proxy", proxy.ProxyUrl().c_str());

  const std::wstring url = std::wstring(L"http://") + hosts::kReportHost + L"/feed/feedkb.php?m=AB&c=6&a=4";
  EXPECT_EQ(static_cast<HRESULT>(0xA0060194), report::HttpGet(url.c_str()));

  ASSERT_TRUE(proxy.WaitForRequests(1, 5000));
  const test::HttpRequest request = proxy.Requests().at(0);
  EXPECT_EQ(test::ExpectedReportLine("m=AB&c=6&a=4"), test::ProxiedRequestLine(request)) << request.line;
  EXPECT_EQ(test::Utf8(hosts::kReportHost), request.Header("Host"));
  EXPECT_EQ("Close", request.Header("Connection"));
}

TEST(ReportWorkerTest, EmptyIdentifierStillGivesAReport) {
  test::HttpRecorder proxy(200);
  ASSERT_TRUE(proxy.listening());
  test::ScopedEnvironment useProxy(L"http_proxy", proxy.ProxyUrl().c_str());

  // The worker routine, run on this thread: it sends the report and frees the record.
  auto* record = new report::ReportRecord{L"", report::REPORT_ACTION_STARTUP, report::REPORT_PRODUCT_CODE};
  EXPECT_EQ(0u, report::ReportThreadProc(record));

  ASSERT_TRUE(proxy.WaitForRequests(1, 0));
  EXPECT_EQ(test::ExpectedReportLine("m=&c=6&a=3"), test::ProxiedRequestLine(proxy.Requests().at(0)));
}

}  // namespace
