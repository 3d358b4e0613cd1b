#include "engine/paths.h"

#include <winternl.h>

#include <cstdint>
#include <cwctype>
#include <memory>
#include <new>

#include "win/os.h"

namespace engine {

bool SameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool SplitAtRoot(const std::wstring& path, std::wstring& root, std::vector<std::wstring>& names) {
  size_t at = 0;
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    const size_t server = path.find(L'\\', 8);
    if (server == std::wstring::npos || server == 8) return false;
    size_t share = path.find(L'\\', server + 1);
    if (share == std::wstring::npos) share = path.size();
    if (share == server + 1) return false;
    root = path.substr(0, share) + L'\\';
    at = share + 1;
  } else if (path.compare(0, 4, L"\\\\?\\") == 0 && path.size() >= 6 && path[5] == L':' &&
             (path.size() == 6 || path[6] == L'\\')) {
    at = path.size() == 6 ? 6 : 7;
    root = path.substr(0, 6) + L"\\";
  } else {
    return false;
  }
  names.clear();
  while (at < path.size()) {
    size_t end = path.find(L'\\', at);
    if (end == std::wstring::npos) end = path.size();
    if (end > at) {
      std::wstring name = path.substr(at, end - at);
      if (name == L"." || name == L"..") return false;
      names.push_back(std::move(name));
    }
    at = end + 1;
  }
  return true;
}

bool SplitFolderAndName(const std::wstring& path, std::wstring& folder, std::wstring& name) {
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos || slash + 1 == path.size()) return false;
  folder = path.substr(0, slash + 1);
  name = path.substr(slash + 1);
  return true;
}

std::wstring LongPath(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  const DWORD needed = win::os::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = win::os::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring LongNamesPath(const std::wstring& path) {
  const std::wstring full = LongPath(path);
  if (full.compare(0, 4, L"\\\\?\\") != 0) return full;
  // Wine lengthens the names of a path only without the "\\?\" prefix, which Windows needs
  // only for a path longer than MAX_PATH.
  const bool unc = full.compare(0, 8, L"\\\\?\\UNC\\") == 0;
  std::wstring asked = unc ? L"\\\\" + full.substr(8) : full.substr(4);
  if (asked.size() >= MAX_PATH) asked = full;
  const DWORD needed = win::os::GetLongPathNameW(asked.c_str(), nullptr, 0);
  if (needed == 0) return full;
  std::wstring longNames(needed, L'\0');
  const DWORD length = win::os::GetLongPathNameW(asked.c_str(), &longNames[0], needed);
  if (length == 0 || length >= needed) return full;
  longNames.resize(length);
  return LongPath(longNames);
}

std::wstring FinalPath(HANDLE file) {
  wchar_t buffer[MAX_PATH];
  const DWORD length =
      win::os::GetFinalPathNameByHandleW(file, buffer, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length > 0 && length < MAX_PATH) return std::wstring(buffer, length);
  if (length >= MAX_PATH) {
    // Longer than MAX_PATH: the length asked for includes the NUL.
    std::wstring path(length, L'\0');
    const DWORD again =
        win::os::GetFinalPathNameByHandleW(file, &path[0], length, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (again > 0 && again < length) {
      path.resize(again);
      return path;
    }
  }
  // Wine's GetFinalPathNameByHandleW gives up beyond MAX_PATH; the object's name, which
  // Wine gives as "\??\C:\...", says the same.
  constexpr ULONG kNameBytes = 0x10000 + sizeof(UNICODE_STRING);
  std::unique_ptr<uint64_t[]> storage(new (std::nothrow) uint64_t[kNameBytes / sizeof(uint64_t)]);
  ULONG returned = 0;
  if (!storage || win::os::NtQueryObject(file, 1 /* ObjectNameInformation */, storage.get(), kNameBytes, &returned) < 0)
    return {};
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(storage.get());
  const std::wstring path(name->Buffer, name->Length / sizeof(WCHAR));
  if (path.compare(0, 4, L"\\??\\") != 0) return {};
  return L"\\\\?\\" + path.substr(4);
}

std::wstring VolumeRootOf(const std::wstring& path) {
  const bool prefixed = path.compare(0, 4, L"\\\\?\\") == 0;
  const std::wstring rest = prefixed ? path.substr(4) : path;
  if (rest.size() >= 3 && iswalpha(rest[0]) && rest[1] == L':' && rest[2] == L'\\') return rest.substr(0, 3);
  // A volume by its own name: "\\?\Volume{...}\".
  if (prefixed && rest.compare(0, 7, L"Volume{") == 0) {
    const size_t end = rest.find(L"}\\");
    if (end != std::wstring::npos) return path.substr(0, 4 + end + 2);
  }
  return {};  // a share ("\\server\share", "\\?\UNC\"), a device, a relative path
}

}  // namespace engine
