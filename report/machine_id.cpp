#include "report/machine_id.h"

#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "win/handles.h"

namespace report {

namespace {

constexpr DWORD kIdBytes = 16;

std::wstring EncodeHex(const BYTE (&bytes)[kIdBytes]) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  text.reserve(2 * kIdBytes);
  for (BYTE b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

}  // namespace

std::wstring LoadMachineId() {
  // Without KEY_WOW64_32KEY this 64-bit build would look in the 64-bit view and give
  // every machine that ran an earlier, 32-bit release a second identifier.
  win::RegKey key;
  if (win::os::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMachineIdKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, key.put(),
                               nullptr) != ERROR_SUCCESS)
    return {};

  // A shorter value fills only the front of the buffer; the rest stays zero.
  BYTE id[kIdBytes] = {};
  DWORD type = 0;
  DWORD size = sizeof id;
  const LSTATUS status = win::os::RegQueryValueExW(key.get(), nullptr, nullptr, &type, id, &size);
  if (status != ERROR_SUCCESS || type != REG_BINARY) {
    // Missing, of another type, or too long (ERROR_MORE_DATA): replace it.
    GUID guid;
    if (FAILED(CoCreateGuid(&guid))) return {};
    static_assert(sizeof guid == kIdBytes, "a GUID is 16 bytes");
    std::memcpy(id, &guid, kIdBytes);
    // A value that can't be stored would change at every start: better none.
    if (win::os::RegSetValueExW(key.get(), nullptr, 0, REG_BINARY, id, kIdBytes) != ERROR_SUCCESS) return {};
  }
  return EncodeHex(id);
}

}  // namespace report
