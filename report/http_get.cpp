#include "report/http_get.h"

#include <iterator>

#include "report/wininet_dll.h"

namespace report {

namespace {

constexpr DWORD kUrlPartChars = 260;  // host and path buffers, the NUL included
constexpr DWORD kConnectTimeoutMs = 20000;
constexpr DWORD kReceiveTimeoutMs = 5000;
// Always from the server, never into the cache. The tool runs as administrator: a server or
// proxy that asks for credentials gets none (WinINet would otherwise log on with the
// user's Windows credentials), no cookie is kept or sent, and a redirect is not followed.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTH |
                                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr wchar_t kCloseHeader[] = L"Connection: Close";

// Read right after the failed call, before any handle is closed.
HRESULT LastErrorResult() {
  const DWORD error = GetLastError();
  // A failed step that left no error code must not come back as success.
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

void SetTimeouts(HINTERNET handle) {
  DWORD connect = kConnectTimeoutMs;
  DWORD receive = kReceiveTimeoutMs;
  report::InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  report::InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
}

}  // namespace

bool CCrackedUrl::Crack(const wchar_t* url) {
  valid_ = false;
  url_ = url ? url : L"";
  host_.clear();
  path_.clear();
  port_ = 0;
  if (!url) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }

  wchar_t host[kUrlPartChars] = {};
  wchar_t path[kUrlPartChars] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = kUrlPartChars;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kUrlPartChars;
  // The query isn't asked for separately, so it stays at the end of the path.
  if (!report::InternetCrackUrlW(url, 0, ICU_ESCAPE, &parts)) return false;

  host_ = host;
  path_ = path;
  port_ = parts.nPort;
  valid_ = true;
  return true;
}

HRESULT HttpGet(const wchar_t* url) {
  CCrackedUrl cracked;
  if (!cracked.Crack(url)) return LastErrorResult();

  // Declared root, connection, request: they close in the reverse order.
  InternetHandle root(report::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, L"", L"", 0));
  if (!root) return LastErrorResult();
  SetTimeouts(root.get());

  InternetHandle connection(
      report::InternetConnectW(root.get(), cracked.HostName(), cracked.Port(), L"", L"", INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return LastErrorResult();

  InternetHandle request(report::HttpOpenRequestW(connection.get(), nullptr, cracked.UrlPath(), nullptr, nullptr,
                                                  nullptr, kRequestFlags, 0));
  if (!request) return LastErrorResult();
  // Windows hands the root's time-outs down to the request; Wine doesn't, and a server
  // that accepts and never answers would then hold the request for good.
  SetTimeouts(request.get());

  report::HttpAddRequestHeadersW(request.get(), kCloseHeader, static_cast<DWORD>(std::size(kCloseHeader) - 1),
                                 HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
  if (!report::HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) return LastErrorResult();

  DWORD status = 0;
  DWORD length = sizeof status;
  if (!report::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                              nullptr))
    return LastErrorResult();
  return status == HTTP_STATUS_OK ? S_OK : (kHttpStatusResult | static_cast<HRESULT>(status));
}

}  // namespace report
