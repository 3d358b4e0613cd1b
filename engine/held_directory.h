// A directory held open while its entries are inspected and acted on.
//
// The program runs as administrator over folders any user can write to. Between two
// lookups of the same path a user can swap a folder for a link to somewhere else; so a
// file is looked up once, relative to the directory that was listed, and everything done
// to it afterwards goes through handles to that file, checked to be the one tested.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "win/handles.h"

namespace engine {

// What identifies a file whatever its name: its volume and its index on that volume.
struct FileId {
  DWORD volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
  bool operator<(const FileId& other) const {
    return volume != other.volume ? volume < other.volume : index < other.index;
  }
};

struct FileFacts {
  FileId id;
  DWORD attributes = 0;
  DWORD links = 0;
  // A plain file: neither a directory nor a reparse point (link, junction, mount point).
  bool plain() const { return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0; }
};
bool FactsOf(HANDLE file, FileFacts& facts);

// The "\\?\" form of a path, so that no part of the system cuts it at MAX_PATH or trims
// its names: "C:\a" gives "\\?\C:\a", "\\server\share" gives "\\?\UNC\server\share".
// A relative path is made full first. Already long paths come back as they are.
std::wstring LongPath(const std::wstring& path);
// The ordinary form of a "\\?\" path, for showing it.
std::wstring DisplayPath(const std::wstring& path);

// One entry of a listing.
struct DirectoryEntry {
  std::wstring name;
  DWORD attributes = 0;
  uint64_t fileIndex = 0;  // on the directory's volume
};

class HeldDirectory {
 public:
  // Opens the directory without following a link at its last step: a path that names a
  // link, a junction or a file gives false. `path` may be in either form.
  bool Open(const std::wstring& path);

  HANDLE handle() const { return handle_.get(); }
  // Where the directory really is, in "\\?\" form, without trailing backslash.
  const std::wstring& finalPath() const { return finalPath_; }
  // Its attributes and its index on its volume (the volume and link count aren't asked for).
  const FileFacts& facts() const { return facts_; }

  // Lists the directory through its handle, "." and ".." left out. `onEntry` returns false
  // to stop. False when the listing can't be read at all.
  bool List(const std::function<bool(const DirectoryEntry&)>& onEntry) const;

  // Opens an entry relative to this directory, never following a link at the last step
  // (FILE_OPEN_REPARSE_POINT) and never a directory. `status` receives the system's
  // NTSTATUS, so that "there is no such file" can be told from other failures.
  win::FileHandle OpenFile(const std::wstring& name, ACCESS_MASK access, ULONG share, long* status = nullptr,
                           bool create = false) const;

  // True when `file` is the entry `name` of this directory where it stands now: its final
  // path is this directory's final path followed by the name. Under Wine a host link is
  // resolved on open, and this is what shows it.
  bool Holds(HANDLE file, const std::wstring& name) const;

  // Renames an open file, of this directory, to `name` in this directory. Replaces an
  // existing file only when asked to.
  bool MoveInto(HANDLE file, const std::wstring& name, bool replace) const;

 private:
  win::FileHandle handle_;
  std::wstring finalPath_;
  FileFacts facts_;
};

// The final path of an open file or directory, "\\?\" form; empty on failure.
std::wstring FinalPath(HANDLE file);

// Clears the attributes of an open file to "normal" (read-only, hidden and system go).
bool SetNormalAttributes(HANDLE file);
// Sets the file to be deleted when its last handle closes.
bool MarkForDeletion(HANDLE file);

// STATUS_OBJECT_NAME_NOT_FOUND: the name is not in the directory.
inline constexpr long kStatusNameNotFound = static_cast<long>(0xC0000034L);

}  // namespace engine
