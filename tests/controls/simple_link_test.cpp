#include "controls/simple_link.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include "controls/dialog_surface.h"
#include "tests/support/pixels.h"
#include "tests/controls/test_dialog.h"
#include "tests/support/test_support.h"

namespace {

using controls::CSimpleLink;
using test::Point;
using test::TestDialog;

// Counts the style changes that reach a control, seen before any link takes it over.
LRESULT CALLBACK CountStyleChanges(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR counter) {
  if (message == WM_STYLECHANGED && wParam == static_cast<WPARAM>(GWL_STYLE)) ++*reinterpret_cast<int*>(counter);
  return DefSubclassProc(window, message, wParam, lParam);
}

TEST(SimpleLinkTest, AttachingAddsTheNotifyStyleOnlyWhenItIsMissing) {
  TestDialog dialog(false);
  ASSERT_NE(nullptr, dialog.hwnd());
  const HWND plain = dialog.Item(test::kTopicLink);
  const HWND notifying = dialog.Item(test::kSiteLink);
  SetWindowLongW(notifying, GWL_STYLE, GetWindowLongW(notifying, GWL_STYLE) | SS_NOTIFY);
  int plainChanges = 0;
  int notifyingChanges = 0;
  ASSERT_TRUE(SetWindowSubclass(plain, CountStyleChanges, 1, reinterpret_cast<DWORD_PTR>(&plainChanges)));
  ASSERT_TRUE(SetWindowSubclass(notifying, CountStyleChanges, 1, reinterpret_cast<DWORD_PTR>(&notifyingChanges)));
  const LONG plainBefore = GetWindowLongW(plain, GWL_STYLE);
  const LONG notifyingBefore = GetWindowLongW(notifying, GWL_STYLE);

  CSimpleLink a;
  CSimpleLink b;
  ASSERT_TRUE(a.Attach(dialog.hwnd(), test::kTopicLink));
  ASSERT_TRUE(b.Attach(dialog.hwnd(), test::kSiteLink));
  EXPECT_EQ(plain, a.hwnd());
  EXPECT_EQ(plainBefore | SS_NOTIFY, GetWindowLongW(plain, GWL_STYLE));
  EXPECT_EQ(1, plainChanges);
  EXPECT_EQ(notifyingBefore, GetWindowLongW(notifying, GWL_STYLE));
  EXPECT_EQ(0, notifyingChanges) << "the style is written back only when it changes";
  RemoveWindowSubclass(plain, CountStyleChanges, 1);
  RemoveWindowSubclass(notifying, CountStyleChanges, 1);
}

TEST(SimpleLinkTest, AFailedAttachLeavesThePlainStatic) {
  TestDialog dialog(false);
  ASSERT_NE(nullptr, dialog.hwnd());
  CSimpleLink missing;
  EXPECT_FALSE(missing.Attach(dialog.hwnd(), 4242));
  EXPECT_EQ(nullptr, missing.hwnd());

  // A second attach of one object fails and leaves the second control alone.
  CSimpleLink link;
  ASSERT_TRUE(link.Attach(dialog.hwnd(), test::kTopicLink));
  const HWND other = dialog.Item(test::kSiteLink);
  const LONG before = GetWindowLongW(other, GWL_STYLE);
  EXPECT_FALSE(link.Attach(dialog.hwnd(), test::kSiteLink));
  EXPECT_EQ(before, GetWindowLongW(other, GWL_STYLE));
  EXPECT_FALSE(before & SS_NOTIFY);
  EXPECT_EQ(dialog.Item(test::kTopicLink), link.hwnd());
}

TEST(SimpleLinkTest, PressAndReleaseAnywhereSendsTheCommandOnce) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  const HWND link = dialog.Item(test::kTopicLink);

  SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, Point(3, 3));
  EXPECT_EQ(link, GetCapture()) << "the press captures the mouse";
  EXPECT_TRUE(dialog.commands.empty()) << "nothing fires on the press";
  // Dragged off the link, released far away: the capture brought the release here.
  SendMessageW(link, WM_LBUTTONUP, 0, Point(-300, 500));
  EXPECT_EQ(nullptr, GetCapture());
  ASSERT_EQ(1u, dialog.commands.size());
  EXPECT_EQ(static_cast<WPARAM>(test::kTopicLink), dialog.commands[0].wParam) << "id, notification code 0";
  EXPECT_EQ(0, dialog.commands[0].lParam) << "no control handle";
}

TEST(SimpleLinkTest, PressOnTheDialogAndReleaseOnTheLinkFires) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  SendMessageW(dialog.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, Point(300, 20));
  EXPECT_NE(dialog.Item(test::kSiteLink), GetCapture());
  SendMessageW(dialog.Item(test::kSiteLink), WM_LBUTTONUP, 0, Point(2, 2));
  ASSERT_EQ(1u, dialog.commands.size());
  EXPECT_EQ(static_cast<WPARAM>(test::kSiteLink), dialog.commands[0].wParam);
  EXPECT_EQ(0, dialog.commands[0].lParam);
}

// The double-click message is the static control's: with the notify style it reports
// STN_DBLCLK with its own handle, so a parent that looks at the id alone sees a third
// command between the two of the releases.
TEST(SimpleLinkTest, DoubleClickFiresOnEachReleaseAndTheStaticReportsTheDoubleClick) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  const HWND link = dialog.Item(test::kCommunityLink);
  SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, Point(2, 2));
  SendMessageW(link, WM_LBUTTONUP, 0, Point(2, 2));
  SendMessageW(link, WM_LBUTTONDBLCLK, MK_LBUTTON, Point(2, 2));
  SendMessageW(link, WM_LBUTTONUP, 0, Point(2, 2));
  ASSERT_EQ(3u, dialog.commands.size());
  EXPECT_EQ(static_cast<WPARAM>(test::kCommunityLink), dialog.commands[0].wParam);
  EXPECT_EQ(MAKEWPARAM(test::kCommunityLink, STN_DBLCLK), dialog.commands[1].wParam);
  EXPECT_EQ(reinterpret_cast<LPARAM>(link), dialog.commands[1].lParam);
  EXPECT_EQ(static_cast<WPARAM>(test::kCommunityLink), dialog.commands[2].wParam);
  EXPECT_EQ(0, dialog.commands[2].lParam);
}

TEST(SimpleLinkTest, HandCursorOverTheWholeControlWhateverTheHitTest) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  const HWND link = dialog.Item(test::kTopicLink);
  const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  ASSERT_NE(nullptr, hand);
  for (const int hitTest : {HTCLIENT, HTNOWHERE, HTBORDER}) {
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(1, SendMessageW(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(hitTest, WM_MOUSEMOVE)));
    EXPECT_EQ(hand, GetCursor()) << "hit test " << hitTest;
  }
}

TEST(SimpleLinkTest, EraseYieldsOneAndErasesNothing) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  test::Image image(40, 20);
  image.Fill(RGB(0, 200, 0));
  EXPECT_EQ(1, SendMessageW(dialog.Item(test::kTopicLink), WM_ERASEBKGND, reinterpret_cast<WPARAM>(image.dc()), 0));
  EXPECT_EQ(40 * 20, image.Count({0, 0, 40, 20}, [](COLORREF c) { return c == RGB(0, 200, 0); }));
}

TEST(SimpleLinkTest, MouseLeaveEndsTheHoverAndOtherMessagesReachTheStatic) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  CSimpleLink& link = dialog.Link(test::kTopicLink);
  link.m_bHover = TRUE;
  EXPECT_EQ(0, SendMessageW(link.hwnd(), WM_MOUSELEAVE, 0, 0));
  EXPECT_FALSE(link.m_bHover);
  // Texts are the static control's own.
  EXPECT_TRUE(SetWindowTextW(link.hwnd(), L"新的文字"));
  wchar_t text[32] = {};
  GetWindowTextW(link.hwnd(), text, 32);
  EXPECT_STREQ(L"新的文字", text);
}

TEST(SimpleLinkTest, DestroyingTheControlDetachesTheLink) {
  TestDialog dialog;
  ASSERT_NE(nullptr, dialog.hwnd());
  CSimpleLink& link = dialog.Link(test::kSiteLink);
  const HWND control = link.hwnd();
  ASSERT_NE(nullptr, control);
  DestroyWindow(control);
  EXPECT_EQ(nullptr, link.hwnd());
  // The object can take over another control afterwards.
  EXPECT_TRUE(link.Attach(dialog.hwnd(), 1017));
}

TEST(SimpleLinkTest, AGoneLinkObjectLeavesTheControlWorking) {
  TestDialog dialog(false);
  ASSERT_NE(nullptr, dialog.hwnd());
  const HWND control = dialog.Item(test::kTopicLink);
  {
    CSimpleLink link;
    ASSERT_TRUE(link.Attach(control));
  }
  // The static's own handling again: no capture, and only its own click notification
  // (it keeps the notify style), which carries its handle.
  SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, Point(2, 2));
  SendMessageW(control, WM_LBUTTONUP, 0, Point(2, 2));
  EXPECT_NE(control, GetCapture());
  ASSERT_EQ(1u, dialog.commands.size());
  EXPECT_EQ(MAKEWPARAM(test::kTopicLink, STN_CLICKED), dialog.commands[0].wParam);
  EXPECT_EQ(reinterpret_cast<LPARAM>(control), dialog.commands[0].lParam);
}

}  // namespace
