// The residue cleanup in the test prefix: the all-users Startup folder, the drivers
// directory, HKEY_LOCAL_MACHINE and the processes are shared by the whole prefix, so these
// tests run alone and put back what they found.
#include "engine/residue.h"

#include <windows.h>
#include <shlobj.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/marker.h"
#include "tests/engine/waiting_process.h"
#include "tests/support/test_support.h"
#include "tests/support/windows_rules.h"
#include "win/handles.h"

namespace {

constexpr wchar_t kTypeLibGuidKey[] = L"SOFTWARE\\Classes\\TypeLib\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}";
constexpr wchar_t kTypeLibKey[] = L"SOFTWARE\\Classes\\TypeLib\\{97EFC6B7-C73A-423E-8458-82C589CA7E3B}\\1.0\\0\\win32";
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

std::wstring CommonStartup() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_STARTUP, nullptr, 0, path))) return {};
  return std::wstring(path) + L"\\";
}

std::set<std::wstring> Names(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW entry;
  test::FindHandle listing(FindFirstFileW((folder + L"*").c_str(), &entry));
  if (listing) {
    do {
      names.insert(entry.cFileName);
    } while (FindNextFileW(listing.get(), &entry));
  }
  return names;
}

bool KeyExists(const wchar_t* subkey) {
  win::RegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// One registry value as it was, put back (or removed again) afterwards.
class SavedValue {
 public:
  SavedValue(const wchar_t* subkey, const wchar_t* name) : subkey_(subkey), name_(name ? name : L"") {
    win::RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type_, nullptr, &bytes) != ERROR_SUCCESS) return;
    data_.resize(bytes);
    existed_ = RegQueryValueExW(key.get(), name, nullptr, &type_, data_.data(), &bytes) == ERROR_SUCCESS;
  }
  ~SavedValue() {
    win::RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey_.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    const wchar_t* name = name_.empty() ? nullptr : name_.c_str();
    if (existed_)
      RegSetValueExW(key.get(), name, 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
    else
      RegDeleteValueW(key.get(), name);
  }
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;

 private:
  std::wstring subkey_, name_;
  bool existed_ = false;
  DWORD type_ = REG_NONE;
  std::vector<BYTE> data_;
};

// A file of the system that a test may replace or delete, put back as it was afterwards.
class SavedFile {
 public:
  explicit SavedFile(std::wstring path) : path_(std::move(path)) {
    attributes_ = GetFileAttributesW(path_.c_str());
    if (attributes_ != INVALID_FILE_ATTRIBUTES) bytes_ = test::ReadBytes(path_);
  }
  ~SavedFile() {
    SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path_.c_str());
    if (attributes_ == INVALID_FILE_ATTRIBUTES) return;
    test::WriteBytes(path_, bytes_);
    SetFileAttributesW(path_.c_str(), attributes_);
  }
  SavedFile(const SavedFile&) = delete;
  SavedFile& operator=(const SavedFile&) = delete;

 private:
  std::wstring path_;
  DWORD attributes_;
  std::string bytes_;
};

std::wstring DriverPath() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return std::wstring(system) + L"\\drivers\\asyncmac.sys";
}

// The restart deletions registered so far: the source of each pair whose target is empty.
std::vector<std::wstring> PendingDeletions() {
  std::vector<std::wstring> deletions;
  win::RegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return deletions;
  DWORD bytes = 0, type = 0;
  if (RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return deletions;
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 2, L'\0');
  if (RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
      ERROR_SUCCESS)
    return deletions;
  std::vector<std::wstring> strings;
  const size_t end = bytes / sizeof(wchar_t);
  for (size_t at = 0; at < end;) {
    const std::wstring s(text.data() + at);
    strings.push_back(s);
    at += s.size() + 1;
  }
  // The list ends with an empty string of its own; pairs are (source, target).
  for (size_t i = 0; i + 1 < strings.size(); i += 2)
    if (!strings[i].empty() && strings[i + 1].empty()) deletions.push_back(strings[i]);
  return deletions;
}

bool DeletionPending(const std::wstring& path) {
  for (const std::wstring& entry : PendingDeletions())
    if (lstrcmpiW(entry.c_str(), (L"\\??\\" + path).c_str()) == 0) return true;
  return false;
}

// Writes a real shortcut through the shell link object.
HRESULT WriteShortcut(const std::wstring& link, const std::wstring& target) {
  win::ComPtr<IShellLinkW> shellLink;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shellLink.put_void());
  if (FAILED(hr)) return hr;
  if (FAILED(hr = shellLink->SetPath(target.c_str()))) return hr;
  win::ComPtr<IPersistFile> file;
  if (FAILED(hr = shellLink->QueryInterface(IID_IPersistFile, file.put_void()))) return hr;
  return file->Save(link.c_str(), TRUE);
}

class ResidueTest : public testing::Test {
 protected:
  void SetUp() override {
    startup = CommonStartup();
    ASSERT_FALSE(startup.empty());
    ASSERT_TRUE(test::Exists(startup)) << "the prefix has an all-users Startup folder";
    startupBefore_ = Names(startup);
    typeLibKeyExisted_ = KeyExists(kTypeLibGuidKey);
    // As on Windows, where the TrustedInstaller owns the keys of SOFTWARE\Classes\TypeLib
    // and administrators may only read them.
    rules::DenyKey(kTypeLibKey, KEY_ALL_ACCESS & ~KEY_READ);
  }
  void TearDown() override {
    // Whatever this test left in the Startup folder goes; what was there before stays.
    for (const std::wstring& name : Names(startup)) {
      if (startupBefore_.count(name)) continue;
      const std::wstring path = startup + name;
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!DeleteFileW(path.c_str())) test::RemoveTree(path);
      EXPECT_FALSE(test::Exists(path)) << "could not clean up the Startup folder";
    }
    if (!typeLibKeyExisted_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTypeLibGuidKey);
  }

  // Copies a fixture into the Startup folder and gives it the attributes.
  std::wstring InStartup(const std::wstring& fixture, const std::wstring& name, DWORD attributes = 0) {
    const std::wstring path = startup + name;
    EXPECT_TRUE(CopyFileW(test::FixturePath(fixture).c_str(), path.c_str(), FALSE));
    if (attributes) {
      EXPECT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    }
    return path;
  }
  std::wstring Shortcut(const std::wstring& name, const std::wstring& target, DWORD attributes = kHiddenSystem) {
    const std::wstring path = startup + name;
    EXPECT_EQ(S_OK, WriteShortcut(path, target));
    EXPECT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    return path;
  }
  // An infected file in a directory of the test's own, with the attributes.
  std::wstring Infected(const std::wstring& relative, DWORD attributes = 0) {
    const std::wstring path = dir.CopyFixture(L"marker_exact", relative);
    if (attributes) {
      EXPECT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    }
    return path;
  }
  void RegisterTypeLib(DWORD type, const std::wstring& data) {
    win::RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTypeLibKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
  }

  test::TempDir dir{test::kOnFixedDrive};  // the sweep opens no image from a network drive
  std::wstring startup;
  // Put back after each test: a real driver, if the prefix has one, and the list of
  // restart deletions, which the next start of the prefix would carry out.
  SavedFile driver{DriverPath()};
  SavedValue pendingRenames{kSessionManager, kPendingRenames};
  SavedValue typeLibValue{kTypeLibKey, nullptr};

 private:
  std::set<std::wstring> startupBefore_;
  bool typeLibKeyExisted_ = true;
};

TEST_F(ResidueTest, InfectedStartupEntriesGoAndVirusProcessesEnd) {
  const std::wstring guarded =
      InStartup(L"marker_exact", L"guard.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const std::wstring plain = InStartup(L"marker_lower", L"plain.exe");
  const std::wstring clean = InStartup(L"clean_company", L"clean.exe", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const std::wstring bare = InStartup(L"no_version", L"bare.exe");
  test::WaitingProcess virus(Infected(L"running.exe"));
  ASSERT_TRUE(virus.WaitUntilReady());

  engine::CleanResidue();

  DWORD exitCode = 259;
  EXPECT_TRUE(virus.WaitForEnd(10000, exitCode)) << "the cleanup runs the process sweep";
  EXPECT_EQ(0u, exitCode);
  EXPECT_FALSE(test::Exists(guarded)) << "read-only, hidden and system don't protect it";
  EXPECT_FALSE(test::Exists(plain));
  EXPECT_TRUE(test::Exists(clean));
  EXPECT_TRUE(test::Exists(bare));
}

TEST_F(ResidueTest, VirusShortcutTakesTheInfectedFilesOfItsTargetsDirectory) {
  const std::wstring home = dir.MakeDir(L"home");
  const std::wstring target = Infected(L"home\\host.exe", kHiddenSystem);
  const std::wstring helper = Infected(L"home\\helper.dll", FILE_ATTRIBUTE_READONLY);
  const std::wstring clean = dir.CopyFixture(L"clean_company", L"home\\clean.exe");
  const std::wstring data = dir.Write(L"home\\notes.txt", "user data");
  ASSERT_TRUE(SetFileAttributesW(home.c_str(), FILE_ATTRIBUTE_HIDDEN));
  const std::wstring link = Shortcut(L"virus.lnk", target);

  engine::CleanResidue();

  EXPECT_FALSE(test::Exists(link));
  EXPECT_FALSE(test::Exists(target));
  EXPECT_FALSE(test::Exists(helper));
  EXPECT_TRUE(test::Exists(clean));
  EXPECT_EQ("user data", test::ReadBytes(data));
  const DWORD attributes = test::Attributes(home);
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << "a directory with clean files in it stays";
  EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_HIDDEN) << "its attributes are reset all the same";
}

TEST_F(ResidueTest, OneTargetDirectoryPerRunAndAnEmptiedOneIsRemoved) {
  const std::wstring first = dir.MakeDir(L"first"), second = dir.MakeDir(L"second");
  const std::wstring firstTarget = Infected(L"first\\a.exe", kHiddenSystem);
  const std::wstring secondTarget = Infected(L"second\\b.exe", kHiddenSystem);
  const std::wstring firstLink = Shortcut(L"first.lnk", firstTarget);
  const std::wstring secondLink = Shortcut(L"second.lnk", secondTarget);

  engine::CleanResidue();

  // The folder's order decides which shortcut comes first; the other waits for the next run.
  const bool firstTaken = !test::Exists(firstLink);
  EXPECT_NE(firstTaken, !test::Exists(secondLink)) << "exactly one shortcut is deleted";
  const std::wstring& taken = firstTaken ? first : second;
  const std::wstring& kept = firstTaken ? second : first;
  EXPECT_FALSE(test::Exists(taken)) << "the emptied target directory is removed";
  EXPECT_TRUE(test::Exists(kept + (firstTaken ? L"\\b.exe" : L"\\a.exe")));

  engine::CleanResidue();
  EXPECT_FALSE(test::Exists(firstLink));
  EXPECT_FALSE(test::Exists(secondLink));
  EXPECT_FALSE(test::Exists(kept));
}

TEST_F(ResidueTest, ShortcutsLackingAnAttributeStay) {
  dir.MakeDir(L"t");
  const std::wstring hiddenTarget = Infected(L"t\\hidden.exe", FILE_ATTRIBUTE_HIDDEN);
  const std::wstring systemTarget = Infected(L"t\\system.exe", FILE_ATTRIBUTE_SYSTEM);
  const std::wstring virusTarget = Infected(L"t\\virus.exe", kHiddenSystem);
  const std::wstring links[] = {
      Shortcut(L"to-hidden.lnk", hiddenTarget),
      Shortcut(L"to-system.lnk", systemTarget),
      Shortcut(L"hidden-only.lnk", virusTarget, FILE_ATTRIBUTE_HIDDEN),
      Shortcut(L"system-only.lnk", virusTarget, FILE_ATTRIBUTE_SYSTEM),
  };

  engine::CleanResidue();

  for (const std::wstring& link : links) EXPECT_TRUE(test::Exists(link)) << "a shortcut stays";
  for (const std::wstring& target : {hiddenTarget, systemTarget, virusTarget})
    EXPECT_TRUE(test::Exists(target)) << "no target directory was taken";
}

TEST_F(ResidueTest, LnkCountsInAnyCaseAndInTheMiddleOfTheName) {
  for (const std::wstring name : {L"VIRUS.LNK", L"virus.lnk.txt"}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    const std::wstring sub = dir.MakeDir(name + L".d");
    const std::wstring target = Infected(name + L".d\\host.exe", kHiddenSystem);
    const std::wstring link = Shortcut(name, target);

    engine::CleanResidue();

    EXPECT_FALSE(test::Exists(link));
    EXPECT_FALSE(test::Exists(target));
    EXPECT_FALSE(test::Exists(sub));
  }
}

TEST_F(ResidueTest, TargetAtTheRootOfADriveMakesTheRootTheTargetDirectory) {
  ASSERT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), GetDriveTypeW(L"R:\\")) << "the harness maps R:";
  const std::wstring stem = L"R:\\mfk-residue-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring target = stem + L"-host.exe", clean = stem + L"-clean.exe";
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), target.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"clean_company").c_str(), clean.c_str(), FALSE));
  ASSERT_TRUE(SetFileAttributesW(target.c_str(), kHiddenSystem));
  const std::wstring link = Shortcut(L"root.lnk", target);

  engine::CleanResidue();

  EXPECT_FALSE(test::Exists(link));
  EXPECT_FALSE(test::Exists(target));
  EXPECT_TRUE(test::Exists(clean));
  EXPECT_TRUE(test::Exists(L"R:\\")) << "the root can't be removed";
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(target.c_str());
  DeleteFileW(clean.c_str());
}

// Anything hidden and system named ".lnk" that isn't a shortcut would otherwise be a way for
// the virus to keep its driver and type-library file: it is passed over.
TEST_F(ResidueTest, ShortcutThatCannotBeLoadedIsSkippedAndTheCleanupGoesOn) {
  const std::wstring broken = startup + L"broken.lnk";
  ASSERT_TRUE(test::WriteBytes(broken, "not a shortcut"));
  ASSERT_TRUE(SetFileAttributesW(broken.c_str(), kHiddenSystem));
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"no_version").c_str(), DriverPath().c_str(), FALSE));
  const std::wstring registered = dir.Write(L"typelib.dll", "virus");
  RegisterTypeLib(REG_SZ, registered);

  engine::CleanResidue();

  EXPECT_TRUE(test::Exists(broken));
  EXPECT_FALSE(test::Exists(DriverPath())) << "the driver step still runs";
  EXPECT_FALSE(test::Exists(registered)) << "the type-library step still runs";
}

TEST_F(ResidueTest, FakeDriverGoesOnlyWithoutVersionResource) {
  const std::wstring path = DriverPath();
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"no_version").c_str(), path.c_str(), FALSE));
  // Where a 32-bit virus's writes to the system folder land on 64-bit Windows.
  wchar_t wow64[MAX_PATH] = {};
  ASSERT_GT(GetSystemWow64DirectoryW(wow64, MAX_PATH), 0u);
  const std::wstring wowDrivers = std::wstring(wow64) + L"\\drivers";
  const bool madeWowDrivers = CreateDirectoryW(wowDrivers.c_str(), nullptr) != FALSE;
  const std::wstring wowDriver = wowDrivers + L"\\asyncmac.sys";
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"no_version").c_str(), wowDriver.c_str(), FALSE));
  engine::CleanResidue();
  EXPECT_FALSE(test::Exists(path));
  EXPECT_FALSE(test::Exists(wowDriver));
  if (madeWowDrivers) RemoveDirectoryW(wowDrivers.c_str());

  // A version resource keeps it, whatever its CompanyName says.
  for (const wchar_t* fixture : {L"clean_company", L"marker_exact"}) {
    ASSERT_TRUE(CopyFileW(test::FixturePath(fixture).c_str(), path.c_str(), FALSE));
    engine::CleanResidue();
    EXPECT_TRUE(test::Exists(path));
  }
}

// What the type-library key names, and what becomes of the file it leads to.
struct TypeLibRow {
  const char* what;
  DWORD type;
  std::wstring value, file;
  bool heldOpen;  // somebody holds it open without sharing its deletion
  bool survives, scheduled;
  bool readOnly = false;  // Windows refuses to delete it while it is
};

TEST_F(ResidueTest, TypeLibFileGoesNowOrAtRestartButNeverThroughALink) {
  SetEnvironmentVariableW(L"MFK_TYPELIB_DIR", dir.path().c_str());
  // Planted by scripts/test.sh from the host: T:\links\typelib\dirlink is a link to the
  // folder T:\links\typelib-outside, and T:\links\typelib\filelink.dll one to victim.dll there.
  const std::wstring victim = L"T:\\links\\typelib-outside\\victim.dll";
  const TypeLibRow rows[] = {
      {"a plain file", REG_SZ, dir / L"plain.dll", dir / L"plain.dll", false, false, false},
      {"a read-only file", REG_SZ, dir / L"readonly.dll", dir / L"readonly.dll", false, false, false, true},
      {"an expandable path", REG_EXPAND_SZ, L"%MFK_TYPELIB_DIR%expanded.dll", dir / L"expanded.dll", false, false,
       false},
      {"a file in use", REG_SZ, dir / L"used.dll", dir / L"used.dll", true, true, true},
      {"a value of the wrong type", REG_MULTI_SZ, dir / L"list.dll", dir / L"list.dll", false, true, false},
      {"a folder link on the way", REG_SZ, L"T:\\links\\typelib\\dirlink\\victim.dll", victim, false, true, false},
      {"a link to a file", REG_SZ, L"T:\\links\\typelib\\filelink.dll", victim, false, true, false},
  };
  for (const TypeLibRow& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(test::WriteBytes(row.file, "somebody's file"));
    if (row.readOnly) SetFileAttributesW(row.file.c_str(), FILE_ATTRIBUTE_READONLY);
    RegisterTypeLib(row.type, row.value);
    win::FileHandle holder;
    if (row.heldOpen)
      holder.reset(CreateFileW(row.file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    const size_t pendingBefore = PendingDeletions().size();

    engine::CleanResidue();

    EXPECT_EQ(row.survives, test::Exists(row.file));
    EXPECT_EQ(pendingBefore + row.scheduled, PendingDeletions().size()) << "deletions at the next restart";
    EXPECT_EQ(row.scheduled, DeletionPending(row.file));
    wchar_t stored[512] = {};
    DWORD bytes = sizeof stored;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, kTypeLibKey, nullptr, RRF_RT_ANY | RRF_NOEXPAND, nullptr,
                                          stored, &bytes));
    EXPECT_EQ(row.value, stored) << "the key and its value stay";
  }
}

// Planted by scripts/test.sh from the host: T:\links\startup holds a FIFO, silent.lnk. Wine
// lists it as a plain file and can't make it hidden and system (Linux keeps no extended
// attributes on a FIFO), so it is never taken for the virus's shortcut here: what waits for
// nothing is the test of whether it is infected.
TEST_F(ResidueTest, AFifoInTheStartupFolderKeepsNothingWaiting) {
  const std::wstring folder = L"T:\\links\\startup", fifo = folder + L"\\silent.lnk";
  // A reader first, so that a writer can open it; then a writer that never writes, so that
  // a read of it waits for ever.
  const win::FileHandle reader(
      CreateFileW(fifo.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  win::FileHandle writer(
      CreateFileW(fifo.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(reader && writer);
  const std::wstring infected = folder + L"\\virus.exe";
  ASSERT_TRUE(CopyFileW(test::FixturePath(L"marker_exact").c_str(), infected.c_str(), FALSE));
  const std::wstring registered = dir.Write(L"typelib.dll", "virus");
  RegisterTypeLib(REG_SZ, registered);
  // That folder is the all-users Startup folder while the test lasts.
  SavedValue userShellFolder{kUserShellFolders, L"Common Startup"}, shellFolder{kShellFolders, L"Common Startup"};
  win::RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUserShellFolders, 0, KEY_SET_VALUE, key.put()));
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExW(key.get(), L"Common Startup", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                           static_cast<DWORD>(folder.size() * sizeof(wchar_t))));
  ASSERT_EQ(folder + L"\\", CommonStartup());

  win::KernelHandle cleanup(CreateThread(
      nullptr, 0,
      [](void*) -> DWORD {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        engine::CleanResidue();
        CoUninitialize();
        return 0;
      },
      nullptr, 0, nullptr));
  ASSERT_TRUE(cleanup);
  const bool returned = WaitForSingleObject(cleanup.get(), 10000) == WAIT_OBJECT_0;
  EXPECT_TRUE(returned) << "nothing waits on the FIFO";
  writer.reset();  // a read that still waits now ends
  if (!returned) WaitForSingleObject(cleanup.get(), 10000);
  EXPECT_FALSE(test::Exists(infected)) << "the listing went on";
  EXPECT_FALSE(test::Exists(registered)) << "and so did the later steps";
}

}  // namespace
