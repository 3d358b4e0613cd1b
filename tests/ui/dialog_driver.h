// Drives the real dialogs in this process the way a user would. The dialog runs modally on
// a thread of its own, as the program runs it on its main thread; the test's thread finds
// its windows by title, posts clicks, keys and commands to them and reads their texts
// back with GetDlgItemText.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "win/handles.h"

namespace test {

inline constexpr wchar_t kMessageBoxTitle[] = L"Morva安全";

// What a window of a dialog thread looks like from outside (and test::WindowText).
std::wstring ItemText(HWND dialog, int id);
bool ItemVisible(HWND dialog, int id);
// A visible top-level dialog window of the thread with exactly this title; null if none.
HWND FindDialog(DWORD threadId, const std::wstring& title);
// The texts of a window's children, in their order.
std::vector<std::wstring> ChildTexts(HWND window);

// The header of a dialog template (DIALOGEX) in this executable's resources.
struct DialogTemplate {
  DWORD style = 0;
  int items = 0;
  short cx = 0, cy = 0;
  std::wstring title;
  WORD pointSize = 0, weight = 0;
  BYTE italic = 0, charset = 0;
  std::wstring face;
};
bool ReadDialogTemplate(int id, DialogTemplate& out);

// One control as a dialog shows it, in tab order: its rectangle is in dialog units
// (x, y, width, height); `required` style bits must all be set, and the bits under
// `typeMask` must equal `type`. A null text or a false checkSize leaves that out.
struct ExpectedControl {
  int id;
  const wchar_t* cls;
  const wchar_t* text;
  RECT dlu;
  DWORD required;
  DWORD typeMask;
  DWORD type;
  bool checkSize = true;
};
// Checks the dialog's children, in their order, against the list.
void ExpectControls(HWND dialog, const std::vector<ExpectedControl>& controls);
// The font the dialog's controls are drawn with.
LOGFONTW DialogFont(HWND dialog);

// A button press: the button takes the focus and tells its dialog, as under the mouse.
void Click(HWND dialog, int id);
// A key as the keyboard gives it to the window that has the focus.
void PressKey(HWND window, UINT key);
// True when the window's thread answers a message within the time.
bool Answers(HWND window, DWORD timeoutMs = 10000);
// Runs `call` on the window's own thread, inside one message sent to it: nothing else
// that thread handles (a real WM_SETCURSOR, say) comes between the call's steps.
void CallOnThreadOf(HWND window, const std::function<void()>& call);

// Runs a modal dialog on a thread of its own and counts, on that thread, the windows
// created with a given title and the ticks of timer 1 that its message loops deliver.
class DialogThread {
 public:
  // `run` is called on the new thread, which has COM initialised; its result is the
  // dialog's result.
  explicit DialogThread(std::function<INT_PTR()> run);
  ~DialogThread();
  DialogThread(const DialogThread&) = delete;
  DialogThread& operator=(const DialogThread&) = delete;

  DWORD threadId() const { return threadId_; }
  // Waits for a visible dialog with this title on the thread.
  HWND WaitForDialog(const std::wstring& title, DWORD timeoutMs = 20000) const;
  // Waits for the run to end and gives its result; nullopt-like -100 on time-out.
  INT_PTR WaitForEnd(DWORD timeoutMs = 20000);
  bool ended() const;

  // Windows created on the thread with this title so far.
  int Created(const std::wstring& title) const;
  // Timer ticks (WM_TIMER, id 1) that the thread's message loops took so far.
  int Ticks() const { return ticks_.load(); }
  // Waits until `count` more ticks of timer 1 have been delivered: a fixed point in the
  // dialog's life after which anything that a tick would do has been done.
  bool WaitForTicks(int count, DWORD timeoutMs = 20000) const;

 private:
  static unsigned __stdcall ThreadMain(void* self);
  static LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);

  std::function<INT_PTR()> run_;
  win::KernelHandle thread_;
  DWORD threadId_ = 0;
  std::atomic<INT_PTR> result_{-100};
  std::atomic<int> ticks_{0};
  mutable CRITICAL_SECTION lock_;
  std::vector<std::wstring> created_;
};

// The main dialog of the program on a thread of its own.
class MainDialog {
 public:
  MainDialog();
  HWND hwnd() const { return window_; }
  DialogThread& thread() { return thread_; }

  std::wstring Text(int id) const { return ItemText(window_, id); }
  bool Visible(int id) const { return ItemVisible(window_, id); }
  // Stands in for the folder browser, which alone sets the read-only path box.
  void SetPath(const std::wstring& path) const;
  void Click(int id) const { test::Click(window_, id); }
  // A command as the link labels send it: the id alone, no control handle.
  void Command(int id) const { PostMessageW(window_, WM_COMMAND, id, 0); }

  // Idle after a run: prompt "选择扫描目录：", path box and browse button shown,
  // current-file line hidden, button "开始查杀".
  bool IsIdleAfterRun() const;
  bool WaitForIdleAfterRun(DWORD timeoutMs = 20000) const;
  // The offer dialog, once it shows.
  HWND WaitForOffer(DWORD timeoutMs = 30000) const { return thread_.WaitForDialog(kOfferTitle, timeoutMs); }
  int Offers() const { return thread_.Created(kOfferTitle); }
  // Presses "取消" on the offer and waits until it has gone.
  bool DeclineOffer(HWND offer) const;
  // Ends the dialog with the close box and gives its result.
  INT_PTR CloseWithCloseBox();

 private:
  DialogThread thread_;
  HWND window_ = nullptr;
};

// Records, on the window's own thread, the WM_COMMAND messages sent to a window, as its
// procedure gets them: a link's command and a static control's own notifications alike.
// One spy at a time.
class CommandSpy {
 public:
  struct Command {
    WPARAM wParam;
    LPARAM lParam;
  };
  explicit CommandSpy(HWND window);
  ~CommandSpy();
  CommandSpy(const CommandSpy&) = delete;
  CommandSpy& operator=(const CommandSpy&) = delete;

  bool hooked() const { return hook_ != nullptr; }
  std::vector<Command> Commands() const;
  // The commands with this id in the low word.
  std::vector<Command> CommandsFor(int id) const;

 private:
  static LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam);
  HWND window_;
  HHOOK hook_ = nullptr;
  mutable CRITICAL_SECTION lock_;
  std::vector<Command> commands_;
};

// "http://<host><path>", a page as the program opens it.
inline std::wstring Url(const wchar_t* host, const wchar_t* path) { return std::wstring(L"http://") + host + path; }

// What the stand-in browser of the test prefix (tests/ui/url_recorder.c) records while the
// object lives: each URL the shell opens becomes one line of a file in `dir`, with the name
// of the program that started the browser. The browser started by the desktop's shell has
// the shell's environment, so the file is named in the registry, and one test at a time in
// the whole prefix records: the object waits for any other (a lock across processes).
class OpenedUrls {
 public:
  struct Opened {
    std::wstring url;
    // The browser's parent process: "explorer.exe" when the desktop's shell opened it.
    std::wstring parent;
  };
  explicit OpenedUrls(const std::wstring& dir);
  // Waits until no browser runs any more, then lets the next test record.
  ~OpenedUrls();
  OpenedUrls(const OpenedUrls&) = delete;
  OpenedUrls& operator=(const OpenedUrls&) = delete;
  // The handler of http URLs in the prefix is the recorder (scripts/test.sh registers it).
  static bool RecorderIsTheBrowser();
  bool recording() const { return recording_; }
  std::vector<Opened> Entries() const;
  // The URLs alone, in order.
  std::vector<std::wstring> Lines() const;
  // The browsers' parent processes alone, in order and lower-cased.
  std::vector<std::wstring> Parents() const;
  // Waits until `count` lines are there and every recorder has ended.
  bool WaitFor(size_t count, DWORD timeoutMs = 20000) const;
  // Waits until no recorder runs any more, whoever started it.
  static bool WaitForRecordersToEnd(DWORD timeoutMs = 20000);

 private:
  std::wstring path_;
  win::KernelHandle lock_;
  bool recording_ = false;
};

}  // namespace test
