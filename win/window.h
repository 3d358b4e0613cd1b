// A window handle with the few calls our dialogs make on it. It owns nothing.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// Where CenterWindow puts a window of the given size: centred on `reference`, each half
// truncated toward zero, then pushed back inside `area`.
POINT CenteredPosition(const RECT& reference, const RECT& area, LONG width, LONG height);

class CWindow {
 public:
  CWindow() noexcept = default;
  CWindow(HWND window) noexcept : m_hWnd(window) {}  // NOLINT: implicit, like the handle itself

  HWND m_hWnd = nullptr;

  bool SetWindowText(const std::wstring& text) const noexcept {
    return ::SetWindowTextW(m_hWnd, text.c_str()) != FALSE;
  }
  CWindow GetDlgItem(int id) const noexcept { return CWindow(::GetDlgItem(m_hWnd, id)); }
  bool SetDlgItemText(int id, const std::wstring& text) const noexcept {
    return ::SetDlgItemTextW(m_hWnd, id, text.c_str()) != FALSE;
  }
  bool ShowWindow(int command) const noexcept { return ::ShowWindow(m_hWnd, command) != FALSE; }
  bool GetClientRect(RECT* rect) const noexcept { return ::GetClientRect(m_hWnd, rect) != FALSE; }
  HICON SetIcon(HICON icon, bool big) const noexcept {
    return reinterpret_cast<HICON>(
        ::SendMessageW(m_hWnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT periodMs) const noexcept { return ::SetTimer(m_hWnd, id, periodMs, nullptr); }

  // Centres the window on its owner, or on the work area when the owner is missing, hidden
  // or minimized (a minimized window's rectangle lies off the screen), and keeps it inside
  // the work area. Neither resizes, reorders nor activates it.
  bool CenterWindow() const noexcept;
};

inline POINT CenteredPosition(const RECT& reference, const RECT& area, LONG width, LONG height) {
  // C++ division truncates toward zero, also left of and above the primary screen.
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
  if (!::GetWindowRect(m_hWnd, &self)) return false;

  RECT area{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT reference = area;
  const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) ::GetWindowRect(owner, &reference);

  const POINT at = CenteredPosition(reference, area, self.right - self.left, self.bottom - self.top);
  return ::SetWindowPos(m_hWnd, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

}  // namespace win
