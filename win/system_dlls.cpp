#include "win/system_dlls.h"

#include <cwchar>

namespace win {

namespace {

// An export found by name, typed as the system's declaration of it. GetProcAddress gives a
// function without parameters; the detour through the generic function type says that
// the cast is meant.
template <typename Function>
Function* Find(HMODULE module, const char* name) noexcept {
  if (!module) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// Each DLL is loaded once, by whichever thread needs it first, and stays loaded until the
// process ends; so does each function pointer below.
HMODULE WininetDll() noexcept {
  static const HMODULE module = LoadSystemLibrary(L"wininet.dll");
  return module;
}

template <typename Result>
Result Unavailable(Result failed) noexcept {
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return failed;
}

}  // namespace

bool RestrictDllSearch() noexcept {
  // Found by name: Windows 7 has it only with KB2533623, and a static import of it would
  // keep the program from starting there at all.
  const auto setDefault =
      Find<decltype(::SetDefaultDllDirectories)>(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  // The program's own folder can't be taken out of the search there; LoadSystemLibrary
  // then names the system folder in full.
  ::SetDllDirectoryW(L"");
  return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
  if (const HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // A system without the search flags (Windows 7 before KB2533623) refuses them as an
  // invalid parameter: a full path then leaves the loader no folder to choose, and the
  // altered search path looks for the DLL's own imports beside it.
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  wchar_t path[MAX_PATH];
  const UINT folderChars = ::GetSystemDirectoryW(path, MAX_PATH);
  if (folderChars == 0 || folderChars + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
  path[folderChars] = L'\\';
  std::wcscpy(path + folderChars + 1, name);
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

BOOL InternetCrackUrlW(LPCWSTR url, DWORD urlLength, DWORD flags, LPURL_COMPONENTSW components) noexcept {
  static const auto function = Find<decltype(::InternetCrackUrlW)>(WininetDll(), "InternetCrackUrlW");
  return function ? function(url, urlLength, flags, components) : Unavailable<BOOL>(FALSE);
}

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass, DWORD flags) noexcept {
  static const auto function = Find<decltype(::InternetOpenW)>(WininetDll(), "InternetOpenW");
  return function ? function(agent, accessType, proxy, proxyBypass, flags) : Unavailable<HINTERNET>(nullptr);
}

BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) noexcept {
  static const auto function = Find<decltype(::InternetSetOptionW)>(WininetDll(), "InternetSetOptionW");
  return function ? function(handle, option, buffer, bufferLength) : Unavailable<BOOL>(FALSE);
}

HINTERNET InternetConnectW(HINTERNET root, LPCWSTR server, INTERNET_PORT port, LPCWSTR user, LPCWSTR password,
                           DWORD service, DWORD flags, DWORD_PTR context) noexcept {
  static const auto function = Find<decltype(::InternetConnectW)>(WininetDll(), "InternetConnectW");
  return function ? function(root, server, port, user, password, service, flags, context)
                  : Unavailable<HINTERNET>(nullptr);
}

HINTERNET HttpOpenRequestW(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR referrer,
                           LPCWSTR* acceptTypes, DWORD flags, DWORD_PTR context) noexcept {
  static const auto function = Find<decltype(::HttpOpenRequestW)>(WininetDll(), "HttpOpenRequestW");
  return function ? function(connection, verb, object, version, referrer, acceptTypes, flags, context)
                  : Unavailable<HINTERNET>(nullptr);
}

BOOL HttpAddRequestHeadersW(HINTERNET request, LPCWSTR headers, DWORD headersLength, DWORD modifiers) noexcept {
  static const auto function = Find<decltype(::HttpAddRequestHeadersW)>(WininetDll(), "HttpAddRequestHeadersW");
  return function ? function(request, headers, headersLength, modifiers) : Unavailable<BOOL>(FALSE);
}

BOOL HttpSendRequestW(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) noexcept {
  static const auto function = Find<decltype(::HttpSendRequestW)>(WininetDll(), "HttpSendRequestW");
  return function ? function(request, headers, headersLength, optional, optionalLength) : Unavailable<BOOL>(FALSE);
}

BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength, LPDWORD index) noexcept {
  static const auto function = Find<decltype(::HttpQueryInfoW)>(WininetDll(), "HttpQueryInfoW");
  return function ? function(request, infoLevel, buffer, bufferLength, index) : Unavailable<BOOL>(FALSE);
}

BOOL InternetCloseHandle(HINTERNET handle) noexcept {
  static const auto function = Find<decltype(::InternetCloseHandle)>(WininetDll(), "InternetCloseHandle");
  return function ? function(handle) : Unavailable<BOOL>(FALSE);
}

}  // namespace win
