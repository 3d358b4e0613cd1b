// A thin wrapper over a window handle: texts, visibility, styles, dialog items and the
// centring that both of our dialogs use. It owns nothing; copying it copies the handle.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// Where CenterWindow puts a window of the given size: centred on the reference
// rectangle, each half truncated toward zero, then pushed back inside the bounding area.
POINT CenteredPosition(const RECT& reference, const RECT& area, LONG width, LONG height);

class CWindow {
 public:
  CWindow() noexcept = default;
  CWindow(HWND window) noexcept : m_hWnd(window) {}  // NOLINT: implicit, like the handle itself

  HWND m_hWnd = nullptr;

  operator HWND() const noexcept { return m_hWnd; }
  void Attach(HWND window) noexcept { m_hWnd = window; }
  HWND Detach() noexcept {
    HWND window = m_hWnd;
    m_hWnd = nullptr;
    return window;
  }
  bool IsWindow() const noexcept { return ::IsWindow(m_hWnd) != FALSE; }

  // Texts
  bool SetWindowText(const std::wstring& text) const noexcept {
    return ::SetWindowTextW(m_hWnd, text.c_str()) != FALSE;
  }
  // The whole text, however long; empty when there is none or the window is gone.
  std::wstring GetWindowText() const;
  int GetWindowTextLength() const noexcept { return ::GetWindowTextLengthW(m_hWnd); }

  // Dialog items
  CWindow GetDlgItem(int id) const noexcept { return CWindow(::GetDlgItem(m_hWnd, id)); }
  bool SetDlgItemText(int id, const std::wstring& text) const noexcept {
    return ::SetDlgItemTextW(m_hWnd, id, text.c_str()) != FALSE;
  }
  std::wstring GetDlgItemText(int id) const { return GetDlgItem(id).GetWindowText(); }

  // Visibility
  bool ShowWindow(int command) const noexcept { return ::ShowWindow(m_hWnd, command) != FALSE; }
  bool IsWindowVisible() const noexcept { return ::IsWindowVisible(m_hWnd) != FALSE; }
  bool IsIconic() const noexcept { return ::IsIconic(m_hWnd) != FALSE; }
  bool EnableWindow(bool enable) const noexcept { return ::EnableWindow(m_hWnd, enable ? TRUE : FALSE) != FALSE; }
  bool IsWindowEnabled() const noexcept { return ::IsWindowEnabled(m_hWnd) != FALSE; }

  // Styles
  DWORD GetStyle() const noexcept { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
  // Removes and adds style bits; writes the style only when it changes. True when it changed.
  bool ModifyStyle(DWORD remove, DWORD add) const noexcept;

  // Geometry
  bool GetWindowRect(RECT* rect) const noexcept { return ::GetWindowRect(m_hWnd, rect) != FALSE; }
  bool GetClientRect(RECT* rect) const noexcept { return ::GetClientRect(m_hWnd, rect) != FALSE; }
  bool SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) const noexcept {
    return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags) != FALSE;
  }
  // Centres the window on its owner when it has one that is visible and not minimized,
  // otherwise on the work area of the desktop, and keeps it inside that work area.
  // Moves without resizing, without a change of z-order and without activating.
  bool CenterWindow() const noexcept;

  // Relations and messages
  HWND GetOwner() const noexcept { return ::GetWindow(m_hWnd, GW_OWNER); }
  HWND GetParent() const noexcept { return ::GetParent(m_hWnd); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const noexcept {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const noexcept {
    return ::PostMessageW(m_hWnd, message, wParam, lParam) != FALSE;
  }

  // Icons and timers
  HICON SetIcon(HICON icon, bool big) const noexcept {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT periodMs) const noexcept { return ::SetTimer(m_hWnd, id, periodMs, nullptr); }
  bool KillTimer(UINT_PTR id) const noexcept { return ::KillTimer(m_hWnd, id) != FALSE; }
};

inline std::wstring CWindow::GetWindowText() const {
  const int length = ::GetWindowTextLengthW(m_hWnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(m_hWnd, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

inline bool CWindow::ModifyStyle(DWORD remove, DWORD add) const noexcept {
  const DWORD style = GetStyle();
  const DWORD changed = (style & ~remove) | add;
  if (changed == style) return false;
  ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>(changed));
  return true;
}

inline POINT CenteredPosition(const RECT& reference, const RECT& area, LONG width, LONG height) {
  // Integer division truncates toward zero, also for negative coordinates left of or
  // above the primary screen.
  LONG x = (reference.left + reference.right) / 2 - width / 2;
  LONG y = (reference.top + reference.bottom) / 2 - height / 2;
  if (x < area.left)
    x = area.left;
  else if (x + width > area.right)
    x = area.right - width;
  if (y < area.top)
    y = area.top;
  else if (y + height > area.bottom)
    y = area.bottom - height;
  return {x, y};
}

inline bool CWindow::CenterWindow() const noexcept {
  RECT self{};
  if (!GetWindowRect(&self)) return false;

  RECT area{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT reference = area;
  const CWindow owner(GetOwner());
  if (owner.m_hWnd && owner.IsWindowVisible() && !owner.IsIconic()) owner.GetWindowRect(&reference);

  const POINT at = CenteredPosition(reference, area, self.right - self.left, self.bottom - self.top);
  return SetWindowPos(nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace win
