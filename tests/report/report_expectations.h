// What the report tests expect to see at their recorder.
#pragma once

#include <string>

#include "hosts.h"
#include "tests/support/http_recorder.h"

namespace test {

inline std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// The request line as it reaches a proxy: the whole URL of the report host. Wine's WinINet
// spells out the default port there ("http://host:80/..."), Windows leaves it out; both
// name the same URL, so the port is dropped before comparing.
inline std::string ProxiedRequestLine(const HttpRequest& request) {
  std::string line = request.line;
  const std::string defaultPort = "http://" + Ascii(hosts::kReportHost) + ":80/";
  const size_t at = line.find(defaultPort);
  if (at != std::string::npos) line.replace(at, defaultPort.size(), "http://" + Ascii(hosts::kReportHost) + "/");
  return line;
}

inline std::string ExpectedReportLine(const std::string& query) {
  return "GET http://" + Ascii(hosts::kReportHost) + "/feed/feedkb.php?" + query + " HTTP/1.1";
}

}  // namespace test
