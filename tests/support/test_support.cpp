#include "tests/support/test_support.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <utility>

#include <gtest/gtest.h>

#include "win/handles.h"

namespace test {

namespace {
std::atomic<int> gExpecting{0};
std::atomic<long> gExpectedRefusals{0};
}  // namespace

void ReportRefusal(const std::string& message) {
  if (gExpecting.load() > 0) {
    ++gExpectedRefusals;
    return;
  }
  ADD_FAILURE() << message;
}

ExpectRefusals::ExpectRefusals() : start_(gExpectedRefusals.load()) { ++gExpecting; }
ExpectRefusals::~ExpectRefusals() { --gExpecting; }
long ExpectRefusals::seen() const { return gExpectedRefusals.load() - start_; }

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Utf8(const std::wstring& text) {
  std::string out(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                                          nullptr, 0, nullptr, nullptr)),
                  '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), static_cast<int>(out.size()),
                      nullptr, nullptr);
  return out;
}

std::wstring ExeDir() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring ProgramPath() { return ExeDir() + L"MarrowFinchKiller.exe"; }

std::wstring FixturePath(const std::wstring& name) { return ExeDir() + L"fixtures\\" + name + L".exe"; }

std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return bytes;
}

std::string ReadBytes(const std::wstring& path) {
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

void WalkTree(const std::wstring& dir, const std::function<void(const std::wstring&, bool)>& visit,
              bool lastListedFirst) {
  WIN32_FIND_DATAW entry;
  test::FindHandle listing(FindFirstFileW((dir + L"\\*").c_str(), &entry));
  if (!listing) return;
  std::vector<std::pair<std::wstring, bool>> subdirs;  // path, and whether to enter it
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      subdirs.emplace_back(dir + L"\\" + name, !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT));
    else
      visit(dir + L"\\" + name, false);
  } while (FindNextFileW(listing.get(), &entry));
  listing.reset();  // one listing open at a time
  if (lastListedFirst) std::reverse(subdirs.begin(), subdirs.end());
  for (const auto& [path, enter] : subdirs) {
    visit(path, true);
    if (enter) WalkTree(path, visit, lastListedFirst);
  }
}

std::set<std::wstring> Names(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW entry;
  test::FindHandle listing(FindFirstFileW((folder + L"*").c_str(), &entry));
  if (!listing) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.insert(name);
  } while (FindNextFileW(listing.get(), &entry));
  return names;
}

void RemoveTree(const std::wstring& path) {
  // On the \\?\ form, so that names Win32 would trim (such as "...") go too.
  std::wstring full = path;
  while (!full.empty() && full.back() == L'\\') full.pop_back();
  if (full.compare(0, 4, L"\\\\?\\") != 0) full = L"\\\\?\\" + full;
  // Everything below, a directory before what it holds; deleted the other way round.
  std::vector<std::pair<std::wstring, bool>> entries;
  WalkTree(full, [&](const std::wstring& entry, bool isDirectory) { entries.emplace_back(entry, isDirectory); });
  entries.emplace_back(full, true);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    SetFileAttributesW(it->first.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (it->second)
      RemoveDirectoryW(it->first.c_str());
    else
      DeleteFileW(it->first.c_str());
  }
}

namespace {

std::wstring TestRoot() {
  // The test drive when the prefix has one; the temp folder when run elsewhere.
  if (GetDriveTypeW(L"T:\\") > DRIVE_NO_ROOT_DIR) {
    CreateDirectoryW(L"T:\\tmp", nullptr);
    return L"T:\\tmp\\";
  }
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return temp;
}

std::wstring Widen(const char* text) {
  std::wstring wide;
  for (; text && *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

}  // namespace

TempDir::TempDir(const std::wstring& under) {
  static std::atomic<int> counter{0};
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::wstring name = info ? Widen(info->test_suite_name()) + L"." + Widen(info->name()) : L"test";
  for (wchar_t& c : name)
    if (c == L'/') c = L'_';
  path_ = (under.empty() ? TestRoot() : under) + name + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++counter);
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
  path_ += L'\\';
}

TempDir::~TempDir() { RemoveTree(path_); }

std::wstring TempDir::MakeDir(const std::wstring& relative) const {
  std::wstring full = path_;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find(L'\\', start);
    if (end == std::wstring::npos) end = relative.size();
    full += relative.substr(start, end - start);
    CreateDirectoryW(full.c_str(), nullptr);
    if (end == relative.size()) break;
    full += L'\\';
    start = end + 1;
  }
  return full;
}

std::wstring TempDir::Write(const std::wstring& relative, const std::string& bytes) const {
  const std::wstring full = path_ + relative;
  EXPECT_TRUE(WriteBytes(full, bytes)) << "could not write a test file";
  return full;
}

std::wstring TempDir::CopyFixture(const std::wstring& fixture, const std::wstring& relative) const {
  const std::wstring full = path_ + relative;
  EXPECT_TRUE(CopyFileW(FixturePath(fixture).c_str(), full.c_str(), FALSE))
      << "copying a fixture failed, error " << GetLastError();
  return full;
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

testing::AssertionResult CentredOn(HWND window, const RECT& on) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const LONG left = (on.left + on.right) / 2 - (rect.right - rect.left) / 2;
  const LONG top = (on.top + on.bottom) / 2 - (rect.bottom - rect.top) / 2;
  if (rect.left == left && rect.top == top) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "at (" << rect.left << ", " << rect.top << "), centred at (" << left << ", "
                                     << top << ")";
}

RECT WorkArea() {
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

bool PumpUntilSignalled(HANDLE handle, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    const DWORD result =
        MsgWaitForMultipleObjectsEx(1, &handle, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0) return true;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return condition();
    // Wake at least every 10 ms to look at the condition again.
    MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

}  // namespace test
