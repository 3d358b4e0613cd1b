/* The browser of the test prefix: registered as the handler of http URLs, so that the
   shell really starts a program when the tool opens a page, and nothing leaves the
   machine. Appends one UTF-8 line to a log: its first argument, a tab, and the name of
   the program that started it (its parent process, "?" when that has ended), which says
   who opened the page: "explorer.exe" for the desktop's shell.

   The log is the file named by the value UrlLog of the key
   HKEY_CURRENT_USER\Software\MarrowFinchTests, which a test sets while it records
   (tests/ui/dialog_driver.h) and scripts/run.sh sets in its prefix: a browser started by
   the desktop's shell has the shell's environment, not that of the program that asked for
   the page. Without the value it records nothing. */
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

static BOOL LogPath(wchar_t* path, DWORD chars) {
  DWORD bytes = chars * sizeof(wchar_t);
  return RegGetValueW(HKEY_CURRENT_USER, L"Software\\MarrowFinchTests", L"UrlLog", RRF_RT_REG_SZ, NULL, path, &bytes) ==
             ERROR_SUCCESS &&
         bytes > sizeof(wchar_t);
}

/* The executable name of this process's parent, or "?" when it can't be found. */
static void ParentName(wchar_t* name, int chars) {
  lstrcpynW(name, L"?", chars);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); parent && more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == parent) lstrcpynW(name, entry.szExeFile, chars);
  CloseHandle(snapshot);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  (void)instance, (void)previous, (void)commandLine, (void)show;
  wchar_t log[MAX_PATH];
  if (!LogPath(log, MAX_PATH)) return 1;

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  wchar_t parent[MAX_PATH];
  ParentName(parent, MAX_PATH);
  char line[4096];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, line, sizeof line - MAX_PATH * 3 - 2, NULL, NULL);
  if (bytes <= 0) return 3;
  line[bytes - 1] = '\t'; /* in place of the terminating NUL */
  const int parentBytes = WideCharToMultiByte(CP_UTF8, 0, parent, -1, line + bytes, MAX_PATH * 3, NULL, NULL);
  if (parentBytes <= 0) return 3;
  bytes += parentBytes;
  line[bytes - 1] = '\n';

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
