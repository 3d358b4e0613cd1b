#include <windows.h>

// Placeholder entry until the main dialog exists: says what the tool is and ends.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MessageBoxW(nullptr, L"Marrow Finch病毒专杀工具", L"Morva安全", MB_OK);
  return 0;
}
