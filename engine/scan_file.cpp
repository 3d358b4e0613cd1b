#include "engine/scan_file.h"

#include <cstdio>
#include <memory>
#include <new>

#include "engine/marker.h"

namespace engine {

namespace {

constexpr DWORD kCopyChunk = 4096;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring PathIn(const HeldDirectory& directory, const std::wstring& name) {
  return directory.finalPath() + L"\\" + name;
}

// Another handle to a file of the directory, for an action its test handle lacks the
// rights for; only when it is the very file that was tested.
win::FileHandle Reopen(const HeldDirectory& directory, const std::wstring& name, const FileId& id, ACCESS_MASK access) {
  win::FileHandle file = directory.OpenFile(name, access, kShareAll);
  FileFacts facts;
  if (!file || !FactsOf(file.get(), facts) || !(facts.id == id)) return win::FileHandle();
  return file;
}

// Gives the infected file its attributes back after a restoration that couldn't finish.
void PutBackAttributes(const HeldDirectory& directory, const std::wstring& name, const FileFacts& facts) {
  const win::FileHandle file = Reopen(directory, name, facts.id, FILE_WRITE_ATTRIBUTES);
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = facts.attributes ? facts.attributes : FILE_ATTRIBUTE_NORMAL;
  if (file) SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
}

// Copies `size` bytes of `from`, from its first byte, into the new file `to` and makes
// them durable. False when any read or write fails or comes up short.
bool CopyContents(HANDLE from, HANDLE to, uint64_t size, const ScanHooks* hooks) {
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kCopyChunk]);
  if (!buffer) return false;
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN)) return false;
  for (uint64_t done = 0; done < size;) {
    const DWORD chunk = size - done < kCopyChunk ? static_cast<DWORD>(size - done) : kCopyChunk;
    DWORD read = 0;
    if (!ReadFile(from, buffer.get(), chunk, &read, nullptr) || read != chunk) return false;
    if (hooks && hooks->writeSucceeds && !hooks->writeSucceeds(done)) return false;
    DWORD written = 0;
    if (!WriteFile(to, buffer.get(), chunk, &written, nullptr) || written != chunk) return false;
    done += chunk;
  }
  // The copy is deleted once this file has taken its place: its bytes must be on disk first.
  return FlushFileBuffers(to) != FALSE;
}

// The restored file keeps the infected one's access rights: its DACL as it stands, with
// the inherited entries and the protection flags in its control. The plain kernel calls
// copy it as it is; SetSecurityInfo would recompute the inheritance from the folder by
// path (and Wine's crashes when the file's folder has moved).
bool CopyAccessRights(HANDLE from, HANDLE to) {
  DWORD needed = 0;
  GetKernelObjectSecurity(from, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0 || needed > 64 * 1024) return false;
  std::unique_ptr<uint64_t[]> descriptor(new (std::nothrow) uint64_t[needed / sizeof(uint64_t) + 1]);
  if (!descriptor || !GetKernelObjectSecurity(from, DACL_SECURITY_INFORMATION, descriptor.get(), needed, &needed))
    return false;
  return SetKernelObjectSecurity(to, DACL_SECURITY_INFORMATION, descriptor.get()) != FALSE;
}

// A name for the new file that nobody can have put there beforehand.
std::wstring TemporaryName() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  wchar_t name[64];
  std::swprintf(name, 64, L"~mfk%08lx%016llx.tmp", GetCurrentThreadId(),
                static_cast<unsigned long long>(counter.QuadPart) ^ (GetTickCount64() << 20));
  return name;
}

// No copy: the file is nothing but the virus, and goes. It counts as deleted only when it
// really is gone.
Restoration DeleteInfected(const HeldDirectory& directory, const std::wstring& name, win::FileHandle tested,
                           const FileFacts& facts, DWORD pauseMs = 0) {
  win::FileHandle deleter = Reopen(directory, name, facts.id, DELETE | FILE_WRITE_ATTRIBUTES);
  if (!deleter) return Restoration::kLeft;
  // Read-only, hidden and system files go too.
  SetNormalAttributes(deleter.get());
  if (pauseMs) Sleep(pauseMs);
  if (!MarkForDeletion(deleter.get())) {
    deleter.reset();
    PutBackAttributes(directory, name, facts);
    return Restoration::kLeft;
  }
  deleter.reset();
  tested.reset();
  // Under Wine a deletion by handle is carried out by path at the last close, and not at all
  // when the path no longer leads to the file: ask the directory.
  const win::FileHandle still = directory.OpenFile(name, FILE_READ_ATTRIBUTES, kShareAll);
  FileFacts now;
  if (still && FactsOf(still.get(), now) && now.id == facts.id) return Restoration::kLeft;
  return Restoration::kDeleted;
}

}  // namespace

std::wstring BackupCopyName(const std::wstring& name) {
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return {};
  return name.substr(0, dot) + L".sql";
}

Restoration RestoreVirusFile(const HeldDirectory& directory, const std::wstring& name, win::FileHandle tested,
                             const FileFacts& facts, const ScanHooks* hooks) {
  const std::wstring copyName = BackupCopyName(name);
  if (copyName.empty()) return Restoration::kLeft;

  // The copy, from the same directory; nobody may write it while it is read.
  long status = 0;
  win::FileHandle copy =
      directory.OpenFile(copyName, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, &status);
  if (!copy) {
    if (status == kStatusNameNotFound) return DeleteInfected(directory, name, std::move(tested), facts);
    // There is one, but it can't be used now (a directory, in use, access denied): both stay
    // for a later run.
    return Restoration::kLeft;
  }
  // Trusted only when it is what it claims: a plain file with no other name (a hard link
  // would copy somebody else's file into this one), really in this directory, and not the
  // virus itself.
  FileFacts copyFacts;
  if (!FactsOf(copy.get(), copyFacts) || !copyFacts.plain() || copyFacts.links != 1 ||
      !directory.Holds(copy.get(), copyName) || IsVirusFile(copy.get()))
    return Restoration::kLeft;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(copy.get(), &size)) return Restoration::kLeft;

  // The copy's bytes go into a new file beside the infected one, which takes its place only
  // once they are all on disk.
  win::FileHandle fresh =
      directory.OpenFile(TemporaryName(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC | FILE_WRITE_ATTRIBUTES, 0,
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
  if (!CopyAccessRights(tested.get(), fresh.get()) ||
      !CopyContents(copy.get(), fresh.get(), static_cast<uint64_t>(size.QuadPart), hooks) ||
      !SetFileInformationByHandle(fresh.get(), FileBasicInfo, &basic, sizeof basic)) {
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
  if (!directory.MoveInto(fresh.get(), name, /*replace=*/true)) {
    discard();
    PutBackAttributes(directory, name, facts);
    return Restoration::kLeft;
  }
  fresh.reset();
  SetNormalAttributes(copy.get());
  MarkForDeletion(copy.get());
  return Restoration::kRestored;
}

bool RestoreVirusFile(const std::wstring& path, const ScanHooks* hooks) {
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return false;
  const std::wstring name = path.substr(slash + 1);
  HeldDirectory directory;
  if (!directory.Open(path.substr(0, slash + 1))) return false;
  win::FileHandle file = directory.OpenFile(name, GENERIC_READ, kShareAll);
  FileFacts facts;
  if (!file || !FactsOf(file.get(), facts) || !facts.plain() || !directory.Holds(file.get(), name)) return false;
  return RestoreVirusFile(directory, name, std::move(file), facts, hooks) != Restoration::kLeft;
}

bool DeleteFileIf(const HeldDirectory& directory, const std::wstring& name,
                  const std::function<bool(HANDLE file, const std::wstring& path)>& condition, DWORD pauseMs) {
  win::FileHandle file = directory.OpenFile(name, GENERIC_READ, kShareAll);
  if (!file || !condition(file.get(), PathIn(directory, name))) return false;
  FileFacts facts;
  if (FactsOf(file.get(), facts) && facts.plain() && directory.Holds(file.get(), name))
    DeleteInfected(directory, name, std::move(file), facts, pauseMs);
  return true;
}

bool ScanFile(const HeldDirectory& directory, const DirectoryEntry& entry, const std::wstring& displayPath,
              ScanState& state, ProgressSink& progress, ProgressThrottle* throttle, const ScanHooks* hooks) {
  const bool goOn = state.stopRequested.load() == 0;

  ProgressSnapshot snapshot;
  snapshot.filesScanned = state.filesScanned.fetch_add(1) + 1;
  // A link is counted and nothing more: what it leads to is not this file.
  if ((entry.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0) {
    win::FileHandle file = directory.OpenFile(entry.name, GENERIC_READ, kShareAll);
    FileFacts facts;
    // Infected, and the very file listed: a plain file where the walk found it (under Wine
    // a host link shows as a plain file in the listing, and resolves on open).
    if (file && IsVirusFile(file.get()) && FactsOf(file.get(), facts) &&
        facts.plain() && directory.Holds(file.get(), entry.name)) {
      state.virusesFound.fetch_add(1);
      if (hooks && hooks->afterVerdict) hooks->afterVerdict(entry.name);
      if (RestoreVirusFile(directory, entry.name, std::move(file), facts, hooks) != Restoration::kLeft)
        state.filesRestored.fetch_add(1);
    }
  }
  snapshot.virusesFound = state.virusesFound.load();
  snapshot.filesRestored = state.filesRestored.load();
  snapshot.path = displayPath;

  if (!throttle || throttle->Record(snapshot, !goOn)) progress.Show(snapshot);
  return goOn;
}

bool ScanFile(const std::wstring& path, ScanState& state, ProgressSink& progress, ProgressThrottle* throttle,
              const ScanHooks* hooks) {
  const size_t slash = path.find_last_of(L'\\');
  HeldDirectory directory;
  DirectoryEntry entry;
  entry.name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  entry.attributes = GetFileAttributesW(LongPath(path).c_str());
  if (slash == std::wstring::npos || entry.attributes == INVALID_FILE_ATTRIBUTES ||
      !directory.Open(path.substr(0, slash + 1)))
    entry.attributes = FILE_ATTRIBUTE_REPARSE_POINT;  // nothing to open: counted only
  return ScanFile(directory, entry, path, state, progress, throttle, hooks);
}

}  // namespace engine
