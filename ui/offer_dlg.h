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

// Shows the offer with the run's final summary, owned by the window active on this thread
// (none when the main window isn't active, which then stays usable). "立即下载" opens the
// setup download in the browser.
void OfferDownload(const std::wstring& summary);

}  // namespace ui
