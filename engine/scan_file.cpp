#include "engine/scan_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "engine/entry_rules.h"
#include "engine/marker.h"

namespace engine {

namespace {

constexpr DWORD kCopyChunk = 4096;
// What a restore leaves free on its volume at least.
constexpr uint64_t kFreeSpaceMargin = 64ull * 1024 * 1024;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Another handle to a file of the directory, for an action its test handle lacks the
// rights for; only when it is the very file that was tested.
win::FileHandle Reopen(const HeldDirectory& directory, const std::wstring& name, const FileId& id, ACCESS_MASK access) {
  win::FileHandle file = directory.OpenFile(name, access, kShareAll);
  FileFacts facts;
  if (!file || !FactsOf(file.get(), facts) || !SameFile(facts.id, id)) return win::FileHandle();
  return file;
}

// Gives the infected file its attributes back after a restoration that couldn't finish.
void PutBackAttributes(const HeldDirectory& directory, const std::wstring& name, const FileFacts& facts) {
  const win::FileHandle file = Reopen(directory, name, facts.id, FILE_WRITE_ATTRIBUTES);
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = facts.attributes ? facts.attributes : FILE_ATTRIBUTE_NORMAL;
  if (file) win::os::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
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

// The restored file keeps the infected one's access rights: its DACL as it stands, with
// the inherited entries and the protection flags in its control. The plain kernel calls
// copy it as it is; SetSecurityInfo would recompute the inheritance from the folder by
// path (and Wine's crashes when the file's folder has moved).
bool CopyAccessRights(HANDLE from, HANDLE to) {
  DWORD needed = 0;
  win::os::GetKernelObjectSecurity(from, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0 || needed > 64 * 1024) return false;
  std::unique_ptr<uint64_t[]> descriptor(new (std::nothrow) uint64_t[needed / sizeof(uint64_t) + 1]);
  if (!descriptor ||
      !win::os::GetKernelObjectSecurity(from, DACL_SECURITY_INFORMATION, descriptor.get(), needed, &needed))
    return false;
  return win::os::SetKernelObjectSecurity(to, DACL_SECURITY_INFORMATION, descriptor.get()) != FALSE;
}

}  // namespace

// No copy that can be trusted: the file is nothing but the virus, and goes. It counts as
// deleted only when it really is gone.
Restoration DeleteInfected(const HeldDirectory& directory, const std::wstring& name, win::FileHandle tested,
                           const FileFacts& facts, DWORD pauseMs) {
  {
    const win::FileHandle attributes = Reopen(directory, name, facts.id, FILE_WRITE_ATTRIBUTES);
    if (!attributes) return Restoration::kLeft;
    SetNormalAttributes(attributes.get());
  }
  if (pauseMs) Sleep(pauseMs);
  // Ours is the last handle, so that the deletion happens at its close, right after the
  // check that it still stands where it was listed.
  tested.reset();
  win::FileHandle deleter = Reopen(directory, name, facts.id, DELETE);
  if (!deleter || !directory.DeleteAtClose(deleter.get(), name)) {
    deleter.reset();
    PutBackAttributes(directory, name, facts);
    return Restoration::kLeft;
  }
  deleter.reset();
  // Under Wine a deletion by handle is carried out by path at the last close, and not at all
  // when the path no longer leads to the file: ask the directory.
  const win::FileHandle still = directory.OpenFile(name, FILE_READ_ATTRIBUTES, kShareAll);
  FileFacts now;
  if (still && FactsOf(still.get(), now) && SameFile(now.id, facts.id)) return Restoration::kLeft;
  return Restoration::kDeleted;
}

namespace {

// The owner of an open file (which the handle may read the security of), as the bytes of
// its SID; empty when it can't be read.
std::vector<uint8_t> OwnerOf(HANDLE file) {
  DWORD needed = 0;
  win::os::GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0 || needed > 64 * 1024) return {};
  std::unique_ptr<uint64_t[]> descriptor(new (std::nothrow) uint64_t[needed / sizeof(uint64_t) + 1]);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!descriptor ||
      !win::os::GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION, descriptor.get(), needed, &needed) ||
      !GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted) || !owner || !IsValidSid(owner))
    return {};
  const auto* bytes = static_cast<const uint8_t*>(owner);
  return std::vector<uint8_t>(bytes, bytes + GetLengthSid(owner));
}

// A copy is trusted only when it is what it claims: a plain file with no other name (a
// hard link would copy somebody else's file into this one), really in this directory,
// and not the virus itself.
bool TrustedCopy(const HeldDirectory& directory, const std::wstring& copyName, HANDLE copy) {
  FileFacts facts;
  return FactsOf(copy, facts) && facts.plain() && facts.links == 1 && directory.Holds(copy, copyName) &&
         !IsVirusFile(copy);
}

}  // namespace

std::wstring BackupCopyName(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return {};
  return name.substr(0, dot) + L".sql";
}

Restoration RestoreVirusFile(const HeldDirectory& directory, const std::wstring& name, win::FileHandle tested,
                             const FileFacts& facts, const WalkContext& context) {
  const std::wstring copyName = BackupCopyName(name);
  if (copyName.empty()) return Restoration::kLeft;

  // The copy, from the same directory; nobody may write it while it is read.
  OpenResult opened = OpenResult::kRefused;
  win::FileHandle copy =
      directory.OpenFileData(copyName, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, &opened);
  // One in use now, or whose data isn't on this machine, may be a good copy: both stay for
  // a later run.
  if (opened == OpenResult::kInUse || opened == OpenResult::kLockBreaking || opened == OpenResult::kNotHere)
    return Restoration::kLeft;
  // The virus as its own copy: "x.sql" itself infected, or a copy that is another name of
  // the infected file. Nothing is restored from it, and every name of it that carries the
  // marker goes (the marker was read from this very file).
  FileFacts copyFacts;
  if (copy && FactsOf(copy.get(), copyFacts) && SameFile(copyFacts.id, facts.id)) {
    copy.reset();  // its sharing would keep the deletions out
    if (!directory.Holds(tested.get(), name)) return Restoration::kLeft;
    const Restoration deleted = DeleteInfected(directory, name, std::move(tested), facts);
    // Then its other name, with no handle of ours left on the file (under Wine a name set to
    // be deleted goes only with the file's last handle).
    if (copyName != name) DeleteInfected(directory, copyName, win::FileHandle(), facts);
    return deleted;
  }
  // No copy, or one that will never be trusted (a directory, a link, a pipe, another name
  // of somebody else's file, the virus itself): the infected file is the virus all the
  // same, tested through its own handle, and goes. Whatever stands at the copy's name stays.
  if (!copy || !TrustedCopy(directory, copyName, copy.get())) {
    copy.reset();
    // Unless the folder itself has moved since the listing (swapped for a link, say): then
    // neither file is where it was, the copy may be a good one, and both stay for a later run.
    if (!directory.Holds(tested.get(), name)) return Restoration::kLeft;
    return DeleteInfected(directory, name, std::move(tested), facts);
  }

  // Nor are the bytes of somebody who may not change the infected file written into it, nor
  // the system's bytes into a file that a user owns: a copy that will never be trusted, as
  // above. The infected file goes and the copy stays as it is.
  const std::vector<uint8_t> copyOwner = OwnerOf(copy.get()), fileOwner = OwnerOf(tested.get());
  if (!CopyOwnerTrusted(copyOwner.data(), copyOwner.size(), fileOwner.data(), fileOwner.size())) {
    copy.reset();
    if (!directory.Holds(tested.get(), name)) return Restoration::kLeft;
    return DeleteInfected(directory, name, std::move(tested), facts);
  }

  LARGE_INTEGER size{};
  if (!win::os::GetFileSizeEx(copy.get(), &size) || !RoomFor(directory, static_cast<uint64_t>(size.QuadPart)))
    return Restoration::kLeft;

  // The copy's bytes go into a new file beside the infected one, which takes its place only
  // once they are all on disk. Until then it is to be deleted when its handle closes, so
  // that nothing is left of it whatever ends this restore, the end of this process included.
  // It is marked the moment after it is made: a FILE_DELETE_ON_CLOSE given at its creation
  // could not be taken back before the rename (Windows can only since 10 version 1709, with
  // FileDispositionInformationEx, which Wine doesn't implement).
  // The listing of this directory may still be read: it is told of the new file's name
  // before there is one, and of the name it takes before it takes it.
  const std::wstring freshName = UniqueName(L".tmp");
  if (context.madeHere && !context.madeHere->Add(freshName)) return Restoration::kLeft;
  win::FileHandle fresh =
      directory.OpenFile(freshName, GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | FILE_WRITE_ATTRIBUTES, 0,
                         nullptr, /*create=*/true);
  if (!fresh) return Restoration::kLeft;
  const auto discard = [&] {
    MarkForDeletion(fresh.get());
    fresh.reset();
  };
  FILE_BASIC_INFO basic{};
  // What the infected file had, but never read-only: the restored file is the user's to change.
  basic.FileAttributes = facts.attributes & ~FILE_ATTRIBUTE_READONLY;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!MarkForDeletion(fresh.get()) || !CopyAccessRights(tested.get(), fresh.get()) ||
      !CopyContents(copy.get(), fresh.get(), static_cast<uint64_t>(size.QuadPart), context) ||
      !win::os::SetFileInformationByHandle(fresh.get(), FileBasicInfo, &basic, sizeof basic)) {
    discard();
    return Restoration::kLeft;
  }

  // A file can't be replaced while it is read-only or open.
  {
    const win::FileHandle infected = Reopen(directory, name, facts.id, FILE_WRITE_ATTRIBUTES);
    if (!infected || !SetNormalAttributes(infected.get())) {
      discard();
      return Restoration::kLeft;
    }
  }
  tested.reset();
  if (context.madeHere && !context.madeHere->Add(name)) {
    discard();
    PutBackAttributes(directory, name, facts);
    return Restoration::kLeft;
  }
  // Kept from here on: only a file that is not to be deleted can take the other's name.
  if (!MarkForDeletion(fresh.get(), false) || !directory.MoveInto(fresh.get(), name, /*replace=*/true)) {
    discard();
    PutBackAttributes(directory, name, facts);
    return Restoration::kLeft;
  }
  fresh.reset();
  SetNormalAttributes(copy.get());
  directory.DeleteAtClose(copy.get(), copyName);
  return Restoration::kRestored;
}

bool DeleteFileIf(const HeldDirectory& directory, const std::wstring& name,
                  const std::function<bool(HANDLE file)>& condition, DWORD pauseMs) {
  // Its data, through a file system's filter where one keeps it: a system-compressed driver
  // read without would have no version resource.
  win::FileHandle file = directory.OpenFileData(name, GENERIC_READ, kShareAll);
  if (!file || !condition(file.get())) return false;
  FileFacts facts;
  if (FactsOf(file.get(), facts) && facts.plain() && directory.Holds(file.get(), name))
    DeleteInfected(directory, name, std::move(file), facts, pauseMs);
  return true;
}

bool ScanFile(const HeldDirectory& directory, const DirectoryEntry& entry, const std::wstring& displayPath,
              const WalkContext& context) {
  ScanState& state = context.state;
  const bool goOn = state.stopRequested.load() == 0;

  // A link is counted and nothing more: what it leads to is not this file. So is a file
  // whose data isn't on this machine, and what can't be opened without waiting or isn't a
  // disk file (OpenFileData says which).
  if (ClassifyEntry(entry.attributes, entry.reparseTag) == EntryKind::kTest) {
    win::FileHandle file = directory.OpenFileData(entry.name, GENERIC_READ, kShareAll);
    FileFacts facts;
    // Infected, and the very file listed: a plain file where the walk found it (under Wine
    // a host link shows as a plain file in the listing, and resolves on open).
    if (file && IsVirusFile(file.get()) && FactsOf(file.get(), facts) && facts.plain() &&
        directory.Holds(file.get(), entry.name)) {
      state.virusesFound.fetch_add(1);
      if (context.hooks && context.hooks->afterVerdict) context.hooks->afterVerdict(entry.name);
      std::unique_lock<std::mutex> oneAtATime;
      if (context.oneRestoreAtATime) oneAtATime = std::unique_lock<std::mutex>(*context.oneRestoreAtATime);
      if (RestoreVirusFile(directory, entry.name, std::move(file), facts, context) != Restoration::kLeft)
        state.filesRestored.fetch_add(1);
    }
  }
  ProgressSnapshot snapshot;
  snapshot.path = displayPath;
  // Counted once it is handled, and shown with the counts as they stand then. A virus counts
  // as found at its verdict (a stop's summary tells of the one in hand), so that with several
  // threads the found may run ahead of the files counted: no line shows more than those.
  std::unique_lock<SpinLock> inOrder;
  if (context.oneShowAtATime) inOrder = std::unique_lock<SpinLock>(*context.oneShowAtATime);
  snapshot.filesScanned = state.filesScanned.fetch_add(1) + 1;
  snapshot.virusesFound = std::min(state.virusesFound.load(), snapshot.filesScanned);
  snapshot.filesRestored = std::min(state.filesRestored.load(), snapshot.virusesFound);
  context.progress.Show(snapshot);
  return goOn;
}

}  // namespace engine
