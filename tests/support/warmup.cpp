// Started once before the tests: brings up the prefix's services and its desktop
// process with output going nowhere. Started from inside a test instead, they would
// inherit ctest's output pipe and hold it open long after the test has ended.
#include <windows.h>

int wmain() {
  const HWND window = CreateWindowExW(0, L"STATIC", L"warm-up", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  DestroyWindow(window);
  return 0;
}
