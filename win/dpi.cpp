#include "win/dpi.h"

#include "win/system_dlls.h"

namespace win {

namespace {

// Found by name: a static import of a function that Windows 7 and 8 lack would keep the
// program from starting there at all. user32 is loaded with the program.
template <typename Function>
Function* FromUser32(const char* name) noexcept {
  return FindExport<Function>(::GetModuleHandleW(L"user32.dll"), name);
}

using GetDpiForWindowFunction = UINT WINAPI(HWND);
using GetSystemMetricsForDpiFunction = int WINAPI(int, UINT);

}  // namespace

UINT DpiForWindow(HWND window) noexcept {
  static const auto forWindow = FromUser32<GetDpiForWindowFunction>("GetDpiForWindow");
  if (forWindow) {
    if (const UINT dpi = forWindow(window)) return dpi;
  }
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

int SystemMetricForDpi(int index, UINT dpi) noexcept {
  static const auto forDpi = FromUser32<GetSystemMetricsForDpiFunction>("GetSystemMetricsForDpi");
  return forDpi ? forDpi(index, dpi) : ::GetSystemMetrics(index);
}

}  // namespace win
