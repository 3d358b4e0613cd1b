#include "engine/scan_file.h"

#include <memory>
#include <new>

#include "engine/marker.h"
#include "win/handles.h"

namespace engine {

namespace {

constexpr DWORD kCopyChunk = 4096;

void DeleteWithNormalAttributes(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(path.c_str());
}

// Copies `size` bytes of `from` over `to` from its first byte and cuts `to` at the end
// of what was written. False when any read or write fails or comes up short, or when
// the result can't be made durable: the caller then keeps the backup copy.
bool CopyContents(HANDLE from, HANDLE to, ULONGLONG size) {
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kCopyChunk]);
  if (!buffer) return false;
  ULONGLONG remaining = size;
  while (remaining > 0) {
    const DWORD chunk = remaining < kCopyChunk ? static_cast<DWORD>(remaining) : kCopyChunk;
    DWORD read = 0;
    if (!ReadFile(from, buffer.get(), chunk, &read, nullptr) || read != chunk) return false;
    DWORD written = 0;
    if (!WriteFile(to, buffer.get(), chunk, &written, nullptr) || written != chunk) return false;
    remaining -= chunk;
  }
  // A copy shorter than the infected file would otherwise leave the virus's tail behind.
  if (!SetEndOfFile(to)) return false;
  // The backup copy is deleted next; its bytes must be on disk in the file first.
  return FlushFileBuffers(to) != FALSE;
}

}  // namespace

std::wstring BackupCopyPath(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos) return {};
  const size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > dot) return {};
  return path.substr(0, dot) + L".sql";
}

bool RestoreVirusFile(const std::wstring& path) {
  const std::wstring backup = BackupCopyPath(path);
  if (backup.empty()) return false;

  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);

  win::FileHandle infected(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  if (!infected) return false;  // the read-only attribute stays cleared

  win::FileHandle copy(CreateFileW(backup.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  if (!copy) {
    const DWORD error = GetLastError();
    const DWORD backupAttributes = GetFileAttributesW(backup.c_str());
    const bool noCopy = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                        (backupAttributes != INVALID_FILE_ATTRIBUTES && (backupAttributes & FILE_ATTRIBUTE_DIRECTORY));
    if (!noCopy) {
      // A copy exists but can't be read now (in use, access denied). Deleting the
      // infected file would lose the way back to the former contents: leave both, so
      // that a later run can restore the file.
      infected.reset();
      if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path.c_str(), attributes);
      return false;
    }
    // No copy: the file is nothing but the virus. A failed deletion still counts.
    infected.reset();
    DeleteWithNormalAttributes(path);
    return true;
  }

  // The whole 64-bit size: a copy of 4 GiB or more must not be cut to its low 32 bits.
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(copy.get(), &size)) return false;
  if (!CopyContents(copy.get(), infected.get(), static_cast<ULONGLONG>(size.QuadPart))) return false;

  copy.reset();
  infected.reset();
  DeleteWithNormalAttributes(backup);
  return true;
}

void ShowProgress(const ProgressView& view, const ProgressSnapshot& snapshot) {
  const std::wstring line = FormatProgressLine(snapshot.filesScanned, snapshot.virusesFound, snapshot.filesRestored);
  SetDlgItemTextW(view.window, view.progressLineId, line.c_str());
  SetDlgItemTextW(view.window, view.currentFileId, snapshot.path.c_str());
}

bool ScanFile(const std::wstring& path, ScanState& state, const ProgressView& view, ProgressThrottle* throttle) {
  const bool goOn = state.stopRequested.load() == 0;

  ProgressSnapshot snapshot;
  snapshot.filesScanned = state.filesScanned.fetch_add(1) + 1;
  if (IsVirusFile(path.c_str())) {
    state.virusesFound.fetch_add(1);
    if (RestoreVirusFile(path)) state.filesRestored.fetch_add(1);
  }
  snapshot.virusesFound = state.virusesFound.load();
  snapshot.filesRestored = state.filesRestored.load();
  snapshot.path = path;

  if (!throttle || throttle->Record(snapshot, !goOn)) ShowProgress(view, snapshot);
  return goOn;
}

}  // namespace engine
