#include "win/dialog.h"

#include <process.h>

#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "win/handles.h"

namespace {

constexpr UINT kRunChecks = WM_APP;
constexpr UINT kAnswer = WM_APP + 1;

// Records what reaches its dispatch, and runs the checks from inside its own modal loop.
class CProbeDlg : public win::CDialogImpl<CProbeDlg> {
 public:
  enum { IDD = 100 };

  std::vector<UINT> dispatched;
  HWND windowAtInit = nullptr;
  HWND ownerAtInit = nullptr;
  LRESULT answer = 0, defaultId = 0, ctlColor = 0;
  std::wstring caption;
  HWND finalWindow = nullptr;

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM, LPARAM, LRESULT& result) override {
    dispatched.push_back(message);
    switch (message) {
      case WM_INITDIALOG:
        windowAtInit = m_hWnd;
        ownerAtInit = GetWindow(window, GW_OWNER);
        PostMessageW(window, kRunChecks, 0, 0);
        result = TRUE;
        return true;
      case kRunChecks:
        answer = SendMessageW(window, kAnswer, 0, 0);           // handled: the result set here
        defaultId = SendMessageW(window, DM_GETDEFID, 0, 0);    // not handled: the system's handling
        ctlColor = SendMessageW(window, WM_CTLCOLORDLG, 0, 0);  // handled, returned directly
        caption = test::WindowText(window);
        EndDialog(77);
        result = 0;
        return true;
      case kAnswer:
        result = 42;
        return true;
      case WM_CTLCOLORDLG:
        result = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
        return true;
      case WM_NCDESTROY:
        finalWindow = window;
        return false;
    }
    return false;
  }
};

class CMissingDlg : public win::CDialogImpl<CMissingDlg> {
 public:
  enum { IDD = 999 };
  bool ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
};

TEST(DialogTest, BindsAtInitDialogAndDispatchesThroughTheClass) {
  CProbeDlg dialog;
  EXPECT_EQ(77, dialog.DoModal(nullptr));
  ASSERT_FALSE(dialog.dispatched.empty());
  EXPECT_EQ(static_cast<UINT>(WM_INITDIALOG), dialog.dispatched.front()) << "nothing reaches the object before";
  EXPECT_TRUE(dialog.windowAtInit);
  EXPECT_EQ(nullptr, dialog.ownerAtInit);
  EXPECT_EQ(42, dialog.answer);
  EXPECT_EQ(MAKELONG(IDOK, DC_HASDEFID), dialog.defaultId);
  EXPECT_EQ(reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)), dialog.ctlColor);
  EXPECT_EQ(L"probe dialog", dialog.caption);
  EXPECT_EQ(dialog.windowAtInit, dialog.finalWindow);
  EXPECT_EQ(nullptr, dialog.m_hWnd) << "unbound once the window is gone";
}

TEST(DialogTest, OwnedByTheWindowItIsGiven) {
  const HWND active = CreateWindowExW(0, L"STATIC", L"active", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 400, 300,
                                      nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(active);
  SetActiveWindow(active);
  ASSERT_EQ(active, GetActiveWindow());
  CProbeDlg dialog;
  EXPECT_EQ(77, dialog.DoModal(GetActiveWindow()));
  EXPECT_EQ(active, dialog.ownerAtInit);
  DestroyWindow(active);
}

TEST(DialogTest, MissingTemplateGivesMinusOne) {
  CMissingDlg dialog;
  EXPECT_EQ(-1, dialog.DoModal(nullptr));
}

TEST(PumpUntilSignalledTest, AnswersCallsFromTheThreadItWaitsFor) {
  const HWND window =
      CreateWindowExW(0, L"STATIC", L"before", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  // The thread ends only once this thread has taken its text: a wait that doesn't
  // dispatch would never end.
  win::KernelHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(
      nullptr, 0, [](void* w) -> unsigned { return SetWindowTextW(static_cast<HWND>(w), L"after") ? 0 : 1; }, window, 0,
      nullptr)));
  ASSERT_TRUE(thread);
  EXPECT_TRUE(test::PumpUntilSignalled(thread.get(), INFINITE));
  EXPECT_EQ(L"after", test::WindowText(window));
  DestroyWindow(window);
}

TEST(PumpUntilSignalledTest, AQuitMessageEndsTheWaitAndStaysForTheOuterLoop) {
  win::KernelHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  PostQuitMessage(3);
  EXPECT_FALSE(test::PumpUntilSignalled(never.get(), INFINITE));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(3u, msg.wParam);
}

}  // namespace
