// Started once before the tests: brings up the prefix's services and its desktop
// process with output going nowhere. Started from inside a test instead, they would
// inherit ctest's output pipe and hold it open long after the test has ended.
//
// It also waits until Wine's mount manager knows every drive letter. Until then Wine
// answers GetDriveTypeW with "fixed" for any folder, so a test starting early would see
// the network drive that holds the build folder as a drive an all-drives scan walks.
#include <windows.h>

namespace {

bool EveryDriveHasItsVolume() {
  const DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(drives & (1u << i))) continue;
    const wchar_t root[] = {static_cast<wchar_t>(L'A' + i), L':', L'\\', 0};
    wchar_t volume[64];
    if (!GetVolumeNameForVolumeMountPointW(root, volume, 64)) return false;
  }
  return true;
}

}  // namespace

int wmain() {
  const HWND window = CreateWindowExW(0, L"STATIC", L"warm-up", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  DestroyWindow(window);
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (!EveryDriveHasItsVolume()) {
    if (GetTickCount64() > deadline) return 1;
    Sleep(50);
  }
  return 0;
}
