// Paths as the system takes them: their "\\?\" form, their long names, their volume's root,
// their parts; and where an open handle really is.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace engine {

// Names compared as the file system compares them, without regard to case.
bool SameIgnoringCase(const std::wstring& a, const std::wstring& b);

// The "\\?\" form of a path, so that no part of the system cuts it at MAX_PATH or trims
// its names: "C:\a" gives "\\?\C:\a", "\\server\share" gives "\\?\UNC\server\share".
// A relative path is made full first. Already long paths come back as they are.
std::wstring LongPath(const std::wstring& path);
// The same with every short (8.3) name in it replaced by its long name, as far as the path
// exists; what doesn't exist stays as it was. A process started by a short name has that
// name on record, and a path a program stores may hold one; but the opens here check each
// name they reach against the one asked for, which the system reports in its long form.
std::wstring LongNamesPath(const std::wstring& path);

// Splits a "\\?\" path into its volume's root ("\\?\C:\", "\\?\UNC\server\share\") and the
// names of the folders below it. False for a path that names no volume, or whose names
// step sideways ("." or "..", which the system would resolve against the names before).
bool SplitAtRoot(const std::wstring& path, std::wstring& root, std::vector<std::wstring>& names);
// The folder part of a path, up to and with its last backslash, and the name after it.
// False when there is no backslash or no name after it.
bool SplitFolderAndName(const std::wstring& path, std::wstring& folder, std::wstring& name);

// The root of the volume that holds `path`, as GetDriveTypeW takes it ("C:\",
// "\\?\Volume{...}\"), in either form of the path; empty for a share, a device or a
// relative path, which name no volume of this machine.
std::wstring VolumeRootOf(const std::wstring& path);

// The final path of an open file or directory, "\\?\" form; empty on failure.
std::wstring FinalPath(HANDLE file);

}  // namespace engine
