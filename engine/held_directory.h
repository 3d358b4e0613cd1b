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
#include <utility>
#include <vector>

#include "engine/file_facts.h"
#include "win/handles.h"

namespace engine {

// Whether a replacing rename with POSIX semantics failed only because the system (before
// Windows 10 1809) or the file system (FAT, a network share) doesn't have them, so that the
// plain replacing rename is to be tried.
bool RenameNeedsFallback(long status);

// One entry of a listing.
struct DirectoryEntry {
  std::wstring name;
  DWORD attributes = 0;
  DWORD reparseTag = 0;  // when attributes hold FILE_ATTRIBUTE_REPARSE_POINT
  FileId id;             // on the directory's volume (volume 0): all 128 bits where fullId
  bool fullId = false;
};

// Reads the records of one buffer of a directory listing as the system lays them out:
// FILE_ID_EXTD_DIR_INFO when `extended`, FILE_ID_BOTH_DIR_INFO otherwise; "." and ".."
// left out. A record that runs past the buffer ends it. False when `onEntry` said stop.
bool ParseListing(const BYTE* bytes, size_t size, bool extended,
                  const std::function<bool(const DirectoryEntry&)>& onEntry);

class TestedFile;

class HeldDirectory {
 public:
  // Opens the directory without following a link at its last step: a path that names a
  // link, a junction or a file gives false. `path` may be in either form.
  bool Open(const std::wstring& path);
  // Opens the subdirectory `name` of `parent` relative to its handle, without following a
  // link; `extraAccess` (DELETE, say) is asked for besides what listing needs.
  bool OpenIn(const HeldDirectory& parent, const std::wstring& name, ACCESS_MASK extraAccess = 0);
  // Opens the directory at `path` one folder at a time from the volume's root, each
  // relative to the one before: false when any folder on the way is a link, a junction or
  // a mount point, so that nothing reached through it can pass for what the path names.
  bool OpenEveryStep(const std::wstring& path);
  // Holds the directory that `other` holds, through a handle and a final path of its own:
  // for the threads that inspect its files while the walker goes on below it.
  bool ShareOf(const HeldDirectory& other);

  HANDLE handle() const { return handle_.get(); }
  // True when this directory is the one that `entry` of its parent's listing named, by
  // the id the listing gave.
  bool IsListed(const DirectoryEntry& entry) const;

  // Where the directory really is, in "\\?\" form, without trailing backslash.
  const std::wstring& finalPath() const { return finalPath_; }
  // For a walk that holds a directory at every level of its way down: the final path is
  // handed down while the levels below are walked, and handed back up, so that only one
  // full path is kept however deep the walk goes. Without it, Holds and OpenIn fail.
  std::wstring TakeFinalPath() { return std::move(finalPath_); }
  void PutFinalPath(std::wstring path) { finalPath_ = std::move(path); }
  // Its attributes and its 64-bit index on its volume (the volume, the full id and the link
  // count aren't asked for: under Wine the volume's serial number costs a millisecond).
  const FileFacts& facts() const { return facts_; }

  // Lists the directory through its handle, "." and ".." left out. `onEntry` returns false
  // to stop. False only when the listing can't be read at all; an error partway through
  // ends it as if it had reached its end.
  bool List(const std::function<bool(const DirectoryEntry&)>& onEntry) const;

  // Opens an entry relative to this directory, never a directory, and never following a
  // link at the last step (FILE_OPEN_REPARSE_POINT): `throughFilter` opens the data of a
  // data-kind reparse point instead, for a file whose tag was read from its handle. It never
  // waits: an opportunistic lock that someone holds on the file is not waited for
  // (FILE_COMPLETE_IF_OPLOCKED), and what is no disk file is closed again at once. An open
  // that only reads does so with backup intent, so that with the backup privilege no
  // access list keeps a file from the test. `result` says why nothing was opened.
  win::FileHandle OpenFile(const std::wstring& name, ACCESS_MASK access, ULONG share, OpenResult* result = nullptr,
                           bool create = false, bool throughFilter = false) const;

  // Opens an entry's data for reading, as OpenFile does, under the rules for reparse
  // points: the entry is opened without following a link and its tag read from that handle;
  // a plain file is used as it is; a file whose data a filter keeps in another form (WOF,
  // cloud files, dedup, ...) is opened once more, through the filter, relative to this same
  // directory, and used only when it is the same file. A link gives kRefused; a file whose
  // data isn't on this machine kNotHere, and nothing is downloaded.
  win::FileHandle OpenFileData(const std::wstring& name, ACCESS_MASK access, ULONG share,
                               OpenResult* result = nullptr) const;

  // The entry `name` opened as OpenFileData opens it, when it is a plain disk file that
  // stands here (FileFacts::plain, Holds): the one way to a file that anything is done to.
  // Empty otherwise; `result` says why when the open itself failed.
  TestedFile Test(const std::wstring& name, ACCESS_MASK access, ULONG share, OpenResult* result = nullptr) const;
  // The same proof for an entry already opened by OpenFileData. The scan reads the marker
  // first and proves only what is infected: the final path costs Wine more than the open.
  TestedFile Prove(win::FileHandle opened, const std::wstring& name) const;
  // A new file of ours, `name`, opened with `access` and shared with nobody.
  TestedFile Create(const std::wstring& name, ACCESS_MASK access) const;

  // True when `file` is the entry `name` of this directory where it stands now: its final
  // path is this directory's final path followed by the name. Under Wine a host link is
  // resolved on open, and this is what shows it.
  bool Holds(HANDLE file, const std::wstring& name) const;

  // The bytes that this process may still write to the directory's volume. False when the
  // volume can't say.
  bool FreeBytes(uint64_t& bytes) const;

  // Marks an open file or directory of this one, `name` here, for deletion at its close,
  // and takes that back when it no longer stands here. Under Wine the deletion is carried
  // out by the path at the close: had this folder been swapped for a link meanwhile, it
  // would take the entry of that name in the folder the link leads to. The check narrows
  // that to the moment between it and the caller's close, which is to follow at once; on
  // Windows the deletion follows the file.
  bool DeleteAtClose(HANDLE file, const std::wstring& name) const;

  // Renames an open file, of this directory, to `name` in this directory. Replaces an
  // existing file only when asked to.
  bool MoveInto(HANDLE file, const std::wstring& name, bool replace) const;

 private:
  // Takes over an open handle when it is a directory and no reparse point.
  bool Adopt(HANDLE handle);

  win::FileHandle handle_;
  std::wstring finalPath_;
  FileFacts facts_;
};

// A file of a held directory, opened relative to it without following a link, proven a
// plain disk file that stands there, and identified. Whatever is done to the file goes
// through it, to this very file; the directory must outlive it.
class TestedFile {
 public:
  TestedFile() = default;
  // Whether it was opened and proven; it stays so once its handle is closed.
  explicit operator bool() const { return directory_ != nullptr; }
  HANDLE handle() const { return handle_.get(); }
  const std::wstring& name() const { return name_; }
  const FileFacts& facts() const { return facts_; }
  const HeldDirectory& directory() const { return *directory_; }

  // Another handle to it, relative to its directory, when its name still holds it.
  win::FileHandle Reopen(ACCESS_MASK access) const;
  // Whether it still stands in its directory under its name.
  bool StandsHere() const;
  // Its attributes made normal (read-only, hidden and system go), or put back as they were
  // when it was tested, through a handle of its own.
  bool Normalize() const;
  void PutBackAttributes() const;
  // Sets it to be deleted at its close, or takes that back.
  bool MarkForDeletion(bool deleteIt = true) const;
  // Its handle closed; what was learnt of it stays, for Reopen.
  void Close() { handle_.reset(); }

  // Deletes it whatever its attributes: made normal, the pause of `pauseMs` (a process just
  // ended may still hold its file), this handle closed, then marked through a handle of its
  // own, the last of ours, right after the check that it still stands here. True when it
  // is gone, or going (Windows refuses to open a file whose deletion is pending); false,
  // with its attributes put back, when it can't be deleted.
  bool Delete(DWORD pauseMs = 0);

 private:
  friend class HeldDirectory;
  const HeldDirectory* directory_ = nullptr;
  std::wstring name_;
  win::FileHandle handle_;
  FileFacts facts_;
};

// A name for a file of ours that nobody can have put there beforehand nor guess: "~mfk",
// 128 random bits and `extension` (".tmp").
std::wstring UniqueName(const wchar_t* extension);

}  // namespace engine
