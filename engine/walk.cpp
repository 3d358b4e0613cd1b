#include "engine/walk.h"

#include <new>
#include <set>

#include "engine/entry_rules.h"
#include "engine/held_directory.h"
#include "engine/scan_file.h"

namespace engine {

namespace {

// One level of the way down: the directory, held open, and the subdirectories its listing
// named that are still to be walked, by name only (the last listed goes first).
struct Level {
  HeldDirectory directory;
  std::vector<DirectoryEntry> subdirectories;
  size_t displayLength = 0;  // of the shown path of its files, up to its trailing backslash
};

// Lists the directory of `level`: its files go to ScanFile as the listing meets them, its
// subdirectories are noted for later. False when a stop ended it.
bool ScanListing(Level& level, const std::wstring& prefix, const WalkContext& context) {
  // The names of the files restored here during this listing. On FAT and exFAT the entry of
  // a file renamed into a directory can come up again later in the same listing; a
  // restored file is met once.
  std::set<std::wstring> restored;
  bool stopped = false;
  level.directory.List([&](const DirectoryEntry& entry) {
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // Junctions, directory links and mount points are never entered, nor is a folder
      // whose listing isn't on this machine; a OneDrive folder that is, is.
      if (ClassifyEntry(entry.attributes, entry.reparseTag) == EntryKind::kWalk) level.subdirectories.push_back(entry);
      return true;
    }
    if (!restored.empty() && restored.count(entry.name) != 0) return true;
    Restoration outcome = Restoration::kLeft;
    stopped = !ScanFile(level.directory, entry, prefix + entry.name, context, &outcome);
    if (outcome == Restoration::kRestored) restored.insert(entry.name);
    return !stopped;
  });
  return !stopped;
}

}  // namespace

bool WalkDirectoryTree(const std::wstring& root, const WalkContext& context) {
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
        if (!ScanListing(levels.back(), prefix, context)) return false;
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

bool Walk(const ScanRequest& request, const WalkContext& context) {
  if (!request.allDrives) return WalkDirectoryTree(request.root, context);
  for (const std::wstring& root : GetDriveRoots()) {
    // Removable, network, optical and RAM drives, and roots of unknown type, are never walked.
    if (GetDriveTypeW(root.c_str()) == DRIVE_FIXED && !WalkDirectoryTree(root, context)) return false;
    if (context.state.stopRequested.load() != 0) return false;
  }
  return true;
}

std::vector<std::wstring> GetDriveRoots(DWORD initialChars) {
  std::vector<wchar_t> buffer(initialChars + 1, L'\0');
  DWORD length = GetLogicalDriveStringsW(initialChars, buffer.data());
  if (length > initialChars) {
    // Too small: the result is the size needed, and nothing usable was written.
    buffer.assign(length + 1, L'\0');
    length = GetLogicalDriveStringsW(length, buffer.data());
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
