/* The browser of the test prefix: registered as the handler of http URLs, so that the
   shell really starts a program when the tool opens a page, and nothing leaves the
   machine. Appends its first argument as one UTF-8 line to the file that the variable
   MFK_URL_LOG names (inherited from the program that opened the URL); without the
   variable it records nothing. */
#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  (void)instance, (void)previous, (void)commandLine, (void)show;
  wchar_t log[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"MFK_URL_LOG", log, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  char line[4096];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, line, sizeof line - 1, NULL, NULL);
  if (bytes <= 0) return 3;
  line[bytes - 1] = '\n'; /* in place of the terminating NUL */

  /* One write in append mode: lines of recorders running at once don't mix. */
  HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, line, (DWORD)bytes, &written, NULL);
  CloseHandle(file);
  LocalFree(argv);
  return ok ? 0 : 5;
}
