#include "controls/simple_link.h"

#include <vector>

#include "controls/font_pool.h"
#include "win/dpi.h"
#include "win/handles.h"

namespace controls {

CSimpleLink::CSimpleLink() noexcept : m_crBackground(GetSysColor(COLOR_BTNFACE)) {}

bool CSimpleLink::Attach(HWND dialog, int controlId) noexcept { return Attach(GetDlgItem(dialog, controlId)); }

bool CSimpleLink::Attach(HWND control) noexcept {
  if (!SubclassWindow(control)) return false;
  // Written back only when it changes; the control's frame is not recalculated.
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  if (!(style & SS_NOTIFY)) SetWindowLongW(control, GWL_STYLE, style | SS_NOTIFY);
  return true;
}

LRESULT CSimpleLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      return OnPaint();
    case WM_ERASEBKGND:
      return OnEraseBackground();
    case WM_MOUSEMOVE:
      return OnMouseMove();
    case WM_MOUSELEAVE:
      return OnMouseLeave();
    case WM_LBUTTONDOWN:
      return OnLButtonDown();
    case WM_LBUTTONUP:
      return OnLButtonUp();
    case WM_SETCURSOR:
      return OnSetCursor();
    default:
      // Double clicks, hit tests, texts, destruction: the static control's own handling.
      return DefaultProc(message, wParam, lParam);
  }
}

LRESULT CSimpleLink::OnPaint() {
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(hwnd(), &ps);
  if (!dc) return 0;

  const int length = GetWindowTextLengthW(hwnd());
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd(), text.data(), length + 1);

  RECT client;
  GetClientRect(hwnd(), &client);
  SetBkMode(dc, TRANSPARENT);
  {
    // At the control's DPI, which its rectangle grew with. Without a pooled font the text
    // comes out in the context's current font.
    win::SelectionRestorer font(dc, MvFontPool::GetFont(kLinkFontKey, win::DpiForWindow(hwnd())));

    // The label paints its own ground, as it answers the erase request without erasing.
    const COLORREF previous = SetBkColor(dc, m_crBackground);
    if (previous != CLR_INVALID) {
      ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &client, nullptr, 0, nullptr);
      SetBkColor(dc, previous);
    }

    SetTextColor(dc, m_bHover ? kLinkHoverColour : kLinkColour);
    // One line from the top left, cut at the edges: no centring, no ellipsis, no wrap.
    DrawTextW(dc, text.data(), copied, &client, DT_SINGLELINE);
    SetTextColor(dc, RGB(0, 0, 0));
  }
  EndPaint(hwnd(), &ps);
  return 0;
}

// The paint fills the whole control, so erasing first would only flicker.
LRESULT CSimpleLink::OnEraseBackground() { return 1; }

LRESULT CSimpleLink::OnMouseMove() {
  if (!m_bHover) {
    TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, hwnd(), 0};
    // Refused tracking leaves the link blue; the next move asks again.
    m_bHover = win::_TrackMouseEvent(&track);
    InvalidateRect(hwnd(), nullptr, FALSE);
  }
  return 0;
}

LRESULT CSimpleLink::OnMouseLeave() {
  m_bHover = FALSE;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return 0;
}

// The capture brings the button-up here wherever the pointer is then.
LRESULT CSimpleLink::OnLButtonDown() {
  SetCapture(hwnd());
  return 0;
}

// Fires wherever the button goes up: a press dragged off the link still counts, as does
// a press on the dialog that is released over the link.
LRESULT CSimpleLink::OnLButtonUp() {
  ReleaseCapture();
  const int id = GetDlgCtrlID(hwnd());
  // Sent, not posted: the parent's command handler has run when the button-up returns.
  SendMessageW(GetParent(hwnd()), WM_COMMAND, static_cast<WPARAM>(static_cast<WORD>(id)), 0);
  return 0;
}

// Over the whole control, text or not.
LRESULT CSimpleLink::OnSetCursor() {
  SetCursor(LoadCursorW(nullptr, IDC_HAND));
  return 1;
}

}  // namespace controls
