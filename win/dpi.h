// The DPI a window is drawn at, and lengths scaled to it. The manifest makes the program
// per-monitor aware, so Windows doesn't stretch what it draws itself: that is drawn at the
// window's DPI, and again at the new one on WM_DPICHANGED. Lengths are given at 96 DPI.
#pragma once

#include <windows.h>

namespace win {

inline constexpr UINT kDefaultDpi = 96;

// A length of `pixels` at 96 DPI, at `dpi`, rounded to the nearest pixel.
inline int ScaleToDpi(int pixels, UINT dpi) noexcept { return ::MulDiv(pixels, static_cast<int>(dpi), kDefaultDpi); }

// The window's DPI (GetDpiForWindow, from Windows 10 1607). Where Windows has no per-window
// DPI, the system's, which is then the DPI of every window of a system-aware program.
UINT DpiForWindow(HWND window) noexcept;

// A system metric at the DPI (GetSystemMetricsForDpi, from Windows 10 1607); where Windows
// doesn't have it, the metric at the system's DPI.
int SystemMetricForDpi(int index, UINT dpi) noexcept;

}  // namespace win
