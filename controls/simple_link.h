// A link label: takes over a static text control of a dialog, draws the control's own
// text underlined in blue (red while the pointer is over it), shows the hand cursor, and
// on a click sends its parent WM_COMMAND with its control id. What the link opens is the
// parent's business.
#pragma once

#include <windows.h>

#include "win/subclass.h"

namespace controls {

inline constexpr COLORREF kLinkColour = RGB(48, 100, 165);
inline constexpr COLORREF kLinkHoverColour = RGB(255, 0, 0);

class CSimpleLink : public win::SubclassedWindow<CSimpleLink> {
 public:
  CSimpleLink() noexcept;

  // Takes over the dialog's control and gives it SS_NOTIFY, without which a static
  // control gets no mouse input. When this fails the control stays a plain static
  // text and keeps its style.
  bool Attach(HWND dialog, int controlId) noexcept;
  // Takes over the window itself (see Attach).
  bool Attach(HWND control) noexcept;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // Nonzero while the pointer is over the link, that is while leave-tracking runs.
  BOOL m_bHover = FALSE;
  // Fills the whole control before the text is drawn; the face colour read at
  // construction until the owner writes another one here. Shows at the next repaint.
  COLORREF m_crBackground;

 private:
  LRESULT OnPaint();
  LRESULT OnEraseBackground();
  LRESULT OnMouseMove();
  LRESULT OnMouseLeave();
  LRESULT OnLButtonDown();
  LRESULT OnLButtonUp();
  LRESULT OnSetCursor();
};

}  // namespace controls
