// The painted dialog and its links as they come out on the screen, driven with the real
// pointer. These run alone: they move the pointer and need their window on top.
#include <vector>

#include <gtest/gtest.h>

#include "controls/dialog_surface.h"
#include "controls/font_pool.h"
#include "controls/simple_link.h"
#include "tests/controls/failing_new.h"
#include "tests/support/pixels.h"
#include "tests/controls/test_dialog.h"
#include "tests/support/test_support.h"

namespace {

using controls::kBandColour;
using test::Image;
using test::TestDialog;

using test::BlueIn;
using test::ChildRect;
using test::RedIn;

constexpr int kLeft = 60;
constexpr int kTop = 60;

TEST(ScreenTest, TheDialogAsTheUserSeesIt) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  dialog.ShowAt(kLeft, kTop);
  test::MovePointer({0, 0});  // out of the way: no link under the pointer
  ASSERT_TRUE(test::Uncovered(dialog.hwnd()));
  const Image image = test::CaptureWindow(dialog.hwnd());
  EXPECT_TRUE(test::SaveScreenshot(test::CaptureWindow(dialog.hwnd(), true), L"controls_dialog"));
  ASSERT_FALSE(dialog.eraseResults.empty()) << "the surface was painted";
  for (const LRESULT result : dialog.eraseResults) EXPECT_EQ(1, result);

  const int w = image.width();
  const int h = image.height();
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  // Pixels that no visible control covers.
  test::PixelCheck check(image, test::VisibleChildRects(dialog.hwnd()));
  for (int x = 0; x < w; ++x) {
    check.Expect(x, 40, RGB(0, 0, 0), "top separator");
    check.Expect(x, h - 40, RGB(0, 0, 0), "bottom separator");
  }
  for (int y = 0; y < 40; ++y) {
    for (int x = w - 50; x < w; ++x) check.Expect(x, y, kBandColour, "top band");
    for (int x = 0; x < 10; ++x) check.Expect(x, y, kBandColour, "top band");
  }
  for (int y = h - 39; y < h; ++y) {
    for (int x = w - 150; x < w - 120; ++x) check.Expect(x, y, kBandColour, "bottom band");
    for (int x = w - 4; x < w; ++x) check.Expect(x, y, kBandColour, "bottom band");
  }
  const Image logo = test::ImageOfBitmap(dialog.logo);
  for (int y = 0; y < 27; ++y)
    for (int x = 0; x < 116; ++x) check.Expect(w - 120 + x, h - 33 + y, logo.At(x, y), "logo");
  for (int y = 41; y < h - 40; ++y)
    for (int x = 0; x < w; x += 7) check.Expect(x, y, face, "body");
  EXPECT_GT(image.Count({50, 0, w - 50, 40}, [](COLORREF c) { return c == RGB(0, 0, 0); }), 20) << "title";

  // The links: blue text on their own ground, the band colour for the two in the band.
  for (const int id : {test::kTopicLink, test::kSiteLink, test::kCommunityLink}) {
    const RECT rect = ChildRect(dialog.hwnd(), id);
    EXPECT_GT(BlueIn(image, rect), 15) << "link " << id;
    EXPECT_EQ(0, RedIn(image, rect)) << "link " << id;
    const COLORREF ground = id == test::kTopicLink ? face : kBandColour;
    EXPECT_GT(image.Count(rect, [&](COLORREF c) { return c == ground; }),
              (rect.right - rect.left) * (rect.bottom - rect.top) / 2)
        << "link " << id;
  }
  const RECT site = ChildRect(dialog.hwnd(), test::kSiteLink);
  EXPECT_EQ(0, image.Count(site, [&](COLORREF c) { return c == face; })) << "no face colour in the band";
}

TEST(ScreenTest, TheLinkTurnsRedUnderThePointerAndBlueWhenItLeaves) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  dialog.ShowAt(kLeft, kTop);
  const HWND window = dialog.Item(test::kTopicLink);
  controls::CSimpleLink& link = dialog.Link(test::kTopicLink);
  const RECT rect = ChildRect(dialog.hwnd(), window);
  ASSERT_TRUE(test::Uncovered(dialog.hwnd()));

  const POINT over = test::ScreenCentre(window);
  test::MovePointer(over);
  // The pointer's arrival, as the window system reports it.
  POINT client = over;
  ScreenToClient(window, &client);
  SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  ASSERT_TRUE(link.m_bHover) << "leave-tracking granted";
  Image hover = test::CaptureWindow(dialog.hwnd());
  EXPECT_GT(RedIn(hover, rect), 15);
  EXPECT_EQ(0, BlueIn(hover, rect));
  EXPECT_TRUE(test::SaveScreenshot(test::CaptureWindow(dialog.hwnd(), true), L"controls_dialog_hover"));
  // The other links stay blue.
  EXPECT_GT(BlueIn(hover, ChildRect(dialog.hwnd(), test::kSiteLink)), 15);

  // Off the link: the tracking reports the leave.
  test::MovePointer({over.x, over.y + 200});
  ASSERT_TRUE(test::PumpUntil([&] { return !link.m_bHover; }, 10000)) << "no WM_MOUSELEAVE";
  Image left = test::CaptureWindow(dialog.hwnd());
  EXPECT_GT(BlueIn(left, rect), 15);
  EXPECT_EQ(0, RedIn(left, rect));
}

// Real button presses through the window system, with the pointer moved between them.
TEST(ScreenTest, RealClicksPressOnTheLinkOrReleaseOnIt) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  dialog.ShowAt(kLeft, kTop);
  ASSERT_TRUE(test::Uncovered(dialog.hwnd()));
  const POINT link = test::ScreenCentre(dialog.Item(test::kSiteLink));
  POINT background = {0, 20};
  ClientToScreen(dialog.hwnd(), &background);
  background.x += 300;

  // Pressed on the link, dragged onto the dialog, released there.
  test::MovePointer(link);
  test::Button(MOUSEEVENTF_LEFTDOWN);
  ASSERT_TRUE(test::PumpUntil([&] { return GetCapture() == dialog.Item(test::kSiteLink); }, 10000));
  test::MovePointer(background);
  test::Button(MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(test::PumpUntil([&] { return !dialog.commands.empty(); }, 10000));
  EXPECT_EQ(static_cast<WPARAM>(test::kSiteLink), dialog.commands[0].wParam);
  EXPECT_EQ(0, dialog.commands[0].lParam);

  // Pressed on the dialog's band, moved onto the link, released there.
  dialog.commands.clear();
  test::Button(MOUSEEVENTF_LEFTDOWN);
  ASSERT_TRUE(test::PumpUntil([] { return GetKeyState(VK_LBUTTON) < 0; }, 10000)) << "the press arrived";
  EXPECT_NE(dialog.Item(test::kSiteLink), GetCapture());
  test::MovePointer(link);
  test::Button(MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(test::PumpUntil([&] { return !dialog.commands.empty(); }, 10000));
  EXPECT_EQ(static_cast<WPARAM>(test::kSiteLink), dialog.commands[0].wParam);
  EXPECT_EQ(1u, dialog.commands.size());
  test::MovePointer({0, 0});
}

TEST(ScreenTest, BackgroundColourTextCutAndEmptyText) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  dialog.ShowAt(kLeft, kTop);
  test::MovePointer({0, 0});
  ASSERT_TRUE(test::Uncovered(dialog.hwnd()));
  const HWND window = dialog.Item(test::kTopicLink);
  controls::CSimpleLink& link = dialog.Link(test::kTopicLink);
  RECT rect = ChildRect(dialog.hwnd(), window);
  const COLORREF yellow = RGB(250, 240, 20);

  // A colour set later shows at the next repaint, over the whole control: the text's
  // glyph edges blend into it, and no face colour is left.
  link.m_crBackground = yellow;
  Image image = test::CaptureWindow(dialog.hwnd());
  const int area = (rect.right - rect.left) * (rect.bottom - rect.top);
  EXPECT_GT(image.Count(rect, [&](COLORREF c) { return c == yellow; }), area / 2);
  EXPECT_EQ(0, image.Count(rect, [&](COLORREF c) { return c == GetSysColor(COLOR_BTNFACE); }));
  EXPECT_GT(image.Count(rect, [&](COLORREF c) { return c == controls::kLinkColour; }), 5);

  // A long text with line breaks, in a control four lines high on the plain body: one
  // line from the top left, cut at the right edge; nothing beyond the control.
  SetWindowPos(window, nullptr, 10, 190, 120, 64, SWP_NOZORDER);
  SetWindowTextW(window, L"Marrow Finch Marrow Finch\r\nsecond line\r\nthird line Marrow Finch Marrow Finch");
  rect = ChildRect(dialog.hwnd(), window);
  image = test::CaptureWindow(dialog.hwnd());
  const RECT ink = image.Bounds(rect, test::IsLinkBlue);
  ASSERT_LT(ink.left, ink.right);
  EXPECT_LE(ink.left, rect.left + 2);
  EXPECT_LE(ink.top, rect.top + 4);
  EXPECT_LE(ink.bottom, rect.top + 16) << "one line only";
  EXPECT_GE(ink.right, rect.right - 3) << "the text runs to the right edge";
  const RECT beyond = {rect.right, rect.top, rect.right + 20, rect.bottom};
  EXPECT_EQ(0, BlueIn(image, beyond));

  // An empty text: the ground only.
  SetWindowTextW(window, L"");
  image = test::CaptureWindow(dialog.hwnd());
  EXPECT_EQ((rect.right - rect.left) * (rect.bottom - rect.top),
            image.Count(rect, [&](COLORREF c) { return c == yellow; }));
  EXPECT_EQ(0, BlueIn(image, rect));
}

TEST(ScreenTest, WithoutTheFontPoolLinksAndTitleUseTheContextsFont) {
  test::NothrowNewFails noMemory;
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  dialog.ShowAt(kLeft, kTop);
  test::MovePointer({0, 0});
  ASSERT_TRUE(test::Uncovered(dialog.hwnd()));
  const Image image = test::CaptureWindow(dialog.hwnd());
  ASSERT_EQ(nullptr, controls::MvFontPool::Instance());
  for (const int id : {test::kTopicLink, test::kSiteLink, test::kCommunityLink})
    EXPECT_GT(BlueIn(image, ChildRect(dialog.hwnd(), id)), 15) << "link " << id;
  EXPECT_GT(image.Count({50, 0, image.width() - 50, 40}, [](COLORREF c) { return c == RGB(0, 0, 0); }), 20);
}

}  // namespace
