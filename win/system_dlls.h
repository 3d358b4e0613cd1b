// DLLs that are not KnownDLLs, loaded from the system folder and nowhere else.
//
// Windows looks for a DLL that is not a KnownDLL in the program's own folder first. The
// program runs as administrator from wherever it was downloaded to, and anyone who can
// drop a wininet.dll beside it would be loaded into it before its first window. So the
// executable imports only KnownDLLs; the others are loaded here on first use with the
// search limited to the system folder, and their functions are found by name.
//
// comctl32 is one of them even though the manifest binds it to the system's side-by-side
// copy: a DLL the program imports is loaded, and starts, before any code of the program
// runs, and comctl32's start-up loads DLLs of its own by their bare names (Wine's loads
// uxtheme.dll), which would then be looked for beside the program. Loaded here, after the
// search is restricted, it is still the version 6 assembly: the activation context that
// the manifest gives the process redirects LoadLibrary of comctl32.dll as it redirects an
// import of it.
//
// The functions below have the names, parameters and results of the system's own, in
// namespace win: a call site changes by its qualifier alone. When the DLL or the function
// can't be had, each fails the way the system's does (0, FALSE or null) with
// ERROR_PROC_NOT_FOUND as the last error.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

namespace win {

// Limits the DLL search of the whole process to the system folder: every LoadLibrary
// from then on, ours or a system DLL's on our behalf, leaves out the program's folder,
// the current directory and PATH. Must run before anything loads a DLL; the process-wide
// objects do it first of all (app/process_objects.cpp). False where the system can't
// (Windows 7 without update KB2533623): the current directory is then left out at least.
bool RestrictDllSearch() noexcept;

// Loads a DLL from the system folder only. Null when that fails.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;

// An export found by name, typed as the system's declaration of it: the one way this
// program finds a function by name. GetProcAddress gives a function without parameters;
// the detour through the generic function type says that the cast is meant.
template <typename Function>
Function* FindExport(HMODULE module, const char* name) noexcept {
  if (!module) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// COMCTL32.dll
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) noexcept;
BOOL SetWindowSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data) noexcept;
BOOL RemoveWindowSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id) noexcept;
LRESULT DefSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT track) noexcept;

// WININET.dll
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

}  // namespace win
