// What the report tests expect to see at their recorder.
#pragma once

#include <string>

#include "hosts.h"
#include "tests/support/http_recorder.h"
#include "tests/support/test_support.h"

namespace test {

// A request line as it reaches a proxy carries the whole URL of the report host. Wine's
// WinINet spells out the default port there ("http://host:80/..."), Windows leaves it out;
// both name the same URL, so the port is dropped before comparing.
inline std::string WithoutDefaultPort(std::string line) {
  const std::string defaultPort = "http://" + Utf8(hosts::kReportHost) + ":80/";
  const size_t at = line.find(defaultPort);
  if (at != std::string::npos) line.replace(at, defaultPort.size(), "http://" + Utf8(hosts::kReportHost) + "/");
  return line;
}
inline std::string ProxiedRequestLine(const HttpRequest& request) { return WithoutDefaultPort(request.line); }

inline std::string ExpectedReportLine(const std::string& query) {
  return "GET http://" + Utf8(hosts::kReportHost) + "/feed/feedkb.php?" + query + " HTTP/1.1";
}

}  // namespace test
