#include "controls/dialog_surface.h"

#include <algorithm>

#include "controls/font_pool.h"
#include "win/dpi.h"
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

// Rows of the context's current pen, end point excluded as LineTo does.
void HorizontalLine(HDC dc, int y, int rows, int left, int right) {
  for (int row = y; row < y + rows; ++row) {
    MoveToEx(dc, left, row, nullptr);
    LineTo(dc, right, row);
  }
}

}  // namespace

SurfaceLayout LayoutSurface(const RECT& client, UINT dpi) {
  const auto scaled = [dpi](int pixels) { return win::ScaleToDpi(pixels, dpi); };
  SurfaceLayout layout{};
  layout.bandHeight = scaled(kBandHeight);
  layout.bottomBand = {client.left, client.bottom - layout.bandHeight, client.right, client.bottom};
  layout.topBand = {client.left, client.top, client.right, client.top + layout.bandHeight};
  layout.bottomSeparator = layout.bottomBand.top;
  layout.topSeparator = layout.topBand.bottom;
  layout.separatorRows = std::max(1, static_cast<int>(dpi / win::kDefaultDpi));
  layout.icon = {client.left + scaled(kIconPosition.x), client.top + scaled(kIconPosition.y)};
  layout.logo = {client.right - scaled(kLogoFromRight), client.bottom - scaled(kLogoFromBottom)};
  layout.title = layout.topBand;
  InflateRect(&layout.title, -scaled(kTitleInset), 0);
  return layout;
}

UINT LogoDpiFor(UINT dpi) {
  UINT chosen = kLogoDpis[0];
  for (const UINT drawnFor : kLogoDpis)
    if (drawnFor <= dpi) chosen = drawnFor;
  return chosen;
}

LRESULT PaintDialogSurface(HDC dc, const RECT& client, UINT dpi, HICON icon, HBITMAP logo) {
  const SurfaceLayout layout = LayoutSurface(client, dpi);
  // Later steps draw over earlier ones; the controls draw themselves over all of it.
  FillSolid(dc, client, GetSysColor(COLOR_BTNFACE));  // read at every paint: follows the system

  // Bottom band, its separator on its own first row, and the logo in it. No pen is
  // selected: a paint context's default pen is one pixel of solid black.
  FillSolid(dc, layout.bottomBand, kBandColour);
  HorizontalLine(dc, layout.bottomSeparator, layout.separatorRows, client.left, client.right);
  PaintLogo(dc, logo, layout.logo.x, layout.logo.y);

  // Top band, and its separator on the first row below it.
  FillSolid(dc, layout.topBand, kBandColour);
  HorizontalLine(dc, layout.topSeparator, layout.separatorRows, client.left, client.right);

  // Title and icon. The title keeps the context's text colour, black in a paint context.
  SetBkMode(dc, TRANSPARENT);
  {
    win::SelectionRestorer font(dc, MvFontPool::GetFont(kTitleFontKey, dpi));
    // At the icon's own size (no DI_DEFAULTSIZE): the system's large-icon size is that of
    // the system's DPI, not necessarily the window's.
    if (icon) DrawIconEx(dc, layout.icon.x, layout.icon.y, icon, 0, 0, 0, nullptr, DI_NORMAL);
    RECT title = layout.title;
    DrawTextW(dc, kTitleText, -1, &title, DT_SINGLELINE | DT_VCENTER);
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
