#include "engine/residue.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <memory>
#include <new>

#include "engine/held_directory.h"
#include "engine/marker.h"
#include "engine/process_sweep.h"
#include "engine/scan_file.h"
#include "win/handles.h"

namespace engine {

namespace {

// Before each forced deletion and before the target directory's removal: a virus process
// that the sweep has just ended may still hold its file for a moment.
constexpr DWORD kDeletePauseMs = 100;

constexpr wchar_t kDriversFolder[] = L"drivers";
constexpr wchar_t kFakeDriver[] = L"asyncmac.sys";
constexpr wchar_t kTypeLibKey[] = L"SOFTWARE\\Classes\\TypeLib\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}\\1.0\\0\\win32";
// The registered path, its terminating NUL included.
constexpr DWORD kTypeLibValueChars = 512;

bool IsHiddenSystem(DWORD attributes) {
  constexpr DWORD kBoth = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kBoth) == kBoth;
}

// The virus's files are tested and deleted through one handle each, relative to the
// directory they were listed in, after the pause a just-ended process may need.
bool DeleteIfInfected(const HeldDirectory& directory, const std::wstring& name) {
  return DeleteFileIf(
      directory, name, [](HANDLE file, const std::wstring&) { return IsVirusFile(file); },
      kDeletePauseMs);
}

// The shell link object that reads the Startup folder's shortcuts. It is given up after
// the first shortcut whose target is recorded as hidden and system, and never used again
// in that run.
struct ShellLink {
  win::ComPtr<IShellLinkW> link;
  win::ComPtr<IPersistFile> file;

  bool held() const { return link && file; }
  void Release() {
    file.reset();
    link.reset();
  }
};

// The directory of the virus's own files, found through its hidden shortcut. One per run.
struct TargetDirectory {
  std::wstring pattern;  // the directory followed by "\*.*"
  std::wstring base;     // the directory followed by "\", to which entry names are appended

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
  const std::wstring directory(targetPath, lastSlash);
  target.pattern = directory + L"\\*.*";
  target.base = directory + L"\\";
}

// A hidden system shortcut whose target is recorded as hidden and system belongs to the
// virus: its target's directory is noted and the shortcut deleted. A file that can't be
// loaded as a shortcut is left as it is.
void HandleHiddenShortcut(const std::wstring& path, ShellLink& shell, TargetDirectory& target) {
  if (FAILED(shell.file->Load(path.c_str(), STGM_READ))) return;

  // A target that GetPath can't report leaves the record zeroed: it lacks both attributes.
  wchar_t targetPath[MAX_PATH] = {};
  WIN32_FIND_DATAW targetData{};
  shell.link->GetPath(targetPath, MAX_PATH, &targetData, SLGP_UNCPRIORITY);
  if (!IsHiddenSystem(targetData.dwFileAttributes)) return;

  RecordTargetDirectory(targetPath, target);
  shell.Release();
  ForceDeleteFile(path);
}

// Deletes the folder's infected entries and the virus's shortcut. False ends the cleanup:
// the folder can't be listed.
bool CleanStartupFolder(const std::wstring& folder, ShellLink& shell, TargetDirectory& target) {
  HeldDirectory startup;
  if (!startup.Open(folder)) return false;
  return startup.List([&](const DirectoryEntry& entry) {
    if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;  // a link leads elsewhere
    if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) && DeleteIfInfected(startup, entry.name)) return true;
    // ".lnk" anywhere in the name and in any case: "x.LNK" and "x.lnk.txt" count too.
    if (!StrStrIW(entry.name.c_str(), L".lnk") || !IsHiddenSystem(entry.attributes)) return true;
    // After the first shortcut has led to a target directory the link object is gone;
    // a further one waits for the next run.
    if (shell.held()) HandleHiddenShortcut(folder + entry.name, shell, target);
    return true;
  });
}

// Deletes the infected files of the target directory and then the directory itself, which
// only goes when nothing else is left in it. False when it can't be listed, and when it is
// a link: what it leads to is not the virus's directory.
bool CleanTargetDirectory(const TargetDirectory& target) {
  HeldDirectory directory;
  if (!directory.Open(target.base)) return false;
  const bool listed = directory.List([&](const DirectoryEntry& entry) {
    if (!(entry.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
      DeleteIfInfected(directory, entry.name);
    return true;
  });
  if (!listed) return false;

  SetFileAttributesW(target.base.c_str(), FILE_ATTRIBUTE_NORMAL);
  Sleep(kDeletePauseMs);
  RemoveDirectoryW(target.base.c_str());
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
    if (systemDir.empty() || !drivers.Open(systemDir + kDriversFolder)) continue;
    DeleteFileIf(
        drivers, kFakeDriver,
        [](HANDLE file, const std::wstring&) {
          std::wstring company;
          return !GetFileCompanyName(file, company);
        },
        kDeletePauseMs);
  }
}

// Deletes the file that the virus registered under its type-library key, and has it
// deleted again at the next restart in case it is in use. The key itself stays.
void DeleteTypeLibFile() {
  // This program is 64-bit, and since Windows 7 the TypeLib key under SOFTWARE\Classes is
  // shared between the 32-bit and the 64-bit registry view: the default view reaches what
  // the virus wrote, whichever view it wrote through.
  win::RegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTypeLibKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
  wchar_t stored[kTypeLibValueChars] = {};
  DWORD chars = kTypeLibValueChars;
  DWORD type = REG_NONE;
  if (ReadKeyDefaultString(key.get(), stored, chars, &type) != ERROR_SUCCESS) return;
  // An expandable value names the file only once its variables are put in.
  std::wstring file = stored;
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kTypeLibValueChars * 2] = {};
    const DWORD needed = ExpandEnvironmentStringsW(stored, expanded, kTypeLibValueChars * 2);
    if (needed == 0 || needed > kTypeLibValueChars * 2) return;
    file = expanded;
  }
  // Its attributes aren't touched.
  DeleteFileW(file.c_str());
  MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

void CleanResidue() {
  // Returning early is the cleanup's "end": the RAII owners release the link object, an
  // open listing and the key on the way out.
  ShellLink shell;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shell.link.put_void())))
    return;  // not even the process sweep runs then
  if (FAILED(shell.link->QueryInterface(IID_IPersistFile, shell.file.put_void()))) return;

  const std::wstring startup = CommonStartupFolder();
  KillVirusProcesses();

  // Without a Startup folder there is no shortcut and so no target directory; the driver
  // and the type-library file don't depend on it.
  if (!startup.empty()) {
    TargetDirectory target;
    if (!CleanStartupFolder(startup, shell, target)) return;
    if (target.recorded() && !CleanTargetDirectory(target)) return;
  }
  DeleteFakeDriver();
  DeleteTypeLibFile();
}

void ForceDeleteFile(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  Sleep(kDeletePauseMs);
  DeleteFileW(path.c_str());
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
  const LONG error = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
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
