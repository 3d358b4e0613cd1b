// The program's main dialog on screens of 96, 120, 144 and 192 DPI. Wine reads the
// screen's DPI, the prefix's LogPixels, when a process starts: each test sets it, starts
// the program and puts it back once the program's window is there. The prefix is shared,
// so these run alone. Saves build/screenshots/main_dialog_<dpi>dpi.png.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/report/machine_id_key.h"
#include "tests/support/pixels.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"
#include "tests/ui/surface_check.h"

namespace {

constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";

// The prefix's LogPixels for the processes started while it is set; put back as it was
// (absent: 96) by Restore or when the object goes.
class ScopedLogPixels {
 public:
  explicit ScopedLogPixels(DWORD dpi) {
    DWORD size = sizeof saved_;
    hadValue_ = !RegGetValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", RRF_RT_REG_DWORD, nullptr, &saved_, &size);
    set_ = !RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
  }
  ~ScopedLogPixels() { Restore(); }
  bool set() const { return set_; }
  void Restore() {
    if (set_ && hadValue_) RegSetKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels", REG_DWORD, &saved_, 4);
    if (set_ && !hadValue_) RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktopKey, L"LogPixels");
    set_ = false;
  }

 private:
  DWORD saved_ = 0;
  bool hadValue_ = false;
  bool set_ = false;
};

// What the window's frame and caption add to its client area; or, with a DPI, what they
// add to a window of its style drawn at that DPI (AdjustWindowRectExForDpi, Windows 10
// 1607, found by name as the tests build for Windows 7).
SIZE Frame(HWND window, UINT dpi = 0) {
  RECT outer = {};
  RECT client = {};
  if (dpi == 0) {
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
  } else {
    using Adjust = BOOL WINAPI(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjust = reinterpret_cast<Adjust*>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (!adjust || !adjust(&outer, GetWindowLongW(window, GWL_STYLE), FALSE, GetWindowLongW(window, GWL_EXSTYLE), dpi))
      return {-1, -1};
  }
  return {outer.right - outer.left - client.right, outer.bottom - outer.top - client.bottom};
}

class MainDialogDpiTest : public testing::TestWithParam<UINT> {
 protected:
  test::MachineIdKeyGuard keyGuard_;  // the program makes an identifier where there is none
};

TEST_P(MainDialogDpiTest, BandsTitleAndLinksScaleWithTheDpiAndNoBandColourShowsInTheBody) {
  const UINT dpi = GetParam();
  ScopedLogPixels logPixels(dpi);
  ASSERT_TRUE(logPixels.set());
  test::Process program(test::ProgramPath());
  const HWND window = program.WaitForWindow(test::kMainTitle, 30000);
  logPixels.Restore();  // read by the program when it started
  ASSERT_NE(nullptr, window) << "no main window";
  // GetDpiForWindow on another process's window answers with the caller's DPI under Wine;
  // the frame, drawn at the program's DPI, tells.
  const SIZE frame = Frame(window);
  const SIZE expected = Frame(window, dpi);
  ASSERT_TRUE(frame.cx == expected.cx && frame.cy == expected.cy)
      << "the program did not start at " << dpi << " DPI: its frame is " << frame.cx << " x " << frame.cy << ", not "
      << expected.cx << " x " << expected.cy;
  SetForegroundWindow(window);
  ASSERT_TRUE(test::PumpUntil([&] { return test::Uncovered(window); }, 10000)) << "the dialog is covered";

  EXPECT_TRUE(test::SaveScreenshot(test::CaptureWindow(window, true), L"main_dialog_" + std::to_wstring(dpi) + L"dpi"));
  const HMODULE resources =
      LoadLibraryExW(test::ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_TRUE(resources);
  test::ExpectMainDialogSurface(window, test::CaptureWindow(window), dpi, resources);
  FreeLibrary(resources);

  DWORD exitCode = 0;
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(program.WaitForEnd(10000, exitCode));
  EXPECT_EQ(2u, exitCode);
}

INSTANTIATE_TEST_SUITE_P(Dpis, MainDialogDpiTest, testing::Values(96u, 120u, 144u, 192u));

}  // namespace
