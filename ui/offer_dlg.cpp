#include "ui/offer_dlg.h"

#include <string>

#include "hosts.h"
#include "win/shell_open.h"

namespace ui {

bool COKDlg::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return true;
    case WM_COMMAND:
      // Enter gives IDOK through the default button; the close box and Escape give IDCANCEL.
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
          EndDialog(LOWORD(wParam));
          result = 0;
          return true;
      }
      return false;
  }
  return false;
}

LRESULT COKDlg::OnInitDialog() {
  CenterWindow();
  // Composed once, as the offer opens: counts that a stopped worker adds meanwhile don't show.
  SetDlgItemText(IDC_SUMMARY, summary_);
  return 1;
}

void OfferDownload(HWND owner, const std::wstring& summary) {
  COKDlg offer(summary);
  // Not the active window: with another program's window in front there is none on this
  // thread, and an offer without owner would leave the main window enabled behind it.
  if (offer.DoModal(owner) != IDOK) return;
  // The browser, and the setup it downloads, run as the signed-in user, not as this
  // elevated process (win/shell_open.h).
  win::OpenInBrowser(std::wstring(L"http://") + hosts::kDownload + L"/MorvaSetup.exe");
}

}  // namespace ui
