#include "controls/dialog_surface.h"

#include "controls/font_pool.h"
#include "win/handles.h"

namespace controls {

namespace {

// A solid rectangle that leaves the context's background colour as it was. An empty
// opaque text run is the cheapest solid fill GDI has: no brush to make and delete.
void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  const COLORREF previous = SetBkColor(dc, colour);
  if (previous == CLR_INVALID) return;
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  SetBkColor(dc, previous);
}

// One row of the context's current pen, end point excluded as LineTo does.
void HorizontalLine(HDC dc, int y, int left, int right) {
  MoveToEx(dc, left, y, nullptr);
  LineTo(dc, right, y);
}

}  // namespace

LRESULT PaintDialogSurface(HDC dc, const RECT& client, HICON icon, HBITMAP logo) {
  // Later steps draw over earlier ones; the controls draw themselves over all of it.
  RECT r = client;
  FillSolid(dc, r, GetSysColor(COLOR_BTNFACE));  // read at every paint: follows the system

  // Bottom band, its separator on its own first row, and the logo in it. No pen is
  // selected: a paint context's default pen is one pixel of solid black.
  r.top = r.bottom - kBandHeight;
  FillSolid(dc, r, kBandColour);
  HorizontalLine(dc, r.top, client.left, client.right);
  PaintLogo(dc, logo, client.right - kLogoFromRight, client.bottom - kLogoFromBottom);

  // Top band, and its separator on the first row below it.
  r.top = client.top;
  r.bottom = client.top + kBandHeight;
  FillSolid(dc, r, kBandColour);
  HorizontalLine(dc, r.bottom, client.left, client.right);

  // Title and icon. The title keeps the context's text colour, black in a paint context.
  SetBkMode(dc, TRANSPARENT);
  {
    win::SelectionRestorer font(dc, MvFontPool::GetFont(kTitleFontKey));
    if (icon) DrawIcon(dc, client.left + kIconPosition.x, client.top + kIconPosition.y, icon);
    InflateRect(&r, -kTitleInset, 0);
    DrawTextW(dc, kTitleText, -1, &r, DT_SINGLELINE | DT_VCENTER);
  }
  return 1;
}

bool PaintLogo(HDC dc, HBITMAP logo, int x, int y) {
  if (!logo) return false;
  BITMAP info = {};
  if (!GetObjectW(logo, sizeof info, &info)) return false;

  // A memory context like the screen's takes a bitmap of any depth.
  win::MemoryDc memory;
  {
    win::WindowDc screen(nullptr);
    memory.reset(CreateCompatibleDC(screen.get()));
  }
  if (!memory) return false;
  win::SelectionRestorer selected(memory.get(), logo);
  return BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory.get(), 0, 0, SRCCOPY) != FALSE;
}

}  // namespace controls
