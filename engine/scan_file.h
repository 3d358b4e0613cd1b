// Per-file inspection and restoration. The virus keeps each file's former contents
// beside it under the same stem with ".sql" in place of the last extension.
//
// A file is opened once, relative to the directory it was listed in, without following a
// link; its verdict is read through that handle, and whatever is then done to it is done
// through handles proven to be the same file. Its ".sql" copy is looked up in that same
// directory and used only when it is what it claims to be.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "engine/held_directory.h"
#include "engine/walk.h"

namespace engine {

// The backup copy's name: the file's name cut before its last "." followed by ".sql".
// Empty when the name has no ".".
std::wstring BackupCopyName(const std::wstring& name);

enum class Restoration {
  kRestored,  // the file now holds exactly the copy's bytes, and the copy is gone
  kDeleted,   // there was no copy: the file is gone
  kLeft,      // nothing was restored or deleted; both files are as they were
};

// Restores the infected file `name` of `directory`, which `tested` holds open (and which
// this closes): writes the copy's bytes into a new file beside it and swaps that in for
// the infected one, so that the file ends with either its old bytes or exactly the copy's,
// never a mix; then deletes the copy. Without a copy that can be trusted, deletes the file
// and leaves whatever stands at the copy's name. A copy in use, one that doesn't fit on
// the volume, a failed read or write, and a stop requested during the copy leave both
// files as they were.
Restoration RestoreVirusFile(const HeldDirectory& directory, const std::wstring& name, win::FileHandle tested,
                             const FileFacts& facts, const WalkContext& context);

// Deletes the infected file `name` of `directory`, which `facts` describe and `tested` (if
// any) holds open, whatever its attributes: attributes to normal, the pause of `pauseMs`
// (a process just ended may still hold its file), then the deletion through a handle of its
// own. kLeft, with its attributes as they were, when it can't be deleted.
Restoration DeleteInfected(const HeldDirectory& directory, const std::wstring& name, win::FileHandle tested,
                           const FileFacts& facts, DWORD pauseMs = 0);

// Tests the file `name` of `directory` through one handle with `condition` and, when it
// holds and the file is the very one listed, deletes it through handles to that same file,
// whatever its attributes: attributes first, then the pause of `pauseMs`, then the open for
// deletion. Returns whether the condition held.
bool DeleteFileIf(const HeldDirectory& directory, const std::wstring& name,
                  const std::function<bool(HANDLE file)>& condition, DWORD pauseMs = 0);

// Counts the file, tests it, restores it when infected and shows the counts and the
// path. Returns false when the walk is to stop: stopRequested was set when it began.
// The file is handled in full either way, but for a long copy, which a stop abandons. An
// entry that is a link is counted and nothing more; so is what isn't a disk file, or is
// held under an opportunistic lock being broken.
bool ScanFile(const HeldDirectory& directory, const DirectoryEntry& entry, const std::wstring& displayPath,
              const WalkContext& context);

}  // namespace engine
