// The checked build of the program: Windows's rules at its door (tests/support/windows_rules.h)
// from before its first call, each refusal and, at its end, the summary line appended to the
// file that MFK_RULES_LOG names.
#include <windows.h>

#include <string>

#include "tests/support/windows_rules.h"

namespace {

void Append(const std::string& line) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"MFK_RULES_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  // Outside the door: the log is the checker's, not the program's.
  const HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(log);
}

struct CheckedProgram {
  CheckedProgram() {
    rules::Install([](rules::RuleId, const std::string& message) { Append(message); });
  }
  ~CheckedProgram() { Append(rules::Summary()); }
};

// Before the process-wide objects of the program, which read the registry.
__attribute__((init_priority(101))) CheckedProgram gCheckedProgram;

}  // namespace
