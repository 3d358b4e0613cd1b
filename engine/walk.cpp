#include "engine/walk.h"

#include <winioctl.h>

#include <new>
#include <set>

#include "engine/entry_rules.h"
#include "engine/held_directory.h"
#include "engine/paths.h"
#include "engine/inspectors.h"

namespace engine {

namespace {

// One level of the way down: the directory, held open, and the subdirectories its listing
// named that are still to be walked, by name only (the last listed goes first).
struct Level {
  HeldDirectory directory;
  std::vector<DirectoryEntry> subdirectories;
  size_t displayLength = 0;  // of the shown path of its files, up to its trailing backslash
};

// Lists the directory of `level`: its files go to the inspectors as the listing meets them,
// its subdirectories are noted for later. False when a stop ended it.
bool ScanListing(Level& level, const std::wstring& prefix, Inspectors& inspectors) {
  bool stopped = false;
  inspectors.BeginDirectory(level.directory);
  level.directory.List([&](const DirectoryEntry& entry) {
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // Junctions, directory links and mount points are never entered, nor is a folder
      // whose listing isn't on this machine; a OneDrive folder that is, is.
      if (ClassifyEntry(entry.attributes, entry.reparseTag) == EntryKind::kWalk) level.subdirectories.push_back(entry);
      return true;
    }
    if (inspectors.MadeHere(entry.name)) return true;
    stopped = !inspectors.Hand(entry, prefix + entry.name);
    return !stopped;
  });
  return inspectors.EndDirectory() && !stopped;
}

// The walk below `root`, its files handed to `inspectors`. False when a stop ended it.
bool WalkWith(const std::wstring& root, Inspectors& inspectors) {
  // The shown path of the directory at the bottom of the way, with its trailing backslash:
  // the root as given and the names below it.
  std::wstring prefix = root;
  if (prefix.empty() || prefix.back() != L'\\') prefix += L'\\';
  std::vector<Level> levels(1);
  levels.back().displayLength = prefix.size();
  if (!levels.back().directory.Open(root)) return true;  // refused, missing, a link: nothing to walk
  // A directory is listed at most once, whatever renames would bring it back.
  std::set<FileId> listed;

  for (bool entered = true; !levels.empty();) {
    if (entered) {
      entered = false;
      try {
        if (!ScanListing(levels.back(), prefix, inspectors)) return false;
      } catch (const std::bad_alloc&) {
        // Out of memory in this listing: the rest of it is left, as a directory that can't
        // be listed is, and the walk goes on with what it holds.
      }
    }
    Level& level = levels.back();
    if (level.subdirectories.empty()) {
      // Done with it: its parent takes the final path back, cut at its own end.
      std::wstring path = level.directory.TakeFinalPath();
      levels.pop_back();
      if (levels.empty()) break;
      const size_t cut = path.find_last_of(L'\\');
      path.resize(cut == std::wstring::npos ? 0 : cut);
      levels.back().directory.PutFinalPath(std::move(path));
      prefix.resize(levels.back().displayLength);
      continue;
    }
    const DirectoryEntry next = std::move(level.subdirectories.back());
    level.subdirectories.pop_back();
    try {
      Level child;
      // Opened relative to the held parent, never through a link; and still the directory
      // that was listed there, not one swapped in since.
      if (!child.directory.OpenIn(level.directory, next.name) || !child.directory.IsListed(next)) continue;
      std::wstring childPrefix = prefix + next.name + L'\\';
      // By its full id only: a 64-bit index (of ReFS, say) can repeat, and a repeated one
      // must never drop a directory that hasn't been seen.
      if (next.fullId && !listed.insert(next.id).second) continue;
      if (levels.size() == levels.capacity()) levels.reserve(levels.size() * 2);  // `level` moves
      // Nothing below allocates: the child's final path holds the parent's, and gives it back.
      levels.back().directory.TakeFinalPath();
      prefix = std::move(childPrefix);
      child.displayLength = prefix.size();
      levels.push_back(std::move(child));
      entered = true;
    } catch (const std::bad_alloc&) {
      // Out of memory for this directory: it is left with what is below it.
    }
  }
  return true;
}

// The threads for a walk below `root`: as the request says, or by its drive.
int ThreadsFor(const ScanRequest& request, const std::wstring& root) {
  if (request.inspectors > 0) return request.inspectors;
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  return InspectorCount(system.dwNumberOfProcessors, SeekPenaltyOf(root));
}

}  // namespace

bool WalkDirectoryTree(const std::wstring& root, const WalkContext& context, int threads) {
  Inspectors inspectors(context, threads);
  return WalkWith(root, inspectors) && inspectors.Finish();
}

int InspectorCount(unsigned cores, SeekPenalty penalty) {
  if (penalty == SeekPenalty::kHas) return 1;
  if (cores < 1) cores = 1;
  return cores >= 4 ? 8 : static_cast<int>(cores * 2);
}

SeekPenalty SeekPenaltyOf(const std::wstring& path) {
  // The volume that holds the path, by its own name where it has one ("\\?\Volume{...}"),
  // which also serves one mounted in a folder; by its drive letter otherwise.
  wchar_t mountPoint[MAX_PATH + 1] = {};
  if (!win::os::GetVolumePathNameW(LongPath(path).c_str(), mountPoint, MAX_PATH)) return SeekPenalty::kUnknown;
  std::wstring device;
  wchar_t volume[64] = {};
  if (win::os::GetVolumeNameForVolumeMountPointW(mountPoint, volume, 64)) {
    device = volume;
  } else {
    std::wstring letter = mountPoint;
    if (letter.compare(0, 4, L"\\\\?\\") == 0) letter.erase(0, 4);
    if (letter.size() < 2 || letter[1] != L':') return SeekPenalty::kUnknown;
    device = L"\\\\.\\" + letter.substr(0, 2);
  }
  while (!device.empty() && device.back() == L'\\') device.pop_back();
  // No access asked for: the device's properties are open to anyone, and nothing is read.
  const win::FileHandle drive(
      win::os::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!drive) return SeekPenalty::kUnknown;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceSeekPenaltyProperty;
  query.QueryType = PropertyStandardQuery;
  DEVICE_SEEK_PENALTY_DESCRIPTOR answer{};
  DWORD returned = 0;
  if (!win::os::DeviceIoControl(drive.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &answer, sizeof answer,
                                &returned, nullptr) ||
      returned < sizeof answer)
    return SeekPenalty::kUnknown;
  return answer.IncursSeekPenalty ? SeekPenalty::kHas : SeekPenalty::kNone;
}

bool Walk(const ScanRequest& request, const WalkContext& context) {
  if (!request.allDrives) return WalkDirectoryTree(request.root, context, ThreadsFor(request, request.root));
  for (const std::wstring& root : GetDriveRoots()) {
    // Removable, network, optical and RAM drives, and roots of unknown type, are never walked.
    if (win::os::GetDriveTypeW(root.c_str()) == DRIVE_FIXED &&
        !WalkDirectoryTree(root, context, ThreadsFor(request, root)))
      return false;
    if (context.state.stopRequested.load() != 0) return false;
  }
  return true;
}

std::vector<std::wstring> GetDriveRoots(DWORD initialChars) {
  std::vector<wchar_t> buffer(initialChars + 1, L'\0');
  DWORD length = win::os::GetLogicalDriveStringsW(initialChars, buffer.data());
  if (length > initialChars) {
    // Too small: the result is the size needed, and nothing usable was written.
    buffer.assign(length + 1, L'\0');
    length = win::os::GetLogicalDriveStringsW(length, buffer.data());
    if (length >= buffer.size()) return {};  // the list grew in between; give up
  }
  std::vector<std::wstring> roots;
  for (DWORD at = 0; at < length && buffer[at] != L'\0';) {
    std::wstring root(&buffer[at]);
    at += static_cast<DWORD>(root.size()) + 1;
    roots.push_back(std::move(root));
  }
  return roots;
}

}  // namespace engine
