#include "engine/residue.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <memory>
#include <new>
#include <utility>

#include "engine/entry_rules.h"
#include "engine/held_directory.h"
#include "engine/paths.h"
#include "engine/marker.h"
#include "engine/process_sweep.h"
#include "engine/scan_file.h"
#include "win/handles.h"

namespace engine {

namespace {

// Before each forced deletion and before the target directory's removal: a virus process
// that the sweep has just ended may still hold its file for a moment.
constexpr DWORD kDeletePauseMs = 100;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr wchar_t kDriversFolder[] = L"drivers";
constexpr wchar_t kFakeDriver[] = L"asyncmac.sys";
constexpr wchar_t kTypeLibKey[] = L"SOFTWARE\\Classes\\TypeLib\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}\\1.0\\0\\win32";
// The registered path, its terminating NUL included.
constexpr DWORD kTypeLibValueChars = 512;
// A shortcut is a few hundred bytes, a few kilobytes with every extra block the shell
// writes; a larger file is no shortcut of the virus's and is not read into memory.
constexpr LONGLONG kLongestShortcut = 1024 * 1024;

bool IsHiddenSystem(DWORD attributes) {
  constexpr DWORD kBoth = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kBoth) == kBoth;
}

// The virus's files are tested and deleted through one handle each, relative to the
// directory they were listed in, after the pause a just-ended process may need.
bool DeleteIfInfected(const HeldDirectory& directory, const std::wstring& name) {
  return DeleteFileIf(
      directory, name, [](HANDLE file) { return IsVirusFile(file); }, kDeletePauseMs);
}

// The shell link object that reads the Startup folder's shortcuts. It is given up after
// the first shortcut whose target is recorded as hidden and system, and never used again
// in that run.
struct ShellLink {
  win::ComPtr<IShellLinkW> link;
  win::ComPtr<IPersistStream> stream;

  bool held() const { return link && stream; }
  void Release() {
    stream.reset();
    link.reset();
  }
};

// The directory of the virus's own files, found through its hidden shortcut. One per run.
struct TargetDirectory {
  std::wstring base;  // the directory followed by "\"

  bool recorded() const { return !base.empty(); }
};

// The all-users Startup folder with a trailing backslash; empty when the shell can't say.
std::wstring CommonStartupFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTUP, nullptr, 0, buffer))) return {};
  std::wstring folder(buffer);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

// The target's directory is its path up to the last backslash ("C:\x.exe" gives the root
// "C:\"). A path without any backslash names no directory, so nothing is recorded.
void RecordTargetDirectory(const wchar_t* targetPath, TargetDirectory& target) {
  const wchar_t* lastSlash = std::wcsrchr(targetPath, L'\\');
  if (!lastSlash) return;
  target.base = std::wstring(targetPath, lastSlash) + L"\\";
}

// Loads the shortcut from the bytes of the open file: the file that was tested is the one
// read, where a load by path would open whatever the name leads to by then.
bool LoadShortcut(HANDLE file, IPersistStream* stream) {
  LARGE_INTEGER size{};
  if (!win::os::GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > kLongestShortcut) return false;
  std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[static_cast<size_t>(size.QuadPart)]);
  DWORD read = 0;
  if (!bytes || !win::os::ReadFile(file, bytes.get(), static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
      read != static_cast<DWORD>(size.QuadPart))
    return false;
  win::ComPtr<IStream> memory;
  *memory.put() = SHCreateMemStream(bytes.get(), read);
  return memory && SUCCEEDED(stream->Load(memory.get()));
}

// A hidden system shortcut whose target is recorded as hidden and system belongs to the
// virus: its target's directory is noted and the shortcut deleted, through handles to the
// file that was read. What can't be read or loaded as a shortcut (a pipe, a FIFO, a link to
// somewhere else, any other file named so) is passed over: a file planted there must not
// keep the rest of the cleanup from running.
void HandleHiddenShortcut(const HeldDirectory& startup, const std::wstring& name, ShellLink& shell,
                          TargetDirectory& target) {
  TestedFile shortcut = startup.Test(name, GENERIC_READ, kShareAll);
  if (!shortcut || !IsHiddenSystem(shortcut.facts().attributes) || !LoadShortcut(shortcut.handle(), shell.stream.get()))
    return;
  // A target that GetPath can't report leaves the record zeroed: it lacks both attributes.
  wchar_t targetPath[MAX_PATH] = {};
  WIN32_FIND_DATAW targetData{};
  shell.link->GetPath(targetPath, MAX_PATH, &targetData, 0);
  if (!IsHiddenSystem(targetData.dwFileAttributes)) return;

  RecordTargetDirectory(targetPath, target);
  shell.Release();
  shortcut.Delete(kDeletePauseMs);
}

// Deletes the folder's infected entries and the virus's shortcut. False when the folder
// can't be listed at all. An error partway through the listing ends the listing only.
bool CleanStartupFolder(const std::wstring& folder, ShellLink& shell, TargetDirectory& target) {
  HeldDirectory startup;
  if (!startup.OpenEveryStep(folder)) return false;
  return startup.List([&](const DirectoryEntry& entry) {
    // As the walk sees it: a link leads elsewhere, a directory is neither the virus's file
    // nor a shortcut, a file whose data isn't here is not read; a compressed or cloud-kept
    // file is a file.
    if (ClassifyEntry(entry.attributes, entry.reparseTag) != EntryKind::kTest) return true;
    if (DeleteIfInfected(startup, entry.name)) return true;
    // ".lnk" anywhere in the name and in any case: "x.LNK" and "x.lnk.txt" count too.
    if (!StrStrIW(entry.name.c_str(), L".lnk") || !IsHiddenSystem(entry.attributes)) return true;
    // After the first shortcut has led to a target directory the link object is gone;
    // a further one waits for the next run.
    if (shell.held()) HandleHiddenShortcut(startup, entry.name, shell, target);
    return true;
  });
}

// Removes the directory that `listed` holds, by a handle opened relative to its parent
// with the right to delete it: attributes to normal, the pause, then the deletion, which
// the system carries out only when the directory is empty. A drive's root has no parent
// and stays.
void RemoveTargetDirectory(HeldDirectory listed) {
  std::wstring parentPath, name;
  if (!SplitFolderAndName(listed.finalPath(), parentPath, name) || name.find(L':') != std::wstring::npos) return;
  const uint64_t index = listed.facts().id.low;
  listed = HeldDirectory();  // the directory goes with its last handle: none of ours but the one below
  HeldDirectory parent, directory;
  if (!parent.OpenEveryStep(parentPath) || !directory.OpenIn(parent, name, DELETE | FILE_WRITE_ATTRIBUTES) ||
      directory.facts().id.low != index)
    return;
  SetNormalAttributes(directory.handle());
  Sleep(kDeletePauseMs);
  parent.DeleteAtClose(directory.handle(), name);
}

// Deletes the infected files of the target directory and then the directory itself, which
// only goes when nothing else is left in it. False when it can't be listed at all, and
// when a folder on its path is a link: what it leads to is not the virus's directory.
bool CleanTargetDirectory(const TargetDirectory& target) {
  HeldDirectory directory;
  if (!directory.OpenEveryStep(LongNamesPath(target.base))) return false;
  const bool listed = directory.List([&](const DirectoryEntry& entry) {
    if (ClassifyEntry(entry.attributes, entry.reparseTag) == EntryKind::kTest) DeleteIfInfected(directory, entry.name);
    return true;
  });
  if (!listed) return false;
  RemoveTargetDirectory(std::move(directory));
  return true;
}

// The virus puts a file of its own, without a version resource, where this system driver
// belongs. A driver with a version resource is left alone, whatever it says. A 32-bit virus
// on 64-bit Windows writes to the 32-bit system folder's drivers through the file system's
// redirection, so that folder is looked at too.
void DeleteFakeDriver() {
  std::wstring systemDirs[2];
  GetSystemDirPath(systemDirs[0]);
  wchar_t wow64[MAX_PATH] = {};
  const UINT length = GetSystemWow64DirectoryW(wow64, MAX_PATH);  // 0 on 32-bit Windows
  if (length > 0 && length < MAX_PATH) systemDirs[1] = std::wstring(wow64) + L"\\";
  for (const std::wstring& systemDir : systemDirs) {
    HeldDirectory drivers;
    if (systemDir.empty() || !drivers.OpenEveryStep(systemDir + kDriversFolder)) continue;
    DeleteFileIf(
        drivers, kFakeDriver,
        [](HANDLE file) {
          std::wstring company;
          return !GetFileCompanyName(file, company);
        },
        kDeletePauseMs);
  }
}

// Deletes the file that the virus registered under its type-library key, and only when
// that fails (the file is in use, say) has it deleted at the next restart. Both only for a
// plain file that stands where the value says, reached without any link on the way: as
// administrator now and as the system at restart, a deletion through a link swapped into
// that path would take somebody else's file. The key itself stays.
void DeleteTypeLibFile() {
  // This program is 64-bit, and since Windows 7 the TypeLib key under SOFTWARE\Classes is
  // shared between the 32-bit and the 64-bit registry view: the default view reaches what
  // the virus wrote, whichever view it wrote through.
  win::RegKey key;
  // Read only: on Windows the TrustedInstaller owns such keys and Administrators may read them.
  if (win::os::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTypeLibKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
  wchar_t stored[kTypeLibValueChars] = {};
  DWORD chars = kTypeLibValueChars;
  DWORD type = REG_NONE;
  if (ReadKeyDefaultString(key.get(), stored, chars, &type) != ERROR_SUCCESS) return;
  // An expandable value names the file only once its variables are put in.
  std::wstring path = stored;
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kTypeLibValueChars * 2] = {};
    const DWORD needed = ExpandEnvironmentStringsW(stored, expanded, kTypeLibValueChars * 2);
    if (needed == 0 || needed > kTypeLibValueChars * 2) return;
    path = expanded;
  }

  std::wstring folderPath, name;
  HeldDirectory folder;
  if (!SplitFolderAndName(LongNamesPath(path), folderPath, name) || !folder.OpenEveryStep(folderPath)) return;
  // Opened for its attributes only, which somebody else's open without sharing doesn't
  // refuse; and closed before the deletion, which waits for the file's last handle.
  TestedFile file = folder.Test(name, FILE_READ_ATTRIBUTES, kShareAll);
  if (!file || file.Delete()) return;
  // In use: deleted at the next restart, where it stands, and not read-only then either.
  const win::FileHandle still = file.Reopen(FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  const std::wstring where = still ? FinalPath(still.get()) : std::wstring();
  if (where.empty() || !folder.Holds(still.get(), name)) return;
  SetNormalAttributes(still.get());
  win::os::MoveFileExW(where.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

SweepCounts CleanResidue() {
  // Returning early is the cleanup's "end": the RAII owners release the link object, an
  // open listing and the key on the way out.
  ShellLink shell;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shell.link.put_void())))
    return {};  // not even the process sweep runs then
  // Shortcuts are loaded from the bytes read through the handle that was tested, not by path.
  if (FAILED(shell.link->QueryInterface(IID_IPersistStream, shell.stream.put_void()))) return {};

  const std::wstring startup = CommonStartupFolder();
  const SweepCounts sweep = KillVirusProcesses();

  // Without a Startup folder there is no shortcut and so no target directory; the driver
  // and the type-library file don't depend on it.
  if (!startup.empty()) {
    TargetDirectory target;
    // A folder that can't be listed, or a link on the way to it, leaves out its own step only.
    if (CleanStartupFolder(startup, shell, target) && target.recorded()) CleanTargetDirectory(target);
  }
  DeleteFakeDriver();
  DeleteTypeLibFile();
  return sweep;
}

bool GetSystemDirPath(std::wstring& path) {
  const UINT needed = GetSystemDirectoryW(nullptr, 0);  // characters, NUL included
  if (needed == 0) return false;
  // Room for the backslash as well.
  std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[needed + 1]);
  if (!buffer) return false;
  const UINT length = GetSystemDirectoryW(buffer.get(), needed + 1);
  // An empty directory would make "\drivers\..." a path on whatever drive is current;
  // a longer one than first reported leaves no room for the backslash.
  if (length == 0 || length >= needed) return false;
  if (buffer[length - 1] != L'\\') {
    buffer[length] = L'\\';
    buffer[length + 1] = L'\0';
  }
  path = buffer.get();
  return true;
}

LONG ReadKeyDefaultString(HKEY key, wchar_t* buffer, DWORD& chars, DWORD* valueType) {
  // Without a buffer the query would only report the size, and nothing would be read.
  if (!buffer || chars > MAXDWORD / sizeof(wchar_t)) return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  DWORD bytes = chars * sizeof(wchar_t);
  const LONG error = win::os::RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  if (error != ERROR_SUCCESS) return error;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  if (valueType) *valueType = type;
  if (bytes % sizeof(wchar_t) != 0) return ERROR_INVALID_DATA;
  if (bytes == 0) {
    if (chars > 0) buffer[0] = L'\0';
    chars = 0;
    return ERROR_SUCCESS;
  }
  // A string stored without its NUL would run on into whatever follows it.
  if (buffer[bytes / sizeof(wchar_t) - 1] != L'\0') return ERROR_INVALID_DATA;
  chars = bytes / sizeof(wchar_t);
  return ERROR_SUCCESS;
}

}  // namespace engine
