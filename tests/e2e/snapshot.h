// Before/after pictures of drive C: and of the registry, to prove that a run changed
// nothing but what it was meant to.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace e2e {

// Upper-cased path -> content hash, for every file below root (directories by name only).
using FileSnapshot = std::map<std::wstring, uint64_t>;
FileSnapshot SnapshotFiles(const std::wstring& root);

// "HKLM\path\to\key|value name" -> type and content hash, over HKEY_LOCAL_MACHINE (both
// views) and HKEY_USERS.
using RegistrySnapshot = std::map<std::wstring, uint64_t>;
RegistrySnapshot SnapshotRegistry();

std::wstring Upper(std::wstring text);

// The differences between two snapshots, leaving out entries whose upper-cased name
// starts with one of the excluded prefixes.
std::vector<std::wstring> Differences(const std::map<std::wstring, uint64_t>& before,
                                      const std::map<std::wstring, uint64_t>& after,
                                      const std::vector<std::wstring>& excludedPrefixes);

}  // namespace e2e
