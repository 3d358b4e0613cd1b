#include "win/system_dlls.h"

#include <cwchar>

namespace win {

namespace {

// Loaded once, by whichever thread needs it first, and kept until the process ends; so is
// each function pointer below.
HMODULE Comctl32Dll() noexcept {
  static const HMODULE module = LoadSystemLibrary(L"comctl32.dll");
  return module;
}

}  // namespace

bool RestrictDllSearch() noexcept {
  // Found by name: Windows 7 has it only with KB2533623, and a static import of it would
  // keep the program from starting there at all.
  const auto setDefault =
      FindExport<decltype(::SetDefaultDllDirectories)>(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  // The program's own folder can't be taken out of the search there; LoadSystemLibrary
  // then names the system folder in full.
  ::SetDllDirectoryW(L"");
  return false;
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
  // A bare name: the activation context's redirection (comctl32 to its version 6
  // assembly) comes before the search, which the flag limits to the system folder.
  if (const HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  // A system without the search flags (Windows 7 before KB2533623) refuses them as an
  // invalid parameter: a full path then leaves the loader no folder to choose, and the
  // altered search path looks for the DLL's own imports beside it. A full path is not
  // redirected, so comctl32 is then the system folder's version 5: dialogs without
  // visual styles, rather than a DLL from the program's folder.
  if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  wchar_t path[MAX_PATH];
  const UINT folderChars = ::GetSystemDirectoryW(path, MAX_PATH);
  if (folderChars == 0 || folderChars + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
  path[folderChars] = L'\\';
  std::wcscpy(path + folderChars + 1, name);
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) noexcept {
  static const auto function = FindExport<decltype(::InitCommonControlsEx)>(Comctl32Dll(), "InitCommonControlsEx");
  return function ? function(controls) : Unavailable<BOOL>(FALSE);
}

BOOL SetWindowSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data) noexcept {
  static const auto function = FindExport<decltype(::SetWindowSubclass)>(Comctl32Dll(), "SetWindowSubclass");
  return function ? function(window, procedure, id, data) : Unavailable<BOOL>(FALSE);
}

BOOL RemoveWindowSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id) noexcept {
  static const auto function = FindExport<decltype(::RemoveWindowSubclass)>(Comctl32Dll(), "RemoveWindowSubclass");
  return function ? function(window, procedure, id) : Unavailable<BOOL>(FALSE);
}

LRESULT DefSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  // Only a subclass procedure calls this, so comctl32 is loaded by then and the
  // function is there; without it the window could not be subclassed at all.
  static const auto function = FindExport<decltype(::DefSubclassProc)>(Comctl32Dll(), "DefSubclassProc");
  return function ? function(window, message, wParam, lParam) : Unavailable<LRESULT>(0);
}

BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT track) noexcept {
  static const auto function = FindExport<decltype(::_TrackMouseEvent)>(Comctl32Dll(), "_TrackMouseEvent");
  return function ? function(track) : Unavailable<BOOL>(FALSE);
}

}  // namespace win
