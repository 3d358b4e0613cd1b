// One plain HTTP GET through WinINet, as the usage reports send it, and the URL split
// it uses.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

namespace report {

// The part of a status result above the status code: 404 gives 0xA0060194.
inline constexpr HRESULT kHttpStatusResult = static_cast<HRESULT>(0xA0060000);

// A URL split into host, port and path (with the query kept at the end of the path).
// Host and path each get 260 characters, the NUL included; a longer one fails the split.
class CCrackedUrl {
 public:
  CCrackedUrl() = default;

  // Splits url; on failure the host and path are empty and GetLastError tells why.
  bool Crack(const wchar_t* url);

  bool valid() const { return valid_; }
  const std::wstring& url() const { return url_; }
  // Null when the split failed.
  const wchar_t* HostName() const { return valid_ ? host_.c_str() : nullptr; }
  const wchar_t* UrlPath() const { return valid_ ? path_.c_str() : nullptr; }
  // 0 when the split failed.
  INTERNET_PORT Port() const { return valid_ ? port_ : 0; }

 private:
  bool valid_ = false;
  std::wstring url_;
  std::wstring host_;
  std::wstring path_;
  INTERNET_PORT port_ = 0;
};

// Sends one GET for url through the system's configured proxy, never from or into the
// cache, with "Connection: Close", and reads only the status. Returns S_OK for status
// 200, kHttpStatusResult | status for any other status, and the HRESULT of the last
// system error when a step fails. Bounded by a 20 s connect and a 5 s receive time-out.
HRESULT HttpGet(const wchar_t* url);

}  // namespace report
