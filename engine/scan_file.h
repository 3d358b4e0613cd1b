// One file of a walk: whether it carries the marker, and its restoration. The virus keeps
// each file's former contents beside it under the same stem with ".sql" in place of the
// last extension.
//
// A file is opened once, relative to the directory it was listed in, without following a
// link (HeldDirectory::Test); its verdict is read through that handle, and whatever is then
// done to it is done through it. Its ".sql" copy is looked up in that same directory and
// used only when it is what it claims to be.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "engine/held_directory.h"
#include "engine/scan_context.h"

namespace engine {

// The backup copy's name: the file's name cut before its last "." followed by ".sql".
// Empty when the name has no ".".
std::wstring BackupCopyName(const std::wstring& name);

// The entry `entry` of `directory`, held open, when it is a file that carries the marker;
// empty otherwise (a link, a file whose data isn't here, what can't be opened without
// waiting or isn't a disk file, a clean file).
TestedFile TestFile(const HeldDirectory& directory, const DirectoryEntry& entry);

enum class Restoration {
  kRestored,  // the file now holds exactly the copy's bytes, and the copy is gone
  kDeleted,   // there was no copy to be trusted: the file is gone
  kLeft,      // nothing was restored or deleted; both files are as they were
};

// Restores the infected file in three steps: trusts its copy, writes the copy's bytes into
// a new file beside it, swaps that in for the infected one, so that the file ends with either
// its old bytes or exactly the copy's, never a mix; then deletes the copy. Without a copy
// that can be trusted, deletes the file and leaves whatever stands at the copy's name. A
// copy in use, one that doesn't fit on the volume, a failed read or write, and a stop
// requested during the copy leave both files as they were. The names it makes in the
// directory are noted in `made` first.
Restoration RestoreVirusFile(TestedFile infected, const WalkContext& context, NameLog* made);

// Tests the file `name` of `directory` through one handle with `condition` and, when it
// holds and the file is the very one listed, deletes it (TestedFile::Delete) after the pause
// of `pauseMs`. Returns whether the condition held.
bool DeleteFileIf(const HeldDirectory& directory, const std::wstring& name,
                  const std::function<bool(HANDLE file)>& condition, DWORD pauseMs = 0);

}  // namespace engine
