#include "tests/ui/dialog_driver.h"

#include "tests/ui/worker_support.h"

#include <objbase.h>
#include <process.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "ui/main_dlg.h"
#include "ui/resource.h"

namespace test {

std::wstring ItemText(HWND dialog, int id) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(dialog, id, text, 1024);
  return text;
}

bool ItemVisible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

namespace {

struct FindRequest {
  const std::wstring* title;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* request = reinterpret_cast<FindRequest*>(param);
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (IsWindowVisible(window) && std::wstring(cls) == L"#32770" && WindowText(window) == *request->title) {
    request->found = window;
    return FALSE;
  }
  return TRUE;
}

thread_local DialogThread* tDialogThread = nullptr;

}  // namespace

HWND FindDialog(DWORD threadId, const std::wstring& title) {
  FindRequest request{&title, nullptr};
  EnumThreadWindows(threadId, MatchDialog, reinterpret_cast<LPARAM>(&request));
  return request.found;
}

std::vector<std::wstring> ChildTexts(HWND window) {
  std::vector<std::wstring> texts;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    texts.push_back(WindowText(child));
  return texts;
}

namespace {

// A name or an ordinal in a dialog template: 0 (none), 0xFFFF and a WORD, or a string.
const WORD* SkipNameOrOrdinal(const WORD* at) {
  if (*at == 0xFFFF) return at + 2;
  while (*at) ++at;
  return at + 1;
}

}  // namespace

bool ReadDialogTemplate(int id, DialogTemplate& out) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
  if (!found) return false;
  const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  if (!data) return false;
  const auto word = [&](size_t offset) { return *reinterpret_cast<const WORD*>(data + offset); };
  if (word(0) != 1 || word(2) != 0xFFFF) return false;  // not a DIALOGEX
  out.style = *reinterpret_cast<const DWORD*>(data + 12);
  out.items = word(16);
  out.cx = static_cast<short>(word(22));
  out.cy = static_cast<short>(word(24));
  const WORD* at = reinterpret_cast<const WORD*>(data + 26);
  at = SkipNameOrOrdinal(at);  // menu
  at = SkipNameOrOrdinal(at);  // class
  out.title = reinterpret_cast<const wchar_t*>(at);
  at += out.title.size() + 1;
  if (out.style & DS_SETFONT) {
    out.pointSize = at[0];
    out.weight = at[1];
    out.italic = static_cast<BYTE>(at[2] & 0xFF);
    out.charset = static_cast<BYTE>(at[2] >> 8);
    out.face = reinterpret_cast<const wchar_t*>(at + 3);
  }
  return true;
}

void ExpectControls(HWND dialog, const std::vector<ExpectedControl>& controls) {
  HWND child = GetWindow(dialog, GW_CHILD);
  for (const ExpectedControl& control : controls) {
    ASSERT_TRUE(child) << "missing control " << control.id;
    SCOPED_TRACE(testing::Message() << "control " << control.id << " "
                                    << testing::PrintToString(control.text ? control.text : L""));
    EXPECT_EQ(control.id, GetDlgCtrlID(child));
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    EXPECT_EQ(0, lstrcmpiW(control.cls, cls)) << "class";
    if (control.text) {
      EXPECT_EQ(control.text, WindowText(child));
    }
    // The dialog manager converts each of x, y, width and height on its own.
    RECT expected = control.dlu;
    MapDialogRect(dialog, &expected);
    RECT actual{};
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(expected.left, actual.left);
    EXPECT_EQ(expected.top, actual.top);
    if (control.checkSize) {
      EXPECT_EQ(expected.right, actual.right - actual.left);
      EXPECT_EQ(expected.bottom, actual.bottom - actual.top);
    }
    DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    // An edit control trades the template's WS_BORDER for a client edge when it is created.
    if (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) style |= WS_BORDER;
    EXPECT_EQ(control.required, style & control.required) << "style " << std::hex << style;
    EXPECT_EQ(control.type, style & control.typeMask) << "style " << std::hex << style;
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_FALSE(child) << "more controls than the template has";
}

LOGFONTW DialogFont(HWND dialog) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

void Click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void PressKey(HWND window, UINT key) {
  PostMessageW(window, WM_KEYDOWN, key, 1);
  PostMessageW(window, WM_KEYUP, key, 0xC0000001);
}

bool Answers(HWND window, DWORD timeoutMs) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
}

namespace {

UINT CallMessage() {
  static const UINT message = RegisterWindowMessageW(L"mfk-test-call");
  return message;
}

LRESULT CALLBACK CallHook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == CallMessage())
    (*reinterpret_cast<const std::function<void()>*>(sent->lParam))();
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void CallOnThreadOf(HWND window, const std::function<void()>& call) {
  // The hook runs on the thread that receives the message, before the window's procedure
  // (which ignores the message); a hook on another thread of this process needs no module.
  const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &CallHook, nullptr, GetWindowThreadProcessId(window, nullptr));
  if (!hook) {
    ADD_FAILURE() << "no hook on the window's thread, error " << GetLastError();
    return;
  }
  SendMessageW(window, CallMessage(), 0, reinterpret_cast<LPARAM>(&call));
  UnhookWindowsHookEx(hook);
}

DialogThread::DialogThread(std::function<INT_PTR()> run) : run_(std::move(run)) {
  InitializeCriticalSection(&lock_);
  unsigned id = 0;
  thread_.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ThreadMain, this, 0, &id)));
  threadId_ = id;
}

DialogThread::~DialogThread() {
  // A test that failed half-way leaves windows open: close them all, as often as needed,
  // until the run has ended (the main window waits for its worker first).
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (thread_ && WaitForSingleObject(thread_.get(), 100) == WAIT_TIMEOUT && GetTickCount64() < deadline) {
    EnumThreadWindows(
        threadId_,
        [](HWND window, LPARAM) {
          if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
          return TRUE;
        },
        0);
  }
  if (thread_ && WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT) {
    ADD_FAILURE() << "the dialog's thread did not end";
    thread_.release();  // leave it; the process ends with the test
  }
  DeleteCriticalSection(&lock_);
}

unsigned __stdcall DialogThread::ThreadMain(void* param) {
  auto* self = static_cast<DialogThread*>(param);
  tDialogThread = self;
  CoInitialize(nullptr);
  const HHOOK cbt = SetWindowsHookExW(WH_CBT, &CbtHook, nullptr, GetCurrentThreadId());
  const HHOOK messages = SetWindowsHookExW(WH_GETMESSAGE, &GetMessageHook, nullptr, GetCurrentThreadId());
  self->result_ = self->run_();
  UnhookWindowsHookEx(messages);
  UnhookWindowsHookEx(cbt);
  CoUninitialize();
  return 0;
}

LRESULT CALLBACK DialogThread::CbtHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && tDialogThread) {
    const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
    if (create->lpcs && create->lpcs->lpszName && !IS_INTRESOURCE(create->lpcs->lpszName)) {
      EnterCriticalSection(&tDialogThread->lock_);
      tDialogThread->created_.push_back(create->lpcs->lpszName);
      LeaveCriticalSection(&tDialogThread->lock_);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK DialogThread::GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* msg = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_TIMER && msg->wParam == 1 && tDialogThread)
    ++tDialogThread->ticks_;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

HWND DialogThread::WaitForDialog(const std::wstring& title, DWORD timeoutMs) const {
  HWND found = nullptr;
  PumpUntil([&] { return (found = FindDialog(threadId_, title)) != nullptr || ended(); }, timeoutMs);
  return found;
}

bool DialogThread::ended() const { return !thread_ || WaitForSingleObject(thread_.get(), 0) != WAIT_TIMEOUT; }

INT_PTR DialogThread::WaitForEnd(DWORD timeoutMs) {
  if (!PumpUntilSignalled(thread_.get(), timeoutMs)) return -100;
  return result_.load();
}

int DialogThread::Created(const std::wstring& title) const {
  EnterCriticalSection(&lock_);
  int count = 0;
  for (const std::wstring& name : created_)
    if (name == title) ++count;
  LeaveCriticalSection(&lock_);
  return count;
}

bool DialogThread::WaitForTicks(int count, DWORD timeoutMs) const {
  const int target = ticks_.load() + count;
  return PumpUntil([&] { return ticks_.load() >= target; }, timeoutMs);
}

MainDialog::MainDialog()
    : thread_([] {
        ui::CMainDlg dialog(Runs::Setup());
        const INT_PTR result = dialog.DoModal(GetActiveWindow());
        Runs::DialogEnded(dialog.WorkerStillRunning());
        return result;
      }) {
  window_ = thread_.WaitForDialog(kMainTitle);
  if (!window_) ADD_FAILURE() << "the main dialog did not show";
}

void MainDialog::SetPath(const std::wstring& path) const {
  SetDlgItemTextW(window_, IDC_PATH, path.c_str());
  // A scan of anything but the test's own directory could touch the build folder.
  if (Text(IDC_PATH) != path) {
    ADD_FAILURE() << "the path box did not take the whole path";
    abort();
  }
}

bool MainDialog::IsIdleAfterRun() const {
  return Text(IDC_PROMPT) == L"选择扫描目录：" && Visible(IDC_PATH) && Visible(IDC_BROWSE) &&
         !Visible(IDC_CURRENT_FILE) && Text(IDC_START_STOP) == L"开始查杀";
}

bool MainDialog::WaitForIdleAfterRun(DWORD timeoutMs) const {
  return PumpUntil([&] { return IsIdleAfterRun(); }, timeoutMs);
}

bool MainDialog::DeclineOffer(HWND offer) const {
  test::Click(offer, IDCANCEL);
  return PumpUntil([&] { return !IsWindow(offer); }, 10000);
}

INT_PTR MainDialog::CloseWithCloseBox() {
  PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
  return thread_.WaitForEnd(60000);
}

namespace {
CommandSpy* gSpy = nullptr;
}  // namespace

CommandSpy::CommandSpy(HWND window) : window_(window) {
  InitializeCriticalSection(&lock_);
  gSpy = this;
  // A hook on another thread of this process needs no module.
  hook_ = SetWindowsHookExW(WH_CALLWNDPROC, &CallWndProc, nullptr, GetWindowThreadProcessId(window, nullptr));
}

CommandSpy::~CommandSpy() {
  if (hook_) UnhookWindowsHookEx(hook_);
  gSpy = nullptr;
  DeleteCriticalSection(&lock_);
}

LRESULT CALLBACK CommandSpy::CallWndProc(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  CommandSpy* spy = gSpy;
  if (code == HC_ACTION && spy && sent->message == WM_COMMAND && sent->hwnd == spy->window_) {
    EnterCriticalSection(&spy->lock_);
    spy->commands_.push_back({sent->wParam, sent->lParam});
    LeaveCriticalSection(&spy->lock_);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<CommandSpy::Command> CommandSpy::Commands() const {
  EnterCriticalSection(&lock_);
  std::vector<Command> copy = commands_;
  LeaveCriticalSection(&lock_);
  return copy;
}

std::vector<CommandSpy::Command> CommandSpy::CommandsFor(int id) const {
  std::vector<Command> matching;
  for (const Command& command : Commands())
    if (LOWORD(command.wParam) == id) matching.push_back(command);
  return matching;
}

namespace {

constexpr wchar_t kRecorderKey[] = L"Software\\MarrowFinchTests";
constexpr wchar_t kRecorderLogValue[] = L"UrlLog";
// Tests of several executables run at once: whoever holds this records.
constexpr wchar_t kRecorderLock[] = L"MarrowFinchTests.UrlLog";
// Long enough for another test's whole run with its pages.
constexpr DWORD kRecorderLockMs = 60000;

}  // namespace

OpenedUrls::OpenedUrls(const std::wstring& dir) : path_(dir + L"opened-urls.txt") {
  lock_.reset(CreateMutexW(nullptr, FALSE, kRecorderLock));
  const DWORD waited = lock_ ? WaitForSingleObject(lock_.get(), kRecorderLockMs) : WAIT_FAILED;
  // An abandoned lock is ours too: its holder ended without handing it back.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    ADD_FAILURE() << "another test kept the stand-in browser's log for a minute";
    return;
  }
  recording_ = true;
  const DWORD bytes = static_cast<DWORD>((path_.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(ERROR_SUCCESS,
            RegSetKeyValueW(HKEY_CURRENT_USER, kRecorderKey, kRecorderLogValue, REG_SZ, path_.c_str(), bytes));
}

OpenedUrls::~OpenedUrls() {
  if (!recording_) return;
  // A browser still starting would write into the next test's log.
  WaitForRecordersToEnd();
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRecorderKey, kRecorderLogValue);
  ReleaseMutex(lock_.get());
}

bool OpenedUrls::RecorderIsTheBrowser() {
  wchar_t command[1024] = {};
  DWORD size = sizeof command;
  if (RegGetValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", nullptr, RRF_RT_REG_SZ, nullptr, command, &size) !=
      ERROR_SUCCESS)
    return false;
  return std::wstring(command).find(L"url_recorder.exe") != std::wstring::npos;
}

std::vector<OpenedUrls::Opened> OpenedUrls::Entries() const {
  const std::string bytes = ReadBytes(path_);
  std::vector<Opened> entries;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(start, end - start);
    std::wstring wide(line.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    const size_t tab = wide.find(L'\t');
    entries.push_back({wide.substr(0, tab), tab == std::wstring::npos ? L"" : wide.substr(tab + 1)});
    start = end + 1;
  }
  return entries;
}

std::vector<std::wstring> OpenedUrls::Lines() const {
  std::vector<std::wstring> urls;
  for (const Opened& opened : Entries()) urls.push_back(opened.url);
  return urls;
}

std::vector<std::wstring> OpenedUrls::Parents() const {
  std::vector<std::wstring> parents;
  for (Opened& opened : Entries()) {
    CharLowerBuffW(opened.parent.data(), static_cast<DWORD>(opened.parent.size()));
    parents.push_back(opened.parent);
  }
  return parents;
}

bool OpenedUrls::WaitFor(size_t count, DWORD timeoutMs) const {
  return PumpUntil([&] { return Entries().size() >= count; }, timeoutMs) && WaitForRecordersToEnd(timeoutMs);
}

bool OpenedUrls::WaitForRecordersToEnd(DWORD timeoutMs) {
  const auto anyRunning = [] {
    // Like CreateFileW, the snapshot reports failure as INVALID_HANDLE_VALUE.
    win::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return true;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      if (lstrcmpiW(entry.szExeFile, L"url_recorder.exe") == 0) return true;
    }
    return false;
  };
  return PumpUntil([&] { return !anyRunning(); }, timeoutMs);
}

}  // namespace test
