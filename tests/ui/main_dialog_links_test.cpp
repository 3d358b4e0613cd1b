// The main dialog's link labels and painted surface, driven by messages: the dialog runs
// as the program runs it, on a thread of its own.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "controls/dialog_surface.h"
#include "hosts.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialog_driver.h"
#include "tests/ui/worker_support.h"
#include "ui/resource.h"
#include "win/shell_open.h"

namespace {

using test::CommandSpy;
using test::Image;
using test::MainDialog;
using test::Point;
using test::Url;

HWND CaptureOf(const MainDialog& dialog) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog.hwnd(), nullptr), &info);
  return info.hwndCapture;
}

class MainDialogLinksTest : public testing::Test {
 protected:
  void SetUp() override { test::Runs::Forget(); }
  test::TempDir dir;
};

TEST_F(MainDialogLinksTest, TheThreeLinksTakeMouseInputAndNoOtherText) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  for (const int id : {IDC_LINK_TOPIC, IDC_LINK_SITE, IDC_LINK_COMMUNITY})
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog.hwnd(), id), GWL_STYLE) & SS_NOTIFY) << "link " << id;
  for (const int id : {IDC_PROGRESS, IDC_CURRENT_FILE, IDC_PROMPT})
    EXPECT_FALSE(GetWindowLongW(GetDlgItem(dialog.hwnd(), id), GWL_STYLE) & SS_NOTIFY) << "static " << id;
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// The press captures the mouse, so the release counts wherever it happens: each link
// opens its own page, and its command carries the id alone.
TEST_F(MainDialogLinksTest, PressOnALinkAndReleaseElsewhereOpensItsPage) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  const CommandSpy spy(dialog.hwnd());
  ASSERT_TRUE(spy.hooked());

  const int ids[] = {IDC_LINK_TOPIC, IDC_LINK_SITE, IDC_LINK_COMMUNITY};
  for (size_t i = 0; i < 3; ++i) {
    const HWND link = GetDlgItem(dialog.hwnd(), ids[i]);
    SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, Point(3, 3));
    EXPECT_EQ(link, CaptureOf(dialog)) << "link " << ids[i];
    EXPECT_TRUE(spy.CommandsFor(ids[i]).empty()) << "nothing opens on the press";
    SendMessageW(link, WM_LBUTTONUP, 0, Point(-250, 400));
    EXPECT_EQ(nullptr, CaptureOf(dialog));
    ASSERT_TRUE(opened.WaitFor(i + 1)) << "link " << ids[i];
    const std::vector<CommandSpy::Command> commands = spy.CommandsFor(ids[i]);
    ASSERT_EQ(1u, commands.size());
    EXPECT_EQ(static_cast<WPARAM>(ids[i]), commands[0].wParam);
    EXPECT_EQ(0, commands[0].lParam);
  }
  const std::vector<std::wstring> expected = {Url(hosts::kMainSite, L"/ztmf.html"), Url(hosts::kMainSite, L"/?s=1"),
                                              Url(hosts::kCommunity, L"/?s=1")};
  EXPECT_EQ(expected, opened.Lines());
  // The desktop's shell started the browser, as the signed-in user, not this process.
  EXPECT_EQ(std::vector<std::wstring>(3, L"explorer.exe"), opened.Parents());
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// Where the desktop's shell can't be reached, the page still opens, from this process as
// before. A thread without COM can't reach it; a real machine without Explorer can't be
// made in the shared test prefix.
TEST_F(MainDialogLinksTest, WithoutTheDesktopsShellThePageOpensFromThisProcess) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  bool throughShell = true;
  std::thread withoutCom([&] {
    throughShell = win::OpenThroughDesktopShell(Url(hosts::kMainSite, L"/?s=1"));
    win::OpenInBrowser(Url(hosts::kMainSite, L"/ztmf.html"));
  });
  withoutCom.join();
  EXPECT_FALSE(throughShell);
  ASSERT_TRUE(opened.WaitFor(1));
  EXPECT_EQ(std::vector<std::wstring>{Url(hosts::kMainSite, L"/ztmf.html")}, opened.Lines());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = wcsrchr(self, L'\\') + 1;
  CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
  EXPECT_EQ(std::vector<std::wstring>{name}, opened.Parents());
}

// A double click: the link fires on each of the two releases, and the static control
// under it reports the double click with its own handle; that report opens nothing.
TEST_F(MainDialogLinksTest, DoubleClickOpensThePageOncePerRelease) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  const CommandSpy spy(dialog.hwnd());
  ASSERT_TRUE(spy.hooked());
  const HWND link = GetDlgItem(dialog.hwnd(), IDC_LINK_SITE);

  SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, Point(2, 2));
  SendMessageW(link, WM_LBUTTONUP, 0, Point(2, 2));
  SendMessageW(link, WM_LBUTTONDBLCLK, MK_LBUTTON, Point(2, 2));
  SendMessageW(link, WM_LBUTTONUP, 0, Point(2, 2));
  // Every page the handlers opened was started before the sends returned.
  ASSERT_TRUE(opened.WaitFor(2));
  EXPECT_EQ(std::vector<std::wstring>(2, Url(hosts::kMainSite, L"/?s=1")), opened.Lines());

  const std::vector<CommandSpy::Command> commands = spy.CommandsFor(IDC_LINK_SITE);
  ASSERT_EQ(3u, commands.size());
  EXPECT_EQ(MAKEWPARAM(IDC_LINK_SITE, STN_DBLCLK), commands[1].wParam) << "the static's own report";
  EXPECT_EQ(reinterpret_cast<LPARAM>(link), commands[1].lParam);
  EXPECT_TRUE(test::Answers(dialog.hwnd()));
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

TEST_F(MainDialogLinksTest, HandCursorOverEveryLink) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  ASSERT_NE(nullptr, hand);
  for (const int id : {IDC_LINK_TOPIC, IDC_LINK_SITE, IDC_LINK_COMMUNITY}) {
    const HWND link = GetDlgItem(dialog.hwnd(), id);
    // The cursor is the dialog thread's, and any real WM_SETCURSOR that thread handles
    // (the pointer resting on the dialog, Wine's mouse move when a window appears) sets
    // it too: set, ask and read it within one call on that thread.
    LRESULT answer = 0;
    HCURSOR shown = nullptr;
    test::CallOnThreadOf(dialog.hwnd(), [&] {
      SetCursor(arrow);
      answer = SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
      shown = GetCursor();
    });
    EXPECT_EQ(1, answer) << "link " << id;
    EXPECT_EQ(hand, shown) << "link " << id;
  }
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

// The erase message paints the whole surface into the context it carries and yields 1:
// bands, separators, icon, title and logo, with no control drawn over them.
TEST_F(MainDialogLinksTest, EraseYieldsOneAndPaintsTheSurface) {
  MainDialog dialog;
  ASSERT_TRUE(dialog.hwnd());
  RECT client{};
  GetClientRect(dialog.hwnd(), &client);
  const int w = client.right;
  const int h = client.bottom;
  Image image(w, h);
  image.Fill(RGB(0, 200, 0));
  EXPECT_EQ(1, SendMessageW(dialog.hwnd(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(image.dc()), 0));

  // What the dialog draws, loaded the same way from the same resources.
  const HINSTANCE module = GetModuleHandleW(nullptr);
  const int iconSize = GetSystemMetrics(SM_CXICON);
  const HICON icon = static_cast<HICON>(
      LoadImageW(module, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, iconSize, GetSystemMetrics(SM_CYICON), 0));
  const HBITMAP logoBitmap = LoadBitmapW(module, MAKEINTRESOURCEW(IDB_LOGO));
  ASSERT_TRUE(icon);
  ASSERT_TRUE(logoBitmap);
  const Image logo = test::ImageOfBitmap(logoBitmap);
  Image iconOnBand(iconSize, GetSystemMetrics(SM_CYICON));
  iconOnBand.Fill(controls::kBandColour);
  DrawIcon(iconOnBand.dc(), 0, 0, icon);
  GdiFlush();

  const RECT iconRect = {10, 5, 10 + iconOnBand.width(), 5 + iconOnBand.height()};
  const RECT titleRect = {50, 0, w - 50, 40};
  const RECT logoRect = {w - 120, h - 33, w - 120 + logo.width(), h - 33 + logo.height()};
  test::PixelCheck check(image);
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const POINT p = {x, y};
      if (y == 40 || y == h - 40)
        check.Expect(x, y, RGB(0, 0, 0), "separator");
      else if (PtInRect(&iconRect, p))
        check.Expect(x, y, iconOnBand.At(x - iconRect.left, y - iconRect.top), "icon");
      else if (PtInRect(&logoRect, p))
        check.Expect(x, y, logo.At(x - logoRect.left, y - logoRect.top), "logo");
      else if (y < 40 && !PtInRect(&titleRect, p))
        check.Expect(x, y, controls::kBandColour, "top band");
      else if (y > h - 40)
        check.Expect(x, y, controls::kBandColour, "bottom band");
      else if (y > 40 && y < h - 40)
        check.Expect(x, y, face, "body");
    }
  }

  // The title: black, one line from x = 50, centred in the band's 40 rows.
  const RECT ink = image.Bounds(titleRect, [](COLORREF c) { return c == RGB(0, 0, 0); });
  ASSERT_LT(ink.left, ink.right) << "no title";
  EXPECT_LE(ink.left, 53);
  EXPECT_GT(ink.right - ink.left, 150) << "the whole title, in the 21-pixel font";
  EXPECT_NEAR(20, (ink.top + ink.bottom) / 2, 4);
  EXPECT_EQ(0, image.Count(titleRect, [](COLORREF c) { return c == RGB(0, 200, 0); })) << "band under the title";

  DeleteObject(logoBitmap);
  DestroyIcon(icon);
  EXPECT_EQ(2, dialog.CloseWithCloseBox());
}

}  // namespace
