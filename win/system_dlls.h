// DLLs that are not KnownDLLs, loaded from the system folder and nowhere else.
//
// Windows looks for any other DLL in the program's folder first, and the program runs as
// administrator from wherever it was downloaded to: a wininet.dll dropped beside it would
// be loaded into it. So the executable imports only KnownDLLs, and the others are loaded
// here at first use, with the search limited to the system folder, their functions found
// by name. comctl32 too, although the manifest binds it to the side-by-side copy: an
// imported DLL starts before any of our code, and comctl32's start-up loads DLLs by bare
// name (Wine's loads uxtheme.dll). Loaded after the search is restricted it is still the
// version 6 assembly, since the manifest's activation context redirects LoadLibrary too.
//
// The comctl32 functions below, and the WinINet ones the reports use
// (report/wininet_dll.h), have the system's names, parameters and results; when the DLL or
// the function can't be had they fail as the system's do, with ERROR_PROC_NOT_FOUND.
#pragma once

#include <windows.h>
#include <commctrl.h>

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

// What a function that can't be had answers: the system's failure value, with
// ERROR_PROC_NOT_FOUND as the last error.
template <typename Result>
Result Unavailable(Result failed) noexcept {
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return failed;
}

// COMCTL32.dll
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) noexcept;
BOOL SetWindowSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data) noexcept;
BOOL RemoveWindowSubclass(HWND window, SUBCLASSPROC procedure, UINT_PTR id) noexcept;
LRESULT DefSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT track) noexcept;

}  // namespace win
