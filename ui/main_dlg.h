// The main window: dialog 129. The user picks all fixed drives (the default) or one
// directory, starts and stops the scan, watches its progress and opens the maker's pages.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "controls/simple_link.h"
#include "ui/resource.h"
#include "ui/scan_control.h"
#include "win/dialog.h"

namespace ui {

class CMainDlg : public win::CDialogImpl<CMainDlg>, public RunView {
 public:
  enum { IDD = IDD_MAIN };

  // `setup` says how its runs go: the program's way unless a test gives its own.
  explicit CMainDlg(RunSetup setup = {}) { run_.setup = std::move(setup); }
  ~CMainDlg() override = default;

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // What a run shows (scan_control.h), all of it here.
  HWND window() const override { return m_hWnd; }
  std::wstring PathText() const override;
  void ShowRunState(const wchar_t* prompt) override;
  void ResetToIdle() override;
  void ShowProgress(const engine::ProgressSnapshot& snapshot) override;

  // After the dialog's end: a run's worker is still stuck in the system (see scan_control.h).
  bool WorkerStillRunning() const { return ui::WorkerStillRunning(run_); }

 private:
  LRESULT OnInitDialog();
  void OnTimer(UINT_PTR id);
  bool OnCommand(int id);
  // True when the command is a notification that a link's static control sends of its own
  // (a double click, STN_DBLCLK, with the control's handle): not a click of the link.
  bool IsLinkControlsOwnNotification(LPARAM control) const;
  // Commands 1 and 2 (the close box and Escape give 2): the dialog ends with that result.
  void OnEndDialog(int result);
  void OnStartStop();
  void OnBrowse();
  // The whole surface under the controls: bands, separators, icon, title and logo, at
  // the dialog's DPI.
  LRESULT OnEraseBackground(HDC dc);
  // The window moved to a monitor with another DPI (Windows 10 1703 and later, per-monitor
  // aware): the artwork for the new DPI, and everything drawn anew. The dialog manager's
  // own handling then resizes the dialog and lays out and refonts its controls.
  void OnDpiChanged();
  // The icons and the logo for the DPI: the window's large and small icons at the DPI's
  // icon sizes, and the logo drawn for the DPI (controls::LogoDpiFor). The ones they
  // replace are destroyed.
  void LoadArtwork(UINT dpi);
  static void OpenPage(const std::wstring& url);

  HICON largeIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  // The link labels on 1009 (above the bottom band), 1011 and 1012 (in it).
  controls::CSimpleLink linkTopic_;
  controls::CSimpleLink linkSite_;
  controls::CSimpleLink linkCommunity_;
  HBITMAP logo_ = nullptr;
  RunControl run_;
};

}  // namespace ui
