// The resolution a window is drawn at, and lengths scaled to it.
//
// The manifest declares the program per-monitor aware (version 2), system aware where
// Windows knows no better: Windows then leaves its drawing unstretched, so whatever the
// program draws itself must be drawn at the window's own DPI, and drawn again at the new
// one when the window moves to a monitor with another (WM_DPICHANGED). Lengths are given
// at 96 DPI, "100 %", and scaled with MulDiv, which rounds to the nearest pixel.
#pragma once

#include <windows.h>

namespace win {

inline constexpr UINT kDefaultDpi = 96;

// A length of `pixels` at 96 DPI, at `dpi`.
inline int ScaleToDpi(int pixels, UINT dpi) noexcept { return ::MulDiv(pixels, static_cast<int>(dpi), kDefaultDpi); }

// The window's DPI (GetDpiForWindow, from Windows 10 1607). Where Windows has no per-window
// DPI, the system's, which is then the DPI of every window of a system-aware program.
UINT DpiForWindow(HWND window) noexcept;

// A system metric at the DPI (GetSystemMetricsForDpi, from Windows 10 1607); where Windows
// doesn't have it, the metric at the system's DPI.
int SystemMetricForDpi(int index, UINT dpi) noexcept;

}  // namespace win
