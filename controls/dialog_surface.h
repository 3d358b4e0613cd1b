// The main dialog's painted surface: the body in the face colour between two light-blue
// bands, the top band with the program's icon and title, the bottom band with the
// maker's logo. Its lengths are device pixels at 96 DPI, scaled to the DPI the dialog is
// drawn at (40 pixels at 96 DPI, 60 at 144), as the dialog's controls grow with it.
#pragma once

#include <windows.h>

namespace controls {

// The colour of both bands, and of the links that stand in the bottom band.
inline constexpr COLORREF kBandColour = RGB(222, 239, 255);
// At 96 DPI:
inline constexpr int kBandHeight = 40;
// The logo's top-left corner, from the client area's right and bottom edges.
inline constexpr int kLogoFromRight = 120;
inline constexpr int kLogoFromBottom = kBandHeight - 7;
inline constexpr POINT kIconPosition = {10, 5};
// The title's rectangle stops this far from either side; it spans the top band's height.
inline constexpr int kTitleInset = 50;
inline constexpr wchar_t kTitleText[] = L"Marrow Finch病毒专杀工具";

// Where the surface's parts go in a client rectangle at a DPI.
struct SurfaceLayout {
  int bandHeight;
  RECT topBand;
  RECT bottomBand;
  // The first rows of the two separators, the bottom band's first row and the first row
  // below the top band, and how many rows each takes: one pixel at 96 DPI, two from 192
  // (whole pixels, so that a line stays sharp).
  int bottomSeparator;
  int topSeparator;
  int separatorRows;
  // Top-left corners; the icon and the logo are drawn at their own sizes.
  POINT icon;
  POINT logo;
  RECT title;
};
SurfaceLayout LayoutSurface(const RECT& client, UINT dpi);

// The logo comes drawn for these DPIs (bitmap 203 for 96, then one for each of 125, 150
// and 200 %), so that it needn't be stretched, which would blur it. A DPI is given the
// largest that isn't larger than it is; the logo area then has room to spare. Below 96,
// the 96 one.
inline constexpr UINT kLogoDpis[] = {96, 120, 144, 192};
UINT LogoDpiFor(UINT dpi);

// The whole of the main dialog's WM_ERASEBKGND: paints the client rectangle into the
// context at the DPI and returns 1, the erase message's result. icon is the large window
// icon, logo the logo bitmap, both drawn at their own sizes: the caller loads them for
// the DPI. Either may be null, and is then left out.
LRESULT PaintDialogSurface(HDC dc, const RECT& client, UINT dpi, HICON icon, HBITMAP logo);

// Copies the whole bitmap, at its own size and opaquely, to (x, y) of the context.
// Draws nothing and fails on a null bitmap.
bool PaintLogo(HDC dc, HBITMAP logo, int x, int y);

}  // namespace controls
