#include "engine/scan_file.h"

#include <memory>
#include <new>
#include <vector>

#include "engine/entry_rules.h"
#include "engine/marker.h"

namespace engine {

namespace {

constexpr DWORD kCopyChunk = 4096;
// What a restore leaves free on its volume at least.
constexpr uint64_t kFreeSpaceMargin = 64ull * 1024 * 1024;

// One part of a handle's security descriptor (which the handle may read), in a buffer of
// its own; null when it can't be read.
std::unique_ptr<uint64_t[]> SecurityOf(HANDLE handle, SECURITY_INFORMATION part) {
  DWORD needed = 0;
  win::os::GetKernelObjectSecurity(handle, part, nullptr, 0, &needed);
  if (needed == 0 || needed > 64 * 1024) return nullptr;
  std::unique_ptr<uint64_t[]> descriptor(new (std::nothrow) uint64_t[needed / sizeof(uint64_t) + 1]);
  if (!descriptor || !win::os::GetKernelObjectSecurity(handle, part, descriptor.get(), needed, &needed)) return nullptr;
  return descriptor;
}

// The owner of an open file, as the bytes of its SID; empty when it can't be read.
std::vector<uint8_t> OwnerOf(HANDLE file) {
  const std::unique_ptr<uint64_t[]> descriptor = SecurityOf(file, OWNER_SECURITY_INFORMATION);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!descriptor || !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) || !owner || !IsValidSid(owner))
    return {};
  const auto* bytes = static_cast<const uint8_t*>(owner);
  return std::vector<uint8_t>(bytes, bytes + GetLengthSid(owner));
}

// The restored file keeps the infected one's access rights: its DACL as it stands, with
// the inherited entries and the protection flags in its control. The plain kernel calls
// copy it as it is; SetSecurityInfo would recompute the inheritance from the folder by
// path (and Wine's crashes when the file's folder has moved).
bool CopyAccessRights(HANDLE from, HANDLE to) {
  const std::unique_ptr<uint64_t[]> descriptor = SecurityOf(from, DACL_SECURITY_INFORMATION);
  return descriptor && win::os::SetKernelObjectSecurity(to, DACL_SECURITY_INFORMATION, descriptor.get()) != FALSE;
}

// Copies `size` bytes of `from`, from its first byte, into the new file `to` and makes
// them durable. False when any read or write fails or comes up short, and when a stop is
// requested between two chunks: a stop never waits for the rest of a long copy.
bool CopyContents(HANDLE from, HANDLE to, uint64_t size, const WalkContext& context) {
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kCopyChunk]);
  if (!buffer) return false;
  LARGE_INTEGER start{};
  if (!win::os::SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) return false;
  for (uint64_t done = 0; done < size;) {
    if (done > 0 && context.state.stopRequested.load() != 0) return false;
    const DWORD chunk = size - done < kCopyChunk ? static_cast<DWORD>(size - done) : kCopyChunk;
    DWORD read = 0;
    if (!win::os::ReadFile(from, buffer.get(), chunk, &read, nullptr) || read != chunk) return false;
    if (context.hooks && context.hooks->writeSucceeds && !context.hooks->writeSucceeds(done)) return false;
    DWORD written = 0;
    if (!win::os::WriteFile(to, buffer.get(), chunk, &written, nullptr) || written != chunk) return false;
    done += chunk;
  }
  // The copy is deleted once this file has taken its place: its bytes must be on disk first.
  return win::os::FlushFileBuffers(to) != FALSE;
}

// Whether a restored file of `size` bytes fits on the directory's volume with room to
// spare. A copy that can't fit would only fill the volume before it failed; the margin
// keeps the system and the user's programs from running out of space because of us.
bool RoomFor(const HeldDirectory& directory, uint64_t size) {
  uint64_t free = 0;
  if (!directory.FreeBytes(free)) return true;  // a volume that can't say: the writes will tell
  return free >= kFreeSpaceMargin && size <= free - kFreeSpaceMargin;
}

enum class Trust {
  kTrusted,   // the copy holds the file's former bytes
  kNever,     // it will never be trusted: the infected file goes, the copy stays as it is
  kSelf,      // the virus is its own copy: every name of it goes
  kLaterRun,  // it may be a good copy that can't be used now: both files stay
};

// The first step: whether the copy, opened from the same directory (nobody may write it
// while it is read), holds the infected file's former bytes. Only a plain disk file with no
// other name (a hard link would copy somebody else's file into this one), really in this
// directory, not the virus, and owned by someone who may change the infected file.
Trust TrustCopy(const TestedFile& infected, const std::wstring& copyName, TestedFile& copy) {
  OpenResult opened = OpenResult::kRefused;
  copy = infected.directory().Test(copyName, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, &opened);
  // One in use now, or whose data isn't on this machine, may be a good copy.
  if (opened == OpenResult::kInUse || opened == OpenResult::kLockBreaking || opened == OpenResult::kNotHere)
    return Trust::kLaterRun;
  if (copy && SameFile(copy.facts().id, infected.facts().id)) return Trust::kSelf;
  if (!copy || copy.facts().links != 1 || IsVirusFile(copy.handle())) return Trust::kNever;
  // Nor are the bytes of somebody who may not change the infected file written into it, nor
  // the system's bytes into a file that a user owns.
  const std::vector<uint8_t> copyOwner = OwnerOf(copy.handle()), fileOwner = OwnerOf(infected.handle());
  if (!CopyOwnerTrusted(copyOwner.data(), copyOwner.size(), fileOwner.data(), fileOwner.size())) return Trust::kNever;
  return Trust::kTrusted;
}

// The second step: the copy's bytes in a new file beside the infected one, with its access
// rights and attributes (never read-only: the restored file is the user's to change), all
// on disk. Until it takes the infected file's place it is to be deleted when its handle
// closes, so that nothing is left of it whatever ends this restore, the end of this process
// included. It is marked the moment after it is made: a FILE_DELETE_ON_CLOSE given at its
// creation could not be taken back before the rename (Windows can only since 10 version
// 1709, with FileDispositionInformationEx, which Wine doesn't implement). The listing of
// this directory may still be read: it is told of the new file's name before there is one.
TestedFile WriteNewFile(const TestedFile& infected, const TestedFile& copy, const WalkContext& context, NameLog* made) {
  LARGE_INTEGER size{};
  if (!win::os::GetFileSizeEx(copy.handle(), &size) ||
      !RoomFor(infected.directory(), static_cast<uint64_t>(size.QuadPart)))
    return TestedFile();
  const std::wstring name = UniqueName(L".tmp");
  if (made && !made->Add(name)) return TestedFile();
  TestedFile fresh =
      infected.directory().Create(name, GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | FILE_WRITE_ATTRIBUTES);
  if (!fresh || !fresh.MarkForDeletion()) return TestedFile();
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = infected.facts().attributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!CopyAccessRights(infected.handle(), fresh.handle()) ||
      !CopyContents(copy.handle(), fresh.handle(), static_cast<uint64_t>(size.QuadPart), context) ||
      !win::os::SetFileInformationByHandle(fresh.handle(), FileBasicInfo, &basic, sizeof basic))
    return TestedFile();  // closed, and so deleted
  return fresh;
}

// The third step: the new file takes the infected one's name, replacing it (which needs
// the infected file not read-only, and no handle of ours on it), and only then is it kept.
// The listing is told of the name before it is taken.
bool SwapIn(TestedFile& fresh, TestedFile& infected, NameLog* made) {
  if (!infected.Normalize()) return false;
  infected.Close();
  if ((made && !made->Add(infected.name())) || !fresh.MarkForDeletion(false) ||
      !infected.directory().MoveInto(fresh.handle(), infected.name(), /*replace=*/true)) {
    fresh.MarkForDeletion();
    infected.PutBackAttributes();
    return false;
  }
  return true;
}

}  // namespace

std::wstring BackupCopyName(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return {};
  return name.substr(0, dot) + L".sql";
}

TestedFile TestFile(const HeldDirectory& directory, const DirectoryEntry& entry) {
  // A link is counted and nothing more: what it leads to is not this file. So is a file
  // whose data isn't on this machine, and what can't be opened without waiting or isn't a
  // disk file. Under Wine a host link shows as a plain file in the listing and resolves on
  // open: Prove shows whether the file stands where the walk found it. Only an infected
  // file needs that proof, and it is the dearest step, so the marker is read first.
  if (ClassifyEntry(entry.attributes, entry.reparseTag) != EntryKind::kTest) return TestedFile();
  win::FileHandle file =
      directory.OpenFileData(entry.name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!file || !IsVirusFile(file.get())) return TestedFile();
  return directory.Prove(std::move(file), entry.name);
}

Restoration RestoreVirusFile(TestedFile infected, const WalkContext& context, NameLog* made) {
  const std::wstring copyName = BackupCopyName(infected.name());
  if (copyName.empty()) return Restoration::kLeft;
  TestedFile copy;
  const Trust trust = TrustCopy(infected, copyName, copy);
  if (trust == Trust::kLaterRun) return Restoration::kLeft;
  if (trust != Trust::kTrusted) {
    copy.Close();  // its sharing would keep the deletions out
    // Unless the folder itself has moved since the listing (swapped for a link, say): then
    // neither file is where it was, the copy may be a good one, and both stay for a later run.
    if (!infected.StandsHere()) return Restoration::kLeft;
    // The virus as its own copy: "x.sql" itself infected, or another name of the infected
    // file. Nothing is restored from it, and every name of it goes, the marker having been
    // read from this very file; the other name once no handle of ours is left on the file
    // (under Wine a name set to be deleted goes only with the file's last handle).
    TestedFile otherName = trust == Trust::kSelf && copyName != infected.name() ? std::move(copy) : TestedFile();
    const bool deleted = infected.Delete();
    if (otherName) otherName.Delete();
    return deleted ? Restoration::kDeleted : Restoration::kLeft;
  }
  TestedFile fresh = WriteNewFile(infected, copy, context, made);
  if (!fresh) return Restoration::kLeft;
  if (!SwapIn(fresh, infected, made)) return Restoration::kLeft;
  fresh.Close();
  SetNormalAttributes(copy.handle());
  infected.directory().DeleteAtClose(copy.handle(), copyName);
  return Restoration::kRestored;
}

bool DeleteFileIf(const HeldDirectory& directory, const std::wstring& name,
                  const std::function<bool(HANDLE file)>& condition, DWORD pauseMs) {
  // Its data, through a file system's filter where one keeps it: a system-compressed driver
  // read without would have no version resource.
  TestedFile file = directory.Test(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!file || !condition(file.handle())) return false;
  file.Delete(pauseMs);
  return true;
}

}  // namespace engine
