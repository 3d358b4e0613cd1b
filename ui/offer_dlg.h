// The end of every run: dialog 202 states the outcome in one line and offers the maker's
// trojan scanner for download.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "ui/resource.h"
#include "win/dialog.h"

namespace ui {

class COKDlg : public win::CDialogImpl<COKDlg> {
 public:
  enum { IDD = IDD_OFFER };

  explicit COKDlg(std::wstring summary) : summary_(std::move(summary)) {}

  bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  LRESULT OnInitDialog();

  std::wstring summary_;
};

// Shows the offer with the run's final summary, owned by `owner` (the main window), which
// it disables until it is answered, whatever window is in front meanwhile; centred on the
// owner unless that is hidden or minimized. "立即下载" opens the setup download in the
// browser.
void OfferDownload(HWND owner, const std::wstring& summary);

}  // namespace ui
