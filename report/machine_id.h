// The machine identifier that every usage report carries: a random 128-bit value made
// once per machine and kept in the registry, so that all reports from one machine match.
#pragma once

#include <string>

namespace report {

// HKEY_LOCAL_MACHINE\software\morva, default value, REG_BINARY. Earlier releases were
// 32-bit programs, so the key is always opened in the 32-bit view of the registry.
inline constexpr wchar_t kMachineIdKey[] = L"software\\morva";

// Reads the stored identifier, or creates and stores a new one when the value is missing,
// not binary, or longer than 16 bytes; a shorter binary value is kept and its missing
// bytes read as zeros. Returns the 16 bytes as 32 upper-case hex digits in memory order,
// or an empty string when the key can't be opened or a new value can't be stored.
std::wstring LoadMachineId();

}  // namespace report
