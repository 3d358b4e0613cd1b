// A dialog like the program's main window, made from an in-memory template with its
// size, font and controls, that paints its surface and carries the three link labels as
// the main window does. The tests drive it with messages and look at its pixels.
#pragma once

#include <windows.h>

#include <vector>

#include "controls/simple_link.h"
#include "tests/support/pixels.h"

namespace test {

inline constexpr int kTopicLink = 1009;
inline constexpr int kSiteLink = 1011;
inline constexpr int kCommunityLink = 1012;

// Resources of the test executables (controls_test.rc): the program's own artwork.
inline constexpr int kIconResource = 128;
inline constexpr int kLogoResource = 203;

class TestDialog {
 public:
  struct Command {
    WPARAM wParam;
    LPARAM lParam;
  };

  // Created hidden; attachLinks false leaves the three labels plain static texts.
  explicit TestDialog(bool attachLinks = true);
  ~TestDialog();
  TestDialog(const TestDialog&) = delete;
  TestDialog& operator=(const TestDialog&) = delete;

  HWND hwnd() const { return window_; }
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  controls::CSimpleLink& Link(int id);
  // Shows the dialog topmost at (x, y) of the screen, activated, and waits until it has
  // been painted.
  void ShowAt(int x, int y);
  // The WM_COMMAND messages with a link's id that reached the dialog, in order.
  std::vector<Command> commands;
  // What the dialog paints with; the tests may take them away.
  HICON icon = nullptr;
  HBITMAP logo = nullptr;
  // Answers of the surface painting, for the test of the erase result.
  std::vector<LRESULT> eraseResults;

 private:
  static INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM);
  HWND window_ = nullptr;
  controls::CSimpleLink links_[3];
};

}  // namespace test
