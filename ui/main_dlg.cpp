#include "ui/main_dlg.h"

#include <shlobj.h>

#include "controls/dialog_surface.h"
#include "engine/process_sweep.h"
#include "hosts.h"
#include "ui/run_texts.h"
#include "ui/scan_run.h"
#include "win/dpi.h"
#include "win/handles.h"
#include "win/module.h"
#include "win/shell_open.h"

namespace ui {

namespace {

constexpr UINT_PTR kFinishTimer = 1;
constexpr UINT kFinishTimerPeriodMs = 200;
// What a worker published is shown 20 times a second: smooth to the eye, and a short
// walk's files, each kept until shown, still all pass by. It ticks for the dialog's whole
// life, so that what a stopped worker does after the offer opened still shows.
constexpr UINT_PTR kProgressTimer = 2;
constexpr UINT kProgressTimerPeriodMs = 50;
// The path box's text is read into a buffer of this many characters.
constexpr int kPathChars = 512;
// How long the end of the dialog waits for a running worker. A copy checks for a stop
// between its chunks, so this is ample unless the worker is stuck in the system; the
// process then ends at once, well within three seconds of the close.
constexpr DWORD kCloseGraceMs = 2000;

constexpr wchar_t kStartCaption[] = L"开始查杀";

std::wstring PageUrl(const wchar_t* host, const wchar_t* path) { return std::wstring(L"http://") + host + path; }

}  // namespace

bool CMainDlg::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return true;
    case WM_TIMER:
      OnTimer(wParam);
      result = 0;
      return true;
    case WM_COMMAND:
      // Told apart by the command id alone: the links send theirs without a notification
      // code or a control handle. A link's static control reports a double click itself,
      // between the two releases that each fire the link; that report opens no page.
      if (IsLinkControlsOwnNotification(lParam)) {
        result = 0;
        return true;
      }
      if (!OnCommand(LOWORD(wParam))) return false;
      result = 0;
      return true;
    case WM_ERASEBKGND:
      // The result (1: erased) goes back through DWLP_MSGRESULT, so the system does not
      // erase a second time.
      result = OnEraseBackground(reinterpret_cast<HDC>(wParam));
      return true;
    case WM_DPICHANGED:
      // Left to the dialog manager as well, which resizes the dialog to the suggested
      // rectangle and scales its controls and their fonts.
      OnDpiChanged();
      return false;
  }
  return false;
}

LRESULT CMainDlg::OnInitDialog() {
  CenterWindow();

  LoadArtwork(win::DpiForWindow(m_hWnd));

  // Each attached link gets SS_NOTIFY; one that fails stays a plain static text.
  linkTopic_.Attach(m_hWnd, IDC_LINK_TOPIC);
  linkSite_.Attach(m_hWnd, IDC_LINK_SITE);
  linkCommunity_.Attach(m_hWnd, IDC_LINK_COMMUNITY);
  // These two stand in the bottom band; the topic link keeps the face colour.
  linkSite_.m_crBackground = controls::kBandColour;
  linkCommunity_.m_crBackground = controls::kBandColour;

  SetDlgItemText(IDC_PATH, kAllDrivesText);
  GetDlgItem(IDC_CURRENT_FILE).ShowWindow(SW_HIDE);
  SetTimer(kFinishTimer, kFinishTimerPeriodMs);
  SetTimer(kProgressTimer, kProgressTimerPeriodMs);
  engine::EnableDebugPrivilege();
  return 1;  // the system puts the focus on the first control
}

void CMainDlg::OnTimer(UINT_PTR id) {
  if (id == kFinishTimer) CheckScanFinished(run_, *this);
  if (id == kProgressTimer) ShowScanProgress(run_, *this);
}

bool CMainDlg::OnCommand(int id) {
  switch (id) {
    case IDOK:
    case IDCANCEL:
      OnEndDialog(id);
      return true;
    case IDC_START_STOP:
      OnStartStop();
      return true;
    case IDC_BROWSE:
      OnBrowse();
      return true;
    case IDC_LINK_TOPIC:
      OpenPage(PageUrl(hosts::kMainSite, L"/ztmf.html"));
      return true;
    case IDC_LINK_SITE:
      OpenPage(PageUrl(hosts::kMainSite, L"/?s=1"));
      return true;
    case IDC_LINK_COMMUNITY:
      OpenPage(PageUrl(hosts::kCommunity, L"/?s=1"));
      return true;
  }
  return false;
}

// The links' own commands carry no control handle. A notification that carries the handle
// of an attached link comes from the static control under it: with SS_NOTIFY it reports
// double clicks (STN_DBLCLK), which would otherwise open the page a third time after the
// two that the releases of the double click open.
bool CMainDlg::IsLinkControlsOwnNotification(LPARAM control) const {
  const HWND window = reinterpret_cast<HWND>(control);
  return window && (window == linkTopic_.hwnd() || window == linkSite_.hwnd() || window == linkCommunity_.hwnd());
}

void CMainDlg::OnEndDialog(int result) {
  if (run_.closing) return;  // already ending, and waiting for the worker
  run_.closing = true;
  // A worker in the middle of a file is asked to stop, and gets a moment to finish it or
  // abandon its copy; one that doesn't end by then ends with the process (app/main.cpp).
  StopAndWaitForWorker(run_, kCloseGraceMs);
  EndDialog(result);
}

void CMainDlg::OnStartStop() {
  // While the dialog ends, and while a run's offer is open, the button does nothing: the
  // offer disables this window, but a command can still come (another program can post
  // one), and it must never start a run while the last one's offer waits for an answer.
  if (run_.closing || run_.offering) return;
  if (run_.awaitingOffer)
    RequestStop(run_, *this);
  else
    StartScan(run_, *this);
}

void CMainDlg::OnBrowse() {
  BROWSEINFOW info{};
  info.hwndOwner = m_hWnd;
  info.pidlRoot = nullptr;  // the desktop
  info.lpszTitle = L"选择目录";
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  win::CoTaskMem<ITEMIDLIST> chosen(SHBrowseForFolderW(&info));
  if (!chosen) return;  // cancelled

  const CWindow pathBox = GetDlgItem(IDC_PATH);
  wchar_t path[MAX_PATH] = {};
  if (pathBox.m_hWnd && SHGetPathFromIDListW(chosen.get(), path)) pathBox.SetWindowText(path);
}

LRESULT CMainDlg::OnEraseBackground(HDC dc) {
  RECT client{};
  GetClientRect(&client);
  return controls::PaintDialogSurface(dc, client, win::DpiForWindow(m_hWnd), largeIcon_, logo_);
}

void CMainDlg::OnDpiChanged() {
  // The window has its new DPI by now.
  LoadArtwork(win::DpiForWindow(m_hWnd));
  // The bands grow in place and the controls move: the whole client area is drawn anew,
  // whatever part of it the resize would leave.
  RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CMainDlg::LoadArtwork(UINT dpi) {
  const HINSTANCE instance = win::ResourceInstance();
  // The icon group has an image for each size from 100 to 200 %: LoadImage picks the one of
  // the size asked for instead of stretching another.
  const auto icon = [&](int width, int height) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON,
                                         win::SystemMetricForDpi(width, dpi), win::SystemMetricForDpi(height, dpi), 0));
  };
  const HICON largeIcon = icon(SM_CXICON, SM_CYICON);
  const HICON smallIcon = icon(SM_CXSMICON, SM_CYSMICON);
  SetIcon(largeIcon, true);
  SetIcon(smallIcon, false);
  if (largeIcon_) DestroyIcon(largeIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
  largeIcon_ = largeIcon;
  smallIcon_ = smallIcon;

  int logo = IDB_LOGO;
  switch (controls::LogoDpiFor(dpi)) {
    case 120:
      logo = IDB_LOGO_120;
      break;
    case 144:
      logo = IDB_LOGO_144;
      break;
    case 192:
      logo = IDB_LOGO_192;
      break;
  }
  if (logo_) DeleteObject(logo_);
  logo_ = LoadBitmapW(instance, MAKEINTRESOURCEW(logo));
}

// As the signed-in user, through the desktop's shell: the browser must not inherit this
// process's administrator token (win/shell_open.h).
void CMainDlg::OpenPage(const std::wstring& url) { win::OpenInBrowser(url); }

std::wstring CMainDlg::PathText() const {
  wchar_t text[kPathChars] = {};
  ::GetDlgItemTextW(m_hWnd, IDC_PATH, text, kPathChars);
  return text;
}

void CMainDlg::ShowRunState(const wchar_t* prompt) {
  SetDlgItemText(IDC_PROMPT, prompt);
  GetDlgItem(IDC_PATH).ShowWindow(SW_HIDE);
  GetDlgItem(IDC_BROWSE).ShowWindow(SW_HIDE);
  GetDlgItem(IDC_CURRENT_FILE).ShowWindow(SW_SHOW);
  SetDlgItemText(IDC_START_STOP, L"停止查杀");
}

void CMainDlg::ResetToIdle() {
  SetDlgItemText(IDC_PROMPT, L"选择扫描目录：");
  GetDlgItem(IDC_PATH).ShowWindow(SW_SHOW);
  GetDlgItem(IDC_BROWSE).ShowWindow(SW_SHOW);
  GetDlgItem(IDC_CURRENT_FILE).ShowWindow(SW_HIDE);
  SetDlgItemText(IDC_START_STOP, kStartCaption);
}

void CMainDlg::ShowProgress(const engine::ProgressSnapshot& snapshot) {
  SetDlgItemText(IDC_PROGRESS,
                 FormatProgressLine(snapshot.filesScanned, snapshot.virusesFound, snapshot.filesRestored));
  SetDlgItemText(IDC_CURRENT_FILE, snapshot.path);
}

}  // namespace ui
