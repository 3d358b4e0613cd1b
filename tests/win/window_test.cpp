#include "win/window.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

TEST(CenteredPositionTest, CentresWithTruncatedHalves) {
  const RECT area{0, 0, 1280, 1000};
  // (0 + 1280) / 2 - 301 / 2 = 640 - 150; (0 + 1000) / 2 - 201 / 2 = 500 - 100
  POINT at = win::CenteredPosition(area, area, 301, 201);
  EXPECT_EQ(490, at.x);
  EXPECT_EQ(400, at.y);
  // An odd sum: (101 + 400) / 2 = 250
  at = win::CenteredPosition(RECT{101, 51, 400, 300}, area, 100, 50);
  EXPECT_EQ(250 - 50, at.x);
  EXPECT_EQ(175 - 25, at.y);
}

TEST(CenteredPositionTest, TruncatesTowardZeroLeftOfTheOrigin) {
  const RECT area{-2000, -2000, 2000, 2000};
  // (-301 + 0) / 2 = -150 (toward zero, not -151); 99 / 2 = 49
  const POINT at = win::CenteredPosition(RECT{-301, -301, 0, 0}, area, 99, 99);
  EXPECT_EQ(-150 - 49, at.x);
  EXPECT_EQ(-150 - 49, at.y);
}

TEST(CenteredPositionTest, StaysInsideTheArea) {
  const RECT area{0, 30, 1280, 1000};
  // Owner near the top-left corner: pushed to the left and top edges.
  POINT at = win::CenteredPosition(RECT{-400, -300, 100, 100}, area, 400, 300);
  EXPECT_EQ(0, at.x);
  EXPECT_EQ(30, at.y);
  // Near the bottom-right corner: pushed back so that the right and bottom edges fit.
  at = win::CenteredPosition(RECT{1200, 950, 1500, 1200}, area, 400, 300);
  EXPECT_EQ(1280 - 400, at.x);
  EXPECT_EQ(1000 - 300, at.y);
  // Wider than the area: the left edge wins.
  at = win::CenteredPosition(area, area, 2000, 100);
  EXPECT_EQ(0, at.x);
}

class CenterWindowTest : public testing::Test {
 protected:
  static HWND Popup(HWND owner, const RECT& r, DWORD style = WS_POPUP) {
    return CreateWindowExW(0, L"STATIC", L"", style, r.left, r.top, r.right - r.left, r.bottom - r.top, owner, nullptr,
                           nullptr, nullptr);
  }
  void TearDown() override {
    for (HWND w : windows) DestroyWindow(w);
  }
  HWND Keep(HWND w) {
    windows.insert(windows.begin(), w);
    return w;
  }
  std::vector<HWND> windows;
};

RECT WindowRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

TEST_F(CenterWindowTest, OnAVisibleOwner) {
  const HWND owner = Keep(Popup(nullptr, {100, 120, 701, 521}, WS_POPUP | WS_VISIBLE));
  const HWND window = Keep(Popup(owner, {0, 0, 201, 101}));
  ASSERT_TRUE(win::CWindow(window).CenterWindow());
  EXPECT_TRUE(test::CentredOn(window, WindowRect(owner)));
  const RECT w = WindowRect(window);
  EXPECT_EQ(201, w.right - w.left) << "not resized";
  EXPECT_EQ(101, w.bottom - w.top);
}

TEST_F(CenterWindowTest, OnTheWorkAreaWithoutOwnerOrWithAHiddenOrMinimizedOne) {
  const RECT area = test::WorkArea();
  const HWND hidden = Keep(Popup(nullptr, {0, 0, 300, 200}));
  const HWND minimized = Keep(Popup(nullptr, {0, 0, 300, 200}, WS_OVERLAPPEDWINDOW | WS_VISIBLE));
  ShowWindow(minimized, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(minimized));
  for (HWND owner : {HWND{nullptr}, hidden, minimized}) {
    const HWND window = Keep(Popup(owner, {5, 5, 206, 106}));
    ASSERT_TRUE(win::CWindow(window).CenterWindow());
    const RECT w = WindowRect(window);
    EXPECT_EQ((area.left + area.right) / 2 - 201 / 2, w.left);
    EXPECT_EQ((area.top + area.bottom) / 2 - 101 / 2, w.top);
  }
}

TEST_F(CenterWindowTest, KeptInsideTheWorkArea) {
  const RECT area = test::WorkArea();
  const HWND owner = Keep(
      Popup(nullptr, {area.right - 100, area.bottom - 80, area.right + 300, area.bottom + 200}, WS_POPUP | WS_VISIBLE));
  const HWND window = Keep(Popup(owner, {0, 0, 400, 300}));
  ASSERT_TRUE(win::CWindow(window).CenterWindow());
  const RECT w = WindowRect(window);
  EXPECT_EQ(area.right - 400, w.left);
  EXPECT_EQ(area.bottom - 300, w.top);
}

// Removes and adds style bits; writes the style only when it changes. True when it changed.
bool ModifyStyle(HWND window, DWORD remove, DWORD add) {
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const DWORD changed = (style & ~remove) | add;
  if (changed == style) return false;
  SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(changed));
  return true;
}

DWORD Style(HWND window) { return static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)); }

TEST(CWindowTest, TextsAndStyles) {
  const HWND raw =
      CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
  const win::CWindow window(raw);
  const std::wstring text(2000, L'路');  // longer than any fixed buffer we use
  EXPECT_TRUE(window.SetWindowText(text));
  EXPECT_EQ(text, test::WindowText(raw));
  EXPECT_EQ(L"", test::WindowText(nullptr));

  EXPECT_FALSE(ModifyStyle(raw, 0, ES_AUTOHSCROLL)) << "unchanged style isn't written";
  EXPECT_TRUE(ModifyStyle(raw, 0, WS_DISABLED));
  EXPECT_TRUE(Style(raw) & WS_DISABLED);
  EXPECT_TRUE(ModifyStyle(raw, WS_DISABLED, 0));
  EXPECT_FALSE(Style(raw) & WS_DISABLED);
  DestroyWindow(raw);
}

}  // namespace
