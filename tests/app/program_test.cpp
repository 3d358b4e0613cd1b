// The whole program, started as a user starts it: the built MarrowFinchKiller.exe in a
// process of its own, its reports going through http_proxy (inherited from this process)
// to a recorder of the test, its main window found by its title and closed the way a user
// closes it. These change the prefix's all-users application-data folder and the
// machine identifier's key, and put both back.
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/report/machine_id_key.h"
#include "tests/report/report_expectations.h"
#include "tests/support/http_recorder.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

using test::Process;

constexpr test::RegistryView k32 = KEY_WOW64_32KEY;
constexpr test::RegistryView k64 = KEY_WOW64_64KEY;
const std::string kStoredId("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16);
constexpr char kStoredIdText[] = "00112233445566778899AABBCCDDEEFF";

// A first start in a fresh prefix loads a good part of Wine; later ones take a second or so.
constexpr DWORD kStartMs = 30000;
constexpr DWORD kReportMs = 10000;
// Closing is quick: no worker is waited for. A program that waited for a report in
// flight would take up to the 5 s receive time-out.
constexpr DWORD kPromptEndMs = 3000;

// "Morva" in the prefix's all-users application-data folder, as one test wants it:
// missing, a folder or a plain file. Whatever was there is moved aside and put back.
class ProductFolder {
 public:
  enum class State { kMissing, kFolder, kPlainFile };

  explicit ProductFolder(State state) {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) || !*folder) {
      ADD_FAILURE() << "no all-users application-data folder";
      return;
    }
    path_ = std::wstring(folder) + L"\\Morva";
    if (test::Exists(path_)) {
      saved_ = path_ + L"-saved-" + std::to_wstring(GetCurrentProcessId());
      if (!MoveFileW(path_.c_str(), saved_.c_str())) {
        ADD_FAILURE() << "could not move the existing product folder aside, error " << GetLastError();
        saved_.clear();
        return;
      }
    }
    if (state == State::kFolder) {
      EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr));
    } else if (state == State::kPlainFile) {
      EXPECT_TRUE(test::WriteBytes(path_, "not a folder"));
    }
  }
  ~ProductFolder() {
    if (path_.empty()) return;
    test::RemoveTree(path_);
    DeleteFileW(path_.c_str());
    if (!saved_.empty()) MoveFileW(saved_.c_str(), path_.c_str());
  }
  ProductFolder(const ProductFolder&) = delete;
  ProductFolder& operator=(const ProductFolder&) = delete;

 private:
  std::wstring path_;
  std::wstring saved_;
};

// The query of every request, after checking that each one is a report as the program
// sends it: a GET of the report path on the report host, with "Connection: Close".
std::vector<std::string> ReportQueries(const std::vector<test::HttpRequest>& requests) {
  const std::string prefix = "GET http://" + test::Utf8(hosts::kReportHost) + "/feed/feedkb.php?";
  const std::string suffix = " HTTP/1.1";
  std::vector<std::string> queries;
  for (const test::HttpRequest& request : requests) {
    const std::string line = test::ProxiedRequestLine(request);
    EXPECT_EQ(0u, line.rfind(prefix, 0)) << line;
    EXPECT_TRUE(line.size() > prefix.size() + suffix.size() &&
                line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
        << line;
    EXPECT_EQ(test::Utf8(hosts::kReportHost), request.Header("Host"));
    EXPECT_EQ("Close", request.Header("Connection"));
    if (line.size() > prefix.size() + suffix.size())
      queries.push_back(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
  }
  std::sort(queries.begin(), queries.end());
  return queries;
}

std::string Query(const std::string& id, int action) { return "m=" + id + "&c=6&a=" + std::to_string(action); }

// Every run gets a recorder as its proxy and the identifier's key put back afterwards.
class ProgramTest : public testing::Test {
 protected:
  explicit ProgramTest(int status = 200)
      : recorder_(status), useRecorder_(L"http_proxy", recorder_.ProxyUrl().c_str()) {}

  void SetUp() override {
    ASSERT_TRUE(recorder_.listening());
    ASSERT_TRUE(test::WriteMachineIdValue(k32, REG_BINARY, kStoredId));
  }

  // The started program's main window, or null.
  static HWND MainWindowOf(const Process& program) {
    return program.started() ? program.WaitForWindow(test::kMainTitle, kStartMs) : nullptr;
  }

  // Ends the program with a command as its dialog gets it and returns the exit code.
  static DWORD CloseAndWait(const Process& program, HWND window, UINT message, WPARAM wParam) {
    EXPECT_TRUE(PostMessageW(window, message, wParam, 0));
    DWORD exitCode = 0xDEADBEEF;
    EXPECT_TRUE(program.WaitForEnd(10000, exitCode)) << "the program did not end";
    return exitCode;
  }

  test::MachineIdKeyGuard keyGuard_;
  test::HttpRecorder recorder_;
  test::ScopedEnvironment useRecorder_;
};

TEST_F(ProgramTest, WithTheProductFolderOnlyTheStartupReportIsSent) {
  // Another identifier in the 64-bit view, where a 64-bit program looks by default (in a
  // prefix with a single view the second write replaces it).
  ASSERT_TRUE(test::WriteMachineIdValue(k64, REG_BINARY, test::Sequence(0xA0, 0xB0)));
  ASSERT_TRUE(test::WriteMachineIdValue(k32, REG_BINARY, kStoredId));
  ProductFolder folder(ProductFolder::State::kFolder);

  Process program(test::ProgramPath());
  const HWND window = MainWindowOf(program);
  ASSERT_NE(nullptr, window) << "no main window";

  ASSERT_TRUE(recorder_.WaitForRequests(1, kReportMs));
  EXPECT_FALSE(recorder_.WaitForRequests(2, 2000)) << "a second report with the folder present";
  EXPECT_EQ(2u, CloseAndWait(program, window, WM_SYSCOMMAND, SC_CLOSE));

  // The identifier stored in the 32-bit view, which earlier 32-bit releases used.
  EXPECT_EQ(std::vector<std::string>{Query(kStoredIdText, 3)}, ReportQueries(recorder_.Requests()));
}

TEST_F(ProgramTest, WithoutTheProductFolderBothReportsAreSent) {
  // No identifier yet: the program makes one, in the 32-bit view, and reports with it.
  ASSERT_TRUE(test::DeleteMachineIdKey(k32));
  ASSERT_TRUE(test::DeleteMachineIdKey(k64));
  ProductFolder folder(ProductFolder::State::kMissing);

  Process program(test::ProgramPath());
  const HWND window = MainWindowOf(program);
  ASSERT_NE(nullptr, window) << "no main window";

  // Each report has a worker of its own: they arrive in either order.
  ASSERT_TRUE(recorder_.WaitForRequests(2, kReportMs));
  EXPECT_EQ(2u, CloseAndWait(program, window, WM_COMMAND, IDCANCEL));

  const test::StoredValue stored = test::ReadMachineIdValue(k32);
  ASSERT_TRUE(stored.valueExists);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
  ASSERT_EQ(16u, stored.bytes.size());
  const std::string id = test::Utf8(test::HexOf(stored.bytes));
  EXPECT_EQ((std::vector<std::string>{Query(id, 3), Query(id, 4)}), ReportQueries(recorder_.Requests()));
}

TEST_F(ProgramTest, APlainFileNamedMorvaCountsAsTheFolder) {
  ProductFolder folder(ProductFolder::State::kPlainFile);

  Process program(test::ProgramPath());
  const HWND window = MainWindowOf(program);
  ASSERT_NE(nullptr, window) << "no main window";

  ASSERT_TRUE(recorder_.WaitForRequests(1, kReportMs));
  EXPECT_FALSE(recorder_.WaitForRequests(2, 2000)) << "a second report with a file named Morva present";
  // The exit code is whatever ended the dialog: command 1 here.
  EXPECT_EQ(1u, CloseAndWait(program, window, WM_COMMAND, IDOK));
  EXPECT_EQ(std::vector<std::string>{Query(kStoredIdText, 3)}, ReportQueries(recorder_.Requests()));
}

TEST_F(ProgramTest, ArgumentsChangeNothing) {
  ProductFolder folder(ProductFolder::State::kMissing);

  Process program(test::ProgramPath(), L"/scan \"C:\\\" --quiet -1 /?");
  const HWND window = MainWindowOf(program);
  ASSERT_NE(nullptr, window) << "no main window";

  ASSERT_TRUE(recorder_.WaitForRequests(2, kReportMs));
  EXPECT_EQ(2u, CloseAndWait(program, window, WM_SYSCOMMAND, SC_CLOSE));
  EXPECT_EQ((std::vector<std::string>{Query(kStoredIdText, 3), Query(kStoredIdText, 4)}),
            ReportQueries(recorder_.Requests()));
}

// The full paths of the modules loaded in a running process, lower-cased.
std::vector<std::wstring> ModulesOf(const Process& program) {
  std::vector<std::wstring> paths;
  win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, program.id()));
  if (!snapshot) return paths;
  MODULEENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot.get(), &entry); more; more = Module32NextW(snapshot.get(), &entry)) {
    std::wstring path = entry.szExePath;
    CharLowerBuffW(path.data(), static_cast<DWORD>(path.size()));
    paths.push_back(path);
  }
  return paths;
}

// DLLs planted beside the program under the names of DLLs it uses, or that the DLLs it
// uses load by their bare names (comctl32 loads uxtheme.dll): it works as usual, loads none
// of them, and its dialogs still have the version 6 common controls.
TEST_F(ProgramTest, DllsPlantedBesideTheProgramAreNotLoaded) {
  ProductFolder folder(ProductFolder::State::kMissing);
  test::TempDir dir;
  const std::wstring exe = dir / L"MarrowFinchKiller.exe";
  ASSERT_TRUE(CopyFileW(test::ProgramPath().c_str(), exe.c_str(), FALSE));
  // Wine's own user32 imports version.dll, so Wine loads a version.dll beside any window
  // program before the program's first instruction; Windows' user32 doesn't.
  std::vector<std::wstring> planted{L"wininet.dll", L"uxtheme.dll", L"comctl32.dll"};
  if (!test::RunningUnderWine()) planted.push_back(L"version.dll");
  const std::wstring plantedDll = test::ExeDir() + L"fixtures\\planted.dll";
  for (const std::wstring& name : planted) ASSERT_TRUE(CopyFileW(plantedDll.c_str(), (dir / name).c_str(), FALSE));
  // The planted DLL does leave its trace when it is loaded.
  ASSERT_TRUE(CopyFileW(plantedDll.c_str(), (dir / L"probe.dll").c_str(), FALSE));
  FreeLibrary(LoadLibraryW((dir / L"probe.dll").c_str()));
  ASSERT_TRUE(test::Exists(dir / L"probe.dll.loaded"));

  // Native DLLs first, which Wine then looks for in the program's folder first, as Windows
  // does for DLLs that are not KnownDLLs. Wine reads WINEDLLOVERRIDES from the Unix
  // environment a process starts with, out of a Windows parent's reach; this per-program
  // key does the same.
  struct KeyRemover {
    ~KeyRemover() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\MarrowFinchKiller.exe"); }
  } removeKey;
  for (const wchar_t* dll : {L"version", L"wininet", L"uxtheme", L"comctl32"})
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\MarrowFinchKiller.exe\\DllOverrides",
                              dll, REG_SZ, L"native,builtin", 30));
  Process program(exe);
  ASSERT_TRUE(program.started());
  const HWND window = program.WaitForWindow(test::kMainTitle, kStartMs);
  ASSERT_NE(nullptr, window) << "no main window";
  ASSERT_TRUE(recorder_.WaitForRequests(2, kReportMs));

  // comctl32 comes from the version 6 Common-Controls assembly, as the manifest says.
  std::wstring comctl32;
  for (const std::wstring& path : ModulesOf(program))
    if (path.size() >= 13 && path.compare(path.size() - 13, 13, L"\\comctl32.dll") == 0) comctl32 = path;
  EXPECT_NE(std::wstring::npos, comctl32.find(L"\\winsxs\\")) << test::Utf8(comctl32);
  EXPECT_NE(std::wstring::npos, comctl32.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."))
      << test::Utf8(comctl32);

  EXPECT_EQ(2u, CloseAndWait(program, window, WM_SYSCOMMAND, SC_CLOSE));
  for (const std::wstring& name : planted) EXPECT_FALSE(test::Exists(dir / (name + L".loaded"))) << test::Utf8(name);
}

// A report server that takes the requests and never answers.
class ProgramWithSilentServerTest : public ProgramTest {
 protected:
  ProgramWithSilentServerTest() : ProgramTest(test::HttpRecorder::kNeverAnswer) {}
};

TEST_F(ProgramWithSilentServerTest, ClosingWhileReportsWaitForAnswersEndsAtOnce) {
  ProductFolder folder(ProductFolder::State::kMissing);

  Process program(test::ProgramPath());
  const HWND window = MainWindowOf(program);
  ASSERT_NE(nullptr, window) << "no main window";
  // Both reports are sent and wait for their answers when the user closes the dialog.
  ASSERT_TRUE(recorder_.WaitForRequests(2, kReportMs));

  const ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0));
  DWORD exitCode = 0;
  ASSERT_TRUE(program.WaitForEnd(kPromptEndMs, exitCode)) << "the program waited for its reports";
  EXPECT_LT(GetTickCount64() - start, kPromptEndMs);
  EXPECT_EQ(2u, exitCode);
}

// A restore under way when the program is closed, or killed: the copy is abandoned or cut
// off, the infected file and its copy stay as they were, and nothing is left beside them.
// Closing ends the program within three seconds.
class ProgramDuringACopyTest : public ProgramTest, public testing::WithParamInterface<bool> {};

TEST_P(ProgramDuringACopyTest, LeavesBothFilesAndNothingElse) {
  const bool kill = GetParam();
  ProductFolder folder(ProductFolder::State::kFolder);
  test::TempDir dir;
  // Long enough to take many seconds under Wine; sparse, so that only the program writes.
  constexpr uint64_t kCopyBytes = 4ull << 30;
  ULARGE_INTEGER free{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(dir.path().c_str(), &free, nullptr, nullptr));
  if (free.QuadPart < kCopyBytes + (256u << 20)) GTEST_SKIP() << "the test drive has less than 4 GiB free";
  const std::wstring big = dir.MakeDir(L"big") + L"\\";
  const std::wstring infected = dir.CopyFixture(L"marker_exact", L"big\\big.exe");
  {
    const win::FileHandle copy(
        CreateFileW((big + L"big.sql").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(kCopyBytes);
    ASSERT_TRUE(copy && SetFilePointerEx(copy.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(copy.get()));
  }
  const std::set<std::wstring> before = test::Names(big);

  Process program(test::ProgramPath());
  const HWND window = MainWindowOf(program);
  ASSERT_NE(nullptr, window) << "no main window";
  DWORD_PTR unused = 0;
  SendMessageTimeoutW(GetDlgItem(window, 1014), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(big.c_str()),
                      SMTO_ABORTIFHUNG, 5000, &unused);
  PostMessageW(GetDlgItem(window, 1008), BM_CLICK, 0, 0);
  // Under way: the new file has some of the copy's bytes (it is marked for deletion the
  // moment after it is made, before its first byte).
  const auto copying = [&] {
    for (const std::wstring& name : test::Names(big)) {
      WIN32_FILE_ATTRIBUTE_DATA data{};
      if (!before.count(name) && GetFileAttributesExW((big + name).c_str(), GetFileExInfoStandard, &data) &&
          (data.nFileSizeLow | data.nFileSizeHigh) != 0)
        return true;
    }
    return false;
  };
  ASSERT_TRUE(test::PumpUntil(copying, 60000)) << "the restore never began";

  const ULONGLONG start = GetTickCount64();
  DWORD exitCode = 0;
  if (kill) {
    ASSERT_TRUE(program.Kill());
  } else {
    EXPECT_TRUE(PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0));
  }
  ASSERT_TRUE(program.WaitForEnd(10000, exitCode));
  if (!kill) {
    const ULONGLONG elapsed = GetTickCount64() - start;
    std::printf("the program ended %llu ms after the close\n", elapsed);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_EQ(2u, exitCode);
  }
  EXPECT_TRUE(test::PumpUntil([&] { return test::Names(big) == before; }, 5000)) << "the new file was left behind";
  EXPECT_TRUE(test::ReadBytes(test::FixturePath(L"marker_exact")) == test::ReadBytes(infected));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW((big + L"big.sql").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(kCopyBytes, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

INSTANTIATE_TEST_SUITE_P(Ends, ProgramDuringACopyTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Killed" : "Closed"; });

// The program built without its resource script: the main dialog has no template.
TEST_F(ProgramTest, ADialogThatCannotOpenGivesExitCodeMinusOne) {
  ProductFolder folder(ProductFolder::State::kFolder);

  Process program(test::ExeDir() + L"program_without_dialogs.exe");
  ASSERT_TRUE(program.started());
  DWORD exitCode = 0;
  ASSERT_TRUE(program.WaitForEnd(kStartMs, exitCode));
  EXPECT_EQ(static_cast<DWORD>(-1), exitCode);
}

}  // namespace
