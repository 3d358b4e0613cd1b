// What the tests share: per-test directories on the test drive, file helpers, fixture
// paths, a message pump for waits, and a stand-in for the main dialog's controls.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "win/handles.h"

namespace test {

// FindFirstFileW handles, closed with FindClose, for the tests' own listings.
struct FindHandleTraits {
  using pointer = HANDLE;
  static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(pointer h) noexcept { ::FindClose(h); }
};
using FindHandle = win::UniqueHandle<FindHandleTraits>;

// The program's window titles: tests find its windows by them.
inline constexpr wchar_t kMainTitle[] = L"Marrow Finch病毒专杀工具 - Morva安全系列产品";
inline constexpr wchar_t kOfferTitle[] = L"Marrow Finch病毒专杀工具";

// A call that Windows would refuse (tests/support/windows_rules.h) fails the test it was
// made in, unless the test expects refusals for as long as an ExpectRefusals lives.
void ReportRefusal(const std::string& message);
class ExpectRefusals {
 public:
  ExpectRefusals();
  ~ExpectRefusals();
  ExpectRefusals(const ExpectRefusals&) = delete;
  ExpectRefusals& operator=(const ExpectRefusals&) = delete;
  // The refusals since it began.
  long seen() const;

 private:
  long start_;
};

// Puts `now` into one entry of the door's table (win/os.h) for as long as it lives, to
// answer as a system Wine can't be would; what was there before is `previous`.
template <typename Fn>
class DoorEntry {
 public:
  DoorEntry(Fn& entry, Fn now) : entry_(entry), previous_(entry) { entry_ = now; }
  ~DoorEntry() { entry_ = previous_; }
  DoorEntry(const DoorEntry&) = delete;
  DoorEntry& operator=(const DoorEntry&) = delete;
  Fn previous() const { return previous_; }

 private:
  Fn& entry_;
  Fn previous_;
};

// True under Wine, for the cases where Wine is known to differ from Windows.
bool RunningUnderWine();

// Text as UTF-8: for messages, and for comparing with the narrow text of a protocol.
std::string Utf8(const std::wstring& text);
// Bytes that differ from one position to the next, different for each seed.
std::string Pattern(size_t size, unsigned seed);
// A mouse message's point, in client coordinates.
inline LPARAM Point(int x, int y) { return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)); }

// The folder of the running test executable, with a trailing backslash.
std::wstring ExeDir();
// The built program beside the tests, MarrowFinchKiller.exe.
std::wstring ProgramPath();
// A fixture executable built beside the tests ("marker_exact" -> ...\fixtures\marker_exact.exe).
std::wstring FixturePath(const std::wstring& name);

std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
DWORD Attributes(const std::wstring& path);
// The names in a folder (given with a trailing backslash), "." and ".." left out.
std::set<std::wstring> Names(const std::wstring& folder);
// Deletes a tree, whatever the attributes of its files.
void RemoveTree(const std::wstring& path);
// Visits every entry below dir (a path without a trailing backslash), depth first: a
// directory's files in the order its listing gives them, then each of its subdirectories
// (the directory itself, then what is below it), in the order listed or, with
// lastListedFirst, from the last one listed. Links to directories are visited, not entered.
void WalkTree(const std::wstring& dir, const std::function<void(const std::wstring& path, bool isDirectory)>& visit,
              bool lastListedFirst = false);

// Where a test puts what must be on a fixed drive of this machine (the process sweep opens
// no image from anywhere else).
inline constexpr wchar_t kOnFixedDrive[] = L"C:\\users\\Public\\";

// A directory of its own for one test, on the test drive T: (a drive of a non-fixed type,
// so an all-drives scan never walks it), removed with everything in it afterwards.
class TempDir {
 public:
  // `under` (with a trailing backslash) puts it elsewhere: on drive C:, for what must be on
  // a fixed drive.
  explicit TempDir(const std::wstring& under = L"");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory's path, with a trailing backslash.
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& relative) const { return path_ + relative; }
  // Makes a subdirectory (and its parents) and returns its path without trailing backslash.
  std::wstring MakeDir(const std::wstring& relative) const;
  // Writes a file and returns its path.
  std::wstring Write(const std::wstring& relative, const std::string& bytes) const;
  // Copies a fixture executable to a place in the directory and returns the path.
  std::wstring CopyFixture(const std::wstring& fixture, const std::wstring& relative) const;

 private:
  std::wstring path_;
};

// A window's whole text, however long; empty when it has none or is gone.
std::wstring WindowText(HWND window);

// Whether the window stands centred on the rectangle, halves truncated, as the dialog
// manager centres it; and the work area, where a window without owner is centred.
testing::AssertionResult CentredOn(HWND window, const RECT& on);
RECT WorkArea();

// Dispatches this thread's messages until the handle is signalled or the time is up, so
// that the thread's windows answer the calls of the thread it waits for. True when the
// handle was signalled; false also when a quit message cut the wait short, which is then
// posted again for the loop outside.
bool PumpUntilSignalled(HANDLE handle, DWORD timeoutMs);
// Dispatches messages until the condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);

}  // namespace test
