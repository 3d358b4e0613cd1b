// The main dialog's painted surface: the body in the face colour between two light-blue
// bands, the top band with the program's icon and title, the bottom band with the
// maker's logo. Lengths are device pixels of the client area, not dialog units: the
// bands stay 40 pixels high at every resolution.
#pragma once

#include <windows.h>

namespace controls {

// The colour of both bands, and of the links that stand in the bottom band.
inline constexpr COLORREF kBandColour = RGB(222, 239, 255);
inline constexpr int kBandHeight = 40;
// The logo's top-left corner, from the client area's right and bottom edges.
inline constexpr int kLogoFromRight = 120;
inline constexpr int kLogoFromBottom = kBandHeight - 7;
inline constexpr POINT kIconPosition = {10, 5};
// The title's rectangle stops this far from either side; it spans the top band's height.
inline constexpr int kTitleInset = 50;
inline constexpr wchar_t kTitleText[] = L"Marrow Finch病毒专杀工具";

// The whole of the main dialog's WM_ERASEBKGND: paints the client rectangle into the
// context and returns 1, the erase message's result. icon is the large window icon,
// drawn at the system's large-icon size; logo is the logo bitmap. Either may be null,
// and is then left out.
LRESULT PaintDialogSurface(HDC dc, const RECT& client, HICON icon, HBITMAP logo);

// Copies the whole bitmap, at its own size and opaquely, to (x, y) of the context.
// Draws nothing and fails on a null bitmap.
bool PaintLogo(HDC dc, HBITMAP logo, int x, int y);

}  // namespace controls
