// The main window: dialog 129. The user picks all fixed drives (the default) or one
// directory, starts and stops the scan, watches its progress and opens the maker's pages.
#pragma once

#include <windows.h>

#include <string>

#include "controls/simple_link.h"
#include "ui/resource.h"
#include "ui/scan_control.h"
#include "win/dialog.h"

namespace ui {

class CMainDlg : public win::CDialogImpl<CMainDlg>, public RunView {
 public:
  enum { IDD = IDD_MAIN };

  CMainDlg() = default;
  ~CMainDlg() override = default;

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

  // What a run shows (scan_control.h), all of it here.
  HWND window() const override { return m_hWnd; }
  std::wstring PathText() const override;
  void ShowRunState(const wchar_t* prompt) override;
  void ResetToIdle() override;
  void ShowProgress(const engine::ProgressSnapshot& snapshot) override;

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
  // The whole surface under the controls: bands, separators, icon, title and logo.
  LRESULT OnEraseBackground(HDC dc);
  static void OpenPage(const std::wstring& url);

  HICON m_hIconLarge = nullptr;
  // The link labels on 1009 (above the bottom band), 1011 and 1012 (in it).
  controls::CSimpleLink m_linkTopic;
  controls::CSimpleLink m_linkSite;
  controls::CSimpleLink m_linkCommunity;
  HBITMAP m_hLogo = nullptr;
  RunControl m_run;
};

}  // namespace ui
