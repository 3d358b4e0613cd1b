#include "tests/report/machine_id_key.h"

#include "report/machine_id.h"
#include "win/handles.h"

namespace test {

namespace {

win::RegKey OpenKey(RegistryView view, REGSAM access) {
  win::RegKey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, report::kMachineIdKey, 0, access | view, key.put());
  return key;
}

}  // namespace

StoredValue ReadMachineIdValue(RegistryView view) {
  StoredValue stored;
  win::RegKey key = OpenKey(view, KEY_READ);
  if (!key) return stored;
  stored.keyExists = true;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &stored.type, nullptr, &size) != ERROR_SUCCESS) return stored;
  stored.bytes.resize(size);
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &stored.type,
                       reinterpret_cast<BYTE*>(stored.bytes.empty() ? nullptr : &stored.bytes[0]),
                       &size) != ERROR_SUCCESS)
    return stored;
  stored.bytes.resize(size);
  stored.valueExists = true;
  return stored;
}

bool WriteMachineIdValue(RegistryView view, DWORD type, const std::string& bytes) {
  win::RegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, report::kMachineIdKey, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  return RegSetValueExW(key.get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

bool DeleteMachineIdKey(RegistryView view) {
  win::RegKey parent;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software", 0, KEY_ALL_ACCESS | view, parent.put()) != ERROR_SUCCESS)
    return false;
  RegDeleteTreeW(parent.get(), L"morva");
  return !OpenKey(view, KEY_READ);
}

std::wstring HexOf(const std::string& bytes) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (unsigned char b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::string Sequence(int from, int to) {
  std::string bytes;
  for (int b = from; b < to; ++b) bytes += static_cast<char>(b);
  return bytes;
}

MachineIdKeyGuard::MachineIdKeyGuard() : views_{Take(KEY_WOW64_32KEY), Take(KEY_WOW64_64KEY)} {}

MachineIdKeyGuard::~MachineIdKeyGuard() {
  for (const Snapshot& snapshot : views_) Restore(snapshot);
}

MachineIdKeyGuard::Snapshot MachineIdKeyGuard::Take(RegistryView view) {
  Snapshot snapshot;
  snapshot.view = view;
  win::RegKey key = OpenKey(view, KEY_READ);
  if (!key) return snapshot;
  snapshot.existed = true;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameChars = 16384;
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueW(key.get(), index, name, &nameChars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    Value value{std::wstring(name, nameChars), type, std::string(size, '\0')};
    RegQueryValueExW(key.get(), value.name.c_str(), nullptr, nullptr,
                     reinterpret_cast<BYTE*>(value.bytes.empty() ? nullptr : &value.bytes[0]), &size);
    snapshot.values.push_back(std::move(value));
  }
  return snapshot;
}

void MachineIdKeyGuard::Restore(const Snapshot& snapshot) {
  DeleteMachineIdKey(snapshot.view);
  if (!snapshot.existed) return;
  win::RegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, report::kMachineIdKey, 0, nullptr, 0, KEY_ALL_ACCESS | snapshot.view, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS)
    return;
  for (const Value& value : snapshot.values)
    RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                   static_cast<DWORD>(value.bytes.size()));
}

}  // namespace test
