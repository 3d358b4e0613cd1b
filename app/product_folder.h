// The maker's shared data folder, "Morva" under the all-users application-data folder.
// Its absence on a machine is reported once at start.
#pragma once

#include <string>

namespace app {

inline constexpr wchar_t kProductFolderName[] = L"Morva";

// "<commonAppData>\Morva", with the separator added only when commonAppData doesn't
// already end in one. Empty when commonAppData is empty: there is no folder to look in.
std::wstring ProductFolderPath(const std::wstring& commonAppData);

}  // namespace app
