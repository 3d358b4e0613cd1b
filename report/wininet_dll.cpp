#include "report/wininet_dll.h"

#include "win/system_dlls.h"

namespace report {

namespace {

// Loaded once, by whichever thread needs it first, and kept until the process ends; so is
// each function pointer below.
HMODULE WininetDll() noexcept {
  static const HMODULE module = win::LoadSystemLibrary(L"wininet.dll");
  return module;
}

template <typename Function>
Function* Find(const char* name) noexcept {
  return win::FindExport<Function>(WininetDll(), name);
}

}  // namespace

BOOL InternetCrackUrlW(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components) noexcept {
  static const auto function = Find<decltype(::InternetCrackUrlW)>("InternetCrackUrlW");
  return function ? function(url, urlLength, flags, components) : win::Unavailable<BOOL>(FALSE);
}

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass, DWORD flags) noexcept {
  static const auto function = Find<decltype(::InternetOpenW)>("InternetOpenW");
  return function ? function(agent, accessType, proxy, proxyBypass, flags) : win::Unavailable<HINTERNET>(nullptr);
}

BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) noexcept {
  static const auto function = Find<decltype(::InternetSetOptionW)>("InternetSetOptionW");
  return function ? function(handle, option, buffer, bufferLength) : win::Unavailable<BOOL>(FALSE);
}

HINTERNET InternetConnectW(HINTERNET root, LPCWSTR server, INTERNET_PORT port, LPCWSTR user, LPCWSTR password,
                           DWORD service, DWORD flags, DWORD_PTR context) noexcept {
  static const auto function = Find<decltype(::InternetConnectW)>("InternetConnectW");
  return function ? function(root, server, port, user, password, service, flags, context)
                  : win::Unavailable<HINTERNET>(nullptr);
}

HINTERNET HttpOpenRequestW(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR referrer,
                           LPCWSTR* acceptTypes, DWORD flags, DWORD_PTR context) noexcept {
  static const auto function = Find<decltype(::HttpOpenRequestW)>("HttpOpenRequestW");
  return function ? function(connection, verb, object, version, referrer, acceptTypes, flags, context)
                  : win::Unavailable<HINTERNET>(nullptr);
}

BOOL HttpAddRequestHeadersW(HINTERNET request, LPCWSTR headers, DWORD headersLength, DWORD modifiers) noexcept {
  static const auto function = Find<decltype(::HttpAddRequestHeadersW)>("HttpAddRequestHeadersW");
  return function ? function(request, headers, headersLength, modifiers) : win::Unavailable<BOOL>(FALSE);
}

BOOL HttpSendRequestW(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) noexcept {
  static const auto function = Find<decltype(::HttpSendRequestW)>("HttpSendRequestW");
  return function ? function(request, headers, headersLength, optional, optionalLength) : win::Unavailable<BOOL>(FALSE);
}

BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index) noexcept {
  static const auto function = Find<decltype(::HttpQueryInfoW)>("HttpQueryInfoW");
  return function ? function(request, infoLevel, buffer, bufferLength, index) : win::Unavailable<BOOL>(FALSE);
}

BOOL InternetCloseHandle(HINTERNET handle) noexcept {
  static const auto function = Find<decltype(::InternetCloseHandle)>("InternetCloseHandle");
  return function ? function(handle) : win::Unavailable<BOOL>(FALSE);
}

}  // namespace report
