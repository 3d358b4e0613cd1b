#include "tests/e2e/infection.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "tests/support/test_support.h"
#include "win/handles.h"

namespace e2e {

namespace {

// Makes a directory and its parents, recording those that didn't exist.
void MakeDirs(const std::wstring& path, std::vector<std::wstring>& created) {
  for (size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
    const std::wstring dir = at == std::wstring::npos ? path : path.substr(0, at);
    if (CreateDirectoryW(dir.c_str(), nullptr)) created.push_back(dir);
    if (at == std::wstring::npos) break;
  }
}

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring BackupOf(const std::wstring& path) {
  const size_t dot = path.rfind(L'.');
  return path.substr(0, dot) + L".sql";
}

class Builder {
 public:
  Builder(const std::wstring& fixtures, Infection& out, std::wstring& error)
      : fixtures_(fixtures), out_(out), error_(error) {}

  bool ok() const { return error_.empty(); }

  // Replaces an ordinary file with the virus and keeps its former contents as ".sql".
  void OverOrdinaryFile(const std::wstring& path, const std::string& former, DWORD attributes = 0) {
    if (!Place(L"marker_exact", path, attributes)) return;
    const std::wstring backup = BackupOf(path);
    if (!test::WriteBytes(backup, former)) return Fail(L"could not write " + backup);
    out_.traces.push_back({path, Outcome::kRestored, former, backup, true});
  }

  void WithoutCopy(const std::wstring& path, DWORD attributes = 0, bool walked = true) {
    if (Place(L"marker_lower", path, attributes)) out_.traces.push_back({path, Outcome::kDeleted, {}, {}, walked});
  }

  void WithoutDot(const std::wstring& path) {
    if (Place(L"marker_inside", path, 0))
      out_.traces.push_back({path, Outcome::kFoundOnly, test::ReadBytes(path), {}, true});
  }

  void Clean(const std::wstring& path, const std::string& bytes) {
    MakeDirs(Parent(path), out_.createdDirs);
    if (!test::WriteBytes(path, bytes)) return Fail(L"could not write " + path);
    out_.traces.push_back({path, Outcome::kUntouched, bytes, {}, false});
  }

  void CleanExecutable(const std::wstring& path) {
    if (Place(L"clean_company", path, 0))
      out_.traces.push_back({path, Outcome::kUntouched, test::ReadBytes(path), {}, false});
  }

  // An infected file that this run must leave alone (it lies outside what is walked).
  void InfectedOutside(const std::wstring& path, const std::string& former) {
    if (!Place(L"marker_exact", path, 0)) return;
    const std::wstring backup = BackupOf(path);
    if (!test::WriteBytes(backup, former)) return Fail(L"could not write " + backup);
    out_.traces.push_back({path, Outcome::kUntouched, test::ReadBytes(path), {}, false});
    out_.traces.push_back({backup, Outcome::kUntouched, former, {}, false});
  }

  bool Place(const std::wstring& fixture, const std::wstring& path, DWORD attributes) {
    if (!ok()) return false;
    MakeDirs(Parent(path), out_.createdDirs);
    if (!CopyFileW((fixtures_ + fixture + L".exe").c_str(), path.c_str(), FALSE)) {
      Fail(L"could not copy a fixture to " + path);
      return false;
    }
    if (attributes) SetFileAttributesW(path.c_str(), attributes);
    return true;
  }

  void Fail(const std::wstring& what) {
    if (error_.empty()) error_ = what + L" (error " + std::to_wstring(GetLastError()) + L")";
  }

 private:
  std::wstring fixtures_;
  Infection& out_;
  std::wstring& error_;
};

bool SaveShortcut(const std::wstring& link, const std::wstring& target) {
  win::ComPtr<IShellLinkW> shellLink;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shellLink.put_void())))
    return false;
  win::ComPtr<IPersistFile> file;
  if (FAILED(shellLink->SetPath(target.c_str())) ||
      FAILED(shellLink->QueryInterface(IID_IPersistFile, file.put_void())))
    return false;
  return SUCCEEDED(file->Save(link.c_str(), TRUE));
}

std::wstring FolderPath(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}

}  // namespace

int Infection::InfectedFoundByWalk() const {
  int n = 0;
  for (const Trace& t : traces) n += t.walked && t.outcome != Outcome::kUntouched;
  return n;
}

int Infection::RestoredByWalk() const {
  int n = 0;
  for (const Trace& t : traces) n += t.walked && (t.outcome == Outcome::kRestored || t.outcome == Outcome::kDeleted);
  return n;
}

std::vector<std::wstring> Infection::Paths() const {
  std::vector<std::wstring> paths;
  for (const Trace& t : traces) {
    paths.push_back(t.path);
    if (!t.backup.empty()) paths.push_back(t.backup);
  }
  if (!typeLibFile.empty()) paths.push_back(typeLibFile);
  return paths;
}

bool SimulateFullInfection(const std::wstring& fixtures, Infection& out, std::wstring& error) {
  Builder b(fixtures, out, error);
  const std::wstring pub = L"C:\\users\\Public";

  // Ordinary files replaced by the virus at several depths, their former contents kept:
  // larger than the virus, smaller, empty; read-only, hidden and system ones among them.
  b.OverOrdinaryFile(pub + L"\\Documents\\report.doc", test::Pattern(300000, 1));
  b.OverOrdinaryFile(pub + L"\\Pictures\\2009\\holiday\\beach\\photo.jpg", test::Pattern(1500, 2));
  b.OverOrdinaryFile(L"C:\\Program Files\\Common Tools\\setup.exe", std::string());
  b.OverOrdinaryFile(pub + L"\\Music\\song.mp3", test::Pattern(200000, 3),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  b.OverOrdinaryFile(pub + L"\\Desktop\\notes.txt", test::Pattern(4096, 4), FILE_ATTRIBUTE_SYSTEM);
  // Infected files without a copy, and one whose name has no "." to form a copy from.
  b.WithoutCopy(pub + L"\\Downloads\\free.exe",
                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  b.WithoutCopy(pub + L"\\Documents\\deep\\er\\still\\tool.scr");
  b.WithoutDot(pub + L"\\Documents\\README");

  // Clean look-alikes: an executable with a ".sql" of the same stem, a real SQL file.
  b.CleanExecutable(pub + L"\\Documents\\ledger.exe");
  b.Clean(pub + L"\\Documents\\ledger.sql", "INSERT INTO ledger VALUES (1, 'rent');\r\n");
  b.Clean(pub + L"\\Documents\\orders.sql", "CREATE TABLE orders (id INTEGER PRIMARY KEY);\r\n");

  // Two running copies of the virus.
  const std::wstring runner = L"C:\\windows\\temp\\svch0st.exe";
  b.WithoutCopy(runner);
  for (int i = 0; i < 2 && b.ok(); ++i) {
    out.processes.push_back(std::make_unique<test::Process>(runner, L"wait", L"C:\\"));
    if (!out.processes.back()->started()) b.Fail(L"could not start the running copy");
  }

  // The all-users Startup folder: an infected entry, a hidden system shortcut whose
  // hidden system target lies in a directory of the virus's own, and clean shortcuts.
  const std::wstring startup = FolderPath(CSIDL_COMMON_STARTUP);
  if (startup.empty()) b.Fail(L"no all-users Startup folder");
  MakeDirs(startup, out.createdDirs);
  b.WithoutCopy(startup + L"\\update.exe", FILE_ATTRIBUTE_HIDDEN, false);
  const std::wstring home = L"C:\\ProgramData\\FinchHome";
  const std::wstring homeExe = home + L"\\finch.exe";
  b.WithoutCopy(homeExe, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, false);
  b.WithoutCopy(home + L"\\helper.dll", 0, false);
  b.Clean(home + L"\\readme.txt", "a clean file keeps the directory");
  SetFileAttributesW(home.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  out.keptDirs.push_back(home);
  const std::wstring hiddenLink = startup + L"\\~finch.lnk";
  if (b.ok() && !SaveShortcut(hiddenLink, homeExe)) b.Fail(L"could not save the shortcut");
  SetFileAttributesW(hiddenLink.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  out.traces.push_back({hiddenLink, Outcome::kDeleted, {}, {}, false});
  const std::wstring cleanLink = startup + L"\\Notepad.lnk";
  if (b.ok() && !SaveShortcut(cleanLink, L"C:\\windows\\notepad.exe")) b.Fail(L"could not save a shortcut");
  out.traces.push_back({cleanLink, Outcome::kUntouched, test::ReadBytes(cleanLink), {}, false});

  // The fake driver, without version resource, and a clean driver with one.
  const std::wstring drivers = FolderPath(CSIDL_SYSTEM) + L"\\drivers";
  const std::wstring fakeDriver = drivers + L"\\asyncmac.sys";
  if (GetFileAttributesW(fakeDriver.c_str()) != INVALID_FILE_ATTRIBUTES) b.Fail(L"the prefix has an asyncmac.sys");
  b.Clean(fakeDriver, "MZ not a driver, and no version resource");
  out.traces.back().outcome = Outcome::kDeleted;
  b.CleanExecutable(drivers + L"\\finchguard.sys");

  // A file of the virus's own, named under the type-library key.
  out.typeLibFile = FolderPath(CSIDL_SYSTEM) + L"\\finchtl.dll";
  b.WithoutCopy(out.typeLibFile, 0, false);
  win::RegKey key;
  if (b.ok() && RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTypeLibKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                nullptr) != ERROR_SUCCESS)
    b.Fail(L"could not create the type-library key");
  if (key) {
    const std::wstring& value = out.typeLibFile;
    RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  return b.ok();
}

bool SimulateDirectoryInfection(const std::wstring& fixtures, const std::wstring& dir, const std::wstring& outside,
                                Infection& out, std::wstring& error) {
  Builder b(fixtures, out, error);
  b.OverOrdinaryFile(dir + L"\\budget.xls", test::Pattern(70000, 7));
  b.OverOrdinaryFile(dir + L"\\sub\\letter.doc", test::Pattern(10, 8));
  b.WithoutCopy(dir + L"\\sub\\deeper\\game.exe");
  b.Clean(dir + L"\\plain.txt", "plain text");
  b.InfectedOutside(outside, test::Pattern(5000, 9));
  return b.ok();
}

}  // namespace e2e
