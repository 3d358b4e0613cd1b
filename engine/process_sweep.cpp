#include "engine/process_sweep.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/held_directory.h"
#include "engine/paths.h"
#include "engine/marker.h"
#include "win/handles.h"

namespace engine {

namespace {

// What the sweep does with a process and nothing more: its image's name, whether it is
// critical, its end. A process that grants just these (another account's, a service's)
// is examined all the same.
constexpr DWORD kSweepAccess = PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE;
// The longest path the system knows, its NUL included.
constexpr DWORD kLongestPath = 32768;

// The file the process was started from, as the kernel recorded it at the start. The path
// that GetModuleFileNameExW gives is read from the process's own memory (its loader entry),
// which the process can rewrite: a virus could claim to be notepad, a user's process could
// name somebody else's file or a pipe that it serves and never writes to. Nor is this path
// cut at MAX_PATH.
bool ImagePath(HANDLE process, std::wstring& path) {
  for (DWORD capacity = MAX_PATH;; capacity = capacity * 2 < kLongestPath ? capacity * 2 : kLongestPath) {
    path.assign(capacity, L'\0');
    DWORD length = capacity;
    if (win::os::QueryFullProcessImageNameW(process, 0, &path[0], &length)) {
      path.resize(length);
      return length > 0;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || capacity == kLongestPath) return false;
  }
}

// The folders of the images one sweep tests, each held open once, relative to its parent
// from the volume's root and never through a link: many processes start from a few folders,
// and deep ones share most of their way.
class Folders {
 public:
  // The folder at `path` ("\\?\" form), or null when it can't be held, or a folder on its
  // way is a link, a junction or a mount point.
  const HeldDirectory* Of(const std::wstring& path) {
    std::wstring root;
    std::vector<std::wstring> names;
    if (!SplitAtRoot(path, root, names)) return nullptr;
    std::wstring key = Upper(root);
    const HeldDirectory* folder = Held(key, [&](HeldDirectory& d) { return d.Open(root); });
    for (const std::wstring& name : names) {
      if (!folder) return nullptr;
      const HeldDirectory& parent = *folder;
      key += Upper(name) + L"\\";
      folder = Held(key, [&](HeldDirectory& d) { return d.OpenIn(parent, name); });
    }
    return folder;
  }

 private:
  static std::wstring Upper(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
  }
  template <typename Open>
  const HeldDirectory* Held(const std::wstring& key, const Open& open) {
    const auto found = held_.find(key);
    if (found != held_.end()) return found->second.get();
    auto folder = std::make_unique<HeldDirectory>();
    if (!open(*folder)) folder.reset();  // remembered as one that can't be held
    return held_.emplace(key, std::move(folder)).first->second.get();
  }

  std::map<std::wstring, std::unique_ptr<HeldDirectory>> held_;
};

// Whether the image at `path` carries the marker, read through one handle to the file
// itself: every folder on the way opened without following a link, the file opened
// relative to the last one without following a link or waiting on someone's opportunistic
// lock, and only when it is a plain disk file that really stands there. Whatever the path
// now leads to instead (a link swapped in since the start, a pipe, a device) isn't read.
// A process started by the short (8.3) name of its file is tested like any other.
bool ImageIsInfected(const std::wstring& recorded, Folders& folders) {
  const std::wstring path = LongNamesPath(recorded);
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos || slash + 1 == path.size()) return false;
  const std::wstring name = path.substr(slash + 1);
  const HeldDirectory* folder = folders.Of(path.substr(0, slash + 1));
  if (!folder) return false;
  const TestedFile image = folder->Test(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  return image && IsVirusFile(image.handle());
}

// Ends the process when its executable carries the marker. A process whose image can't
// be named (the idle and system processes, a protected one) has no file to test and is
// left alone. An image that isn't on a fixed volume of this machine (a share, a WebDAV
// folder, a mapped or removable drive) is never opened: the tool runs as administrator and
// would hand the administrator's credentials to whatever server answers, and wait on it.
// A critical process is left running: its end would stop the whole system at once; so is
// one that can't say whether it is.
void EndIfInfected(DWORD processId, Folders& folders, SweepCounts& counts) {
  win::KernelHandle process(win::os::OpenProcess(kSweepAccess, FALSE, processId));
  if (!process) return;
  std::wstring path;
  if (!ImagePath(process.get(), path)) return;
  const std::wstring root = VolumeRootOf(path);
  if (root.empty() || win::os::GetDriveTypeW(root.c_str()) != DRIVE_FIXED) {
    ++counts.notExamined;
    return;
  }
  if (!ImageIsInfected(path, folders)) return;
  BOOL critical = TRUE;
  if (!win::os::IsProcessCritical(process.get(), &critical) || critical) {
    ++counts.leftCritical;
    return;
  }
  if (win::os::TerminateProcess(process.get(), 0)) ++counts.ended;
}

}  // namespace

SweepCounts KillVirusProcesses() {
  SweepCounts counts;
  // A failed snapshot is INVALID_HANDLE_VALUE, not null: test it before it is owned.
  const HANDLE raw = win::os::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE || raw == nullptr) return counts;
  win::KernelHandle snapshot(raw);

  Folders folders;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  if (!win::os::Process32FirstW(snapshot.get(), &entry)) return counts;
  do {
    EndIfInfected(entry.th32ProcessID, folders, counts);
  } while (win::os::Process32NextW(snapshot.get(), &entry));
  return counts;
}

bool SetPrivilege(const wchar_t* name, bool enabled) {
  win::KernelHandle token;
  if (!win::os::OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;

  TOKEN_PRIVILEGES request{};
  request.PrivilegeCount = 1;
  if (!win::os::LookupPrivilegeValueW(nullptr, name, &request.Privileges[0].Luid)) return false;
  request.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
  // Succeeds also when the token doesn't hold the privilege (GetLastError then says
  // ERROR_NOT_ALL_ASSIGNED); what needs it then simply reaches less.
  return win::os::AdjustTokenPrivileges(token.get(), FALSE, &request, 0, nullptr, nullptr) != FALSE;
}

bool EnableDebugPrivilege() { return SetPrivilege(SE_DEBUG_NAME, true); }

}  // namespace engine
