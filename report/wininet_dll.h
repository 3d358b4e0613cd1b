// WinINet for the reports. It is not a KnownDLL, so it is loaded at first use from the
// system folder only (win/system_dlls.h) and its functions are found by name. Each below has
// the system's name, parameters and result, in namespace report; when the DLL or the
// function can't be had it fails as the system's does, with ERROR_PROC_NOT_FOUND.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "win/handles.h"

namespace report {

BOOL InternetCrackUrlW(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components) noexcept;
HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass, DWORD flags) noexcept;
BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) noexcept;
HINTERNET InternetConnectW(HINTERNET root, LPCWSTR server, INTERNET_PORT port, LPCWSTR user, LPCWSTR password,
                           DWORD service, DWORD flags, DWORD_PTR context) noexcept;
HINTERNET HttpOpenRequestW(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR referrer,
                           LPCWSTR* acceptTypes, DWORD flags, DWORD_PTR context) noexcept;
BOOL HttpAddRequestHeadersW(HINTERNET request, LPCWSTR headers, DWORD headersLength, DWORD modifiers) noexcept;
BOOL HttpSendRequestW(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) noexcept;
BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index) noexcept;
BOOL InternetCloseHandle(HINTERNET handle) noexcept;

// Root, connection and request handles.
struct InternetHandleTraits {
  using pointer = HINTERNET;
  static pointer Invalid() noexcept { return nullptr; }
  static void Close(pointer h) noexcept { report::InternetCloseHandle(h); }
};
using InternetHandle = win::UniqueHandle<InternetHandleTraits>;

}  // namespace report
