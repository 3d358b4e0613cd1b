// What a file is, whatever name it stands under: its id, its attributes and reparse tag,
// its number of names; what an open of it means; and the two changes every deletion makes.
#pragma once

#include <windows.h>

#include <cstdint>

namespace engine {

// What identifies a file whatever its name: its volume and its file id on that volume, all
// 128 bits of it (ReFS ids are that wide, and their low half need not be unique). Where a
// listing or a quick query gives only the 64-bit index, it is the low half and the volume
// is 0: such ids are compared only with ids of the same kind.
struct FileId {
  uint64_t volume = 0;
  uint64_t low = 0;
  uint64_t high = 0;
  // An id of 0 is none: a file system without full ids answers so, and one that can't
  // establish a file's id gives all ones. No two files may pass for one by either.
  bool known() const { return (low != 0 || high != 0) && (low != ~0ull || high != ~0ull); }
  bool operator==(const FileId& other) const {
    return volume == other.volume && low == other.low && high == other.high;
  }
  bool operator<(const FileId& other) const {
    if (volume != other.volume) return volume < other.volume;
    return high != other.high ? high < other.high : low < other.low;
  }
};

// Whether two ids name the same file: never when either is none.
inline bool SameFile(const FileId& a, const FileId& b) { return a.known() && a == b; }

struct FileFacts {
  FileId id;
  DWORD attributes = 0;
  DWORD reparseTag = 0;  // when attributes hold FILE_ATTRIBUTE_REPARSE_POINT
  DWORD links = 0;
  // An ordinary file: no directory, and no reparse point but for data that a file system
  // filter keeps in another form (a OneDrive file, a compressed one): never a link.
  bool plain() const;
};
// The file's full id, its attributes and reparse tag, and its number of names.
bool FactsOf(HANDLE file, FileFacts& facts);

// How an open relative to a held directory went.
enum class OpenResult {
  kOpened,
  kNoSuchFile,    // the name is not in the directory
  kInUse,         // a handle of someone else's shares it with nobody who asks for this access
  kLockBreaking,  // someone's opportunistic lock on it is being broken: left for a later run
  kNotDiskFile,   // a pipe, a FIFO or a device: never read, it could keep a read waiting forever
  kNotHere,       // its data isn't on this machine (a OneDrive file online only): never read
  kRefused,       // anything else: access denied, a directory, a deletion pending, ...
};

// What an open's NTSTATUS and the opened handle's GetFileType mean for us. Apart so that
// the cases Wine can't make (an opportunistic lock being broken) are tested all the same.
OpenResult ClassifyOpen(long status, DWORD fileType);

// The full id that FileIdInfo gives (Windows 8 and later), none where the file system has
// none or the system doesn't know the class.
bool FullIdOf(HANDLE file, FileId& id);
// A full id from its 16 bytes as the system lays them out.
FileId FileIdFromBytes(const uint8_t* bytes);

// Clears the attributes of an open file to "normal" (read-only, hidden and system go).
bool SetNormalAttributes(HANDLE file);
// Sets the file to be deleted when its last handle closes, or takes that back.
bool MarkForDeletion(HANDLE file, bool deleteIt = true);

}  // namespace engine
