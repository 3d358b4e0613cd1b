#include "tests/e2e/snapshot.h"

#include <cwctype>

#include "tests/support/test_support.h"
#include "win/handles.h"

namespace e2e {

namespace {

// FNV-1a, 64 bits: enough to see that a file's bytes changed.
uint64_t Hash(const void* data, size_t size, uint64_t h = 1469598103934665603ull) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

uint64_t HashFile(const std::wstring& path) {
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return 1;  // exists but can't be read: compared by that alone
  uint64_t h = 1469598103934665603ull;
  static char buffer[1 << 16];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) h = Hash(buffer, read, h);
  return h;
}

void WalkKey(HKEY parent, const std::wstring& subkey, REGSAM view, const std::wstring& name, RegistrySnapshot& out) {
  win::RegKey key;
  if (RegOpenKeyExW(parent, subkey.empty() ? nullptr : subkey.c_str(), 0, KEY_READ | view, key.put()) != ERROR_SUCCESS)
    return;
  out[Upper(name) + L"\\"] = 0;
  std::vector<wchar_t> valueName(16384);
  std::vector<BYTE> data(1 << 16);
  for (DWORD i = 0;; ++i) {
    DWORD nameChars = static_cast<DWORD>(valueName.size());
    DWORD type = 0, size = static_cast<DWORD>(data.size());
    LONG rc = RegEnumValueW(key.get(), i, valueName.data(), &nameChars, nullptr, &type, data.data(), &size);
    if (rc == ERROR_MORE_DATA) {
      data.resize(size + 1);
      nameChars = static_cast<DWORD>(valueName.size());
      size = static_cast<DWORD>(data.size());
      rc = RegEnumValueW(key.get(), i, valueName.data(), &nameChars, nullptr, &type, data.data(), &size);
    }
    if (rc != ERROR_SUCCESS) break;
    out[Upper(name) + L"|" + Upper(std::wstring(valueName.data(), nameChars))] = Hash(data.data(), size, type);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t child[256];
    DWORD chars = 256;
    if (RegEnumKeyExW(key.get(), i, child, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(child, chars);
  }
  for (const std::wstring& child : children) WalkKey(key.get(), child, view, name + L"\\" + child, out);
}

}  // namespace

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

FileSnapshot SnapshotFiles(const std::wstring& root) {
  FileSnapshot out;
  test::WalkTree(root, [&](const std::wstring& path, bool isDirectory) {
    if (isDirectory)
      out[Upper(path) + L"\\"] = 0;
    else
      out[Upper(path)] = HashFile(path);
  });
  return out;
}

RegistrySnapshot SnapshotRegistry() {
  RegistrySnapshot out;
  WalkKey(HKEY_LOCAL_MACHINE, L"", KEY_WOW64_64KEY, L"HKLM", out);
  WalkKey(HKEY_LOCAL_MACHINE, L"Software", KEY_WOW64_32KEY, L"HKLM32\\Software", out);
  WalkKey(HKEY_USERS, L"", 0, L"HKU", out);
  return out;
}

std::vector<std::wstring> Differences(const std::map<std::wstring, uint64_t>& before,
                                      const std::map<std::wstring, uint64_t>& after,
                                      const std::vector<std::wstring>& excludedPrefixes) {
  const auto excluded = [&](const std::wstring& name) {
    for (const std::wstring& prefix : excludedPrefixes)
      if (name.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  };
  std::vector<std::wstring> out;
  for (const auto& [name, hash] : before) {
    if (excluded(name)) continue;
    const auto it = after.find(name);
    if (it == after.end())
      out.push_back(L"gone: " + name);
    else if (it->second != hash)
      out.push_back(L"changed: " + name);
  }
  for (const auto& [name, hash] : after)
    if (!excluded(name) && before.find(name) == before.end()) out.push_back(L"new: " + name);
  return out;
}

}  // namespace e2e
