// The main dialog as it comes out on the screen, driven with the real pointer. These run
// alone: they move the pointer and need the dialog uncovered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hosts.h"
#include "tests/support/pixels.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialog_driver.h"
#include "tests/ui/surface_check.h"
#include "tests/ui/worker_support.h"
#include "ui/resource.h"
#include "win/dpi.h"

namespace {

using test::BlueIn;
using test::ChildRect;
using test::CommandSpy;
using test::Image;
using test::MainDialog;
using test::RedIn;
using test::ScreenCentre;
using test::Url;

POINT ScreenPoint(HWND window, int x, int y) {
  POINT point = {x, y};
  ClientToScreen(window, &point);
  return point;
}

class MainDialogScreenTest : public testing::Test {
 protected:
  void SetUp() override {
    test::Runs::Forget();
    ASSERT_TRUE(dialog.hwnd());
    MovePointer({0, 0});  // no link under the pointer
    // Nothing covers it: the window under its centre is the dialog's.
    ASSERT_TRUE(test::Uncovered(dialog.hwnd()));
  }
  void TearDown() override {
    MovePointer({0, 0});
    EXPECT_EQ(2, dialog.CloseWithCloseBox());
  }

  // The pointer moved and pressed from the dialog's own thread. Wine's X11 driver drops the
  // motion events of its thread's earlier warps; the events of another thread's warps it
  // takes as real moves, whenever the dialog's thread gets to them, and on a busy machine
  // that can be after the next move, putting a press back where the pointer was before.
  void MovePointer(POINT to) {
    test::CallOnThreadOf(dialog.hwnd(), [to] { test::MovePointer(to); });
  }
  void Button(DWORD flags) {
    test::CallOnThreadOf(dialog.hwnd(), [flags] { test::Button(flags); });
  }

  test::TempDir dir;
  MainDialog dialog;
};

TEST_F(MainDialogScreenTest, TheSurfaceAndTheLinksAsTheUserSeesThem) {
  const HWND window = dialog.hwnd();
  // The whole window with its caption, for the README and for a look by eye.
  EXPECT_TRUE(test::SaveScreenshot(test::CaptureWindow(window, true), L"main_dialog"));
  // At the test prefix's 96 DPI; MainDialogDpiTest starts the program at others.
  ASSERT_EQ(96u, win::DpiForWindow(window));
  test::ExpectMainDialogSurface(window, test::CaptureWindow(window), 96, GetModuleHandleW(nullptr));
}

TEST_F(MainDialogScreenTest, ALinkTurnsRedUnderThePointerAndBlueWhenItLeaves) {
  const HWND window = dialog.hwnd();
  const RECT topic = ChildRect(window, IDC_LINK_TOPIC);
  const RECT site = ChildRect(window, IDC_LINK_SITE);
  const POINT over = ScreenPoint(window, topic.left + 20, (topic.top + topic.bottom) / 2);

  MovePointer(over);
  Image image(1, 1);
  ASSERT_TRUE(test::PumpUntil(
      [&] {
        image = test::CaptureWindow(window);
        return RedIn(image, topic) > 15;
      },
      10000))
      << "the link did not turn red under the pointer";
  EXPECT_EQ(0, BlueIn(image, topic));
  EXPECT_GT(BlueIn(image, site), 15) << "the other links stay blue";
  EXPECT_EQ(0, RedIn(image, site));

  // Off the link, onto the body: leave-tracking reports it and the text is blue again.
  MovePointer(ScreenPoint(window, topic.left + 20, topic.top - 30));
  ASSERT_TRUE(test::PumpUntil(
      [&] {
        image = test::CaptureWindow(window);
        return BlueIn(image, topic) > 15;
      },
      10000))
      << "the link stayed red after the pointer left";
  EXPECT_EQ(0, RedIn(image, topic));
}

TEST_F(MainDialogScreenTest, RealClicksOpenTheLinksPages) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  const HWND window = dialog.hwnd();
  const CommandSpy spy(window);
  ASSERT_TRUE(spy.hooked());
  RECT client{};
  GetClientRect(window, &client);
  const POINT site = ScreenCentre(GetDlgItem(window, IDC_LINK_SITE));
  const POINT community = ScreenCentre(GetDlgItem(window, IDC_LINK_COMMUNITY));
  const POINT body = ScreenPoint(window, client.right - 20, client.bottom / 2 + 20);
  const POINT band = ScreenPoint(window, client.right / 2, client.bottom - 10);

  // Pressed on a link, dragged onto the body, released there.
  MovePointer(site);
  Button(MOUSEEVENTF_LEFTDOWN);
  MovePointer(body);
  Button(MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(opened.WaitFor(1));
  EXPECT_EQ(std::vector<std::wstring>{Url(hosts::kMainSite, L"/?s=1")}, opened.Lines());

  // Pressed on the band, moved onto a link, released there.
  MovePointer(band);
  Button(MOUSEEVENTF_LEFTDOWN);
  MovePointer(community);
  Button(MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(opened.WaitFor(2));
  EXPECT_EQ(Url(hosts::kCommunity, L"/?s=1"), opened.Lines().at(1));
  for (const int id : {IDC_LINK_SITE, IDC_LINK_COMMUNITY}) {
    const std::vector<CommandSpy::Command> commands = spy.CommandsFor(id);
    ASSERT_EQ(1u, commands.size()) << "link " << id;
    EXPECT_EQ(static_cast<WPARAM>(id), commands[0].wParam);
    EXPECT_EQ(0, commands[0].lParam);
  }
}

TEST_F(MainDialogScreenTest, ARealDoubleClickOpensThePageTwice) {
  ASSERT_TRUE(test::OpenedUrls::RecorderIsTheBrowser()) << "scripts/test.sh registers the recorder as the browser";
  const test::OpenedUrls opened(dir.path());
  const HWND window = dialog.hwnd();
  const CommandSpy spy(window);
  ASSERT_TRUE(spy.hooked());
  const HWND link = GetDlgItem(window, IDC_LINK_TOPIC);
  RECT rect{};
  GetWindowRect(link, &rect);

  MovePointer({rect.left + 10, (rect.top + rect.bottom) / 2});
  Button(MOUSEEVENTF_LEFTDOWN);
  Button(MOUSEEVENTF_LEFTUP);
  Button(MOUSEEVENTF_LEFTDOWN);
  Button(MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(test::PumpUntil([&] { return spy.CommandsFor(IDC_LINK_TOPIC).size() >= 3; }, 10000))
      << "two releases and the static's report of the double click";
  // The last command's handler has run once the dialog answers again.
  ASSERT_TRUE(test::Answers(window));
  ASSERT_TRUE(opened.WaitFor(2));
  EXPECT_EQ(std::vector<std::wstring>(2, Url(hosts::kMainSite, L"/ztmf.html")), opened.Lines());
  const std::vector<CommandSpy::Command> commands = spy.CommandsFor(IDC_LINK_TOPIC);
  ASSERT_EQ(3u, commands.size());
  EXPECT_EQ(MAKEWPARAM(IDC_LINK_TOPIC, STN_DBLCLK), commands[1].wParam);
}

}  // namespace
