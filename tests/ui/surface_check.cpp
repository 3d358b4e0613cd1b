#include "tests/ui/surface_check.h"

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "controls/dialog_surface.h"
#include "controls/font_pool.h"
#include "ui/resource.h"
#include "win/handles.h"

namespace test {

namespace {

using controls::kBandColour;

int TextWidth(HFONT font, const std::wstring& text) {
  win::MemoryDc measure(CreateCompatibleDC(nullptr));
  win::SelectionRestorer selected(measure.get(), font);
  SIZE extent = {};
  GetTextExtentPoint32W(measure.get(), text.c_str(), static_cast<int>(text.size()), &extent);
  return extent.cx;
}

}  // namespace

void ExpectMainDialogSurface(HWND window, const Image& image, UINT dpi, HMODULE artwork) {
  const auto at = [dpi](int pixels) { return MulDiv(pixels, static_cast<int>(dpi), 96); };
  const int w = image.width();
  const int h = image.height();
  const int band = at(40);
  const int rows = dpi >= 192 ? 2 : 1;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);

  const int logoId = dpi >= 192 ? IDB_LOGO_192 : dpi >= 144 ? IDB_LOGO_144 : dpi >= 120 ? IDB_LOGO_120 : IDB_LOGO;
  const HBITMAP logoBitmap = LoadBitmapW(artwork, MAKEINTRESOURCEW(logoId));
  ASSERT_TRUE(logoBitmap);
  const Image logo = ImageOfBitmap(logoBitmap);
  DeleteObject(logoBitmap);
  const int iconSize = at(32);
  Image iconOnBand(iconSize, iconSize);
  iconOnBand.Fill(kBandColour);
  const HICON icon =
      static_cast<HICON>(LoadImageW(artwork, MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, iconSize, iconSize, 0));
  ASSERT_TRUE(icon);
  DrawIconEx(iconOnBand.dc(), 0, 0, icon, iconSize, iconSize, 0, nullptr, DI_NORMAL);
  GdiFlush();
  DestroyIcon(icon);

  const RECT iconRect = {at(10), at(5), at(10) + iconSize, at(5) + iconSize};
  const RECT titleRect = {at(50), 0, w - at(50), band};
  const RECT logoRect = {w - at(120), h - at(33), w - at(120) + logo.width(), h - at(33) + logo.height()};
  PixelCheck check(image, VisibleChildRects(window));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const POINT p = {x, y};
      if ((y >= band && y < band + rows) || (y >= h - band && y < h - band + rows))
        check.Expect(x, y, RGB(0, 0, 0), "separator");
      else if (PtInRect(&iconRect, p))
        check.Expect(x, y, iconOnBand.At(x - iconRect.left, y - iconRect.top), "icon");
      else if (PtInRect(&logoRect, p))
        check.Expect(x, y, logo.At(x - logoRect.left, y - logoRect.top), "logo");
      else if ((y < band && !PtInRect(&titleRect, p)) || y >= h - band)
        check.Expect(x, y, kBandColour, "band");
      else if (y >= band)
        check.Expect(x, y, face, "body");
    }
  }
  // Controls included: the links' grounds above all.
  EXPECT_EQ(0, image.Count({0, band + rows, w, h - band}, [](COLORREF c) { return c == kBandColour; }))
      << "band colour in the body";

  const RECT title = image.Bounds(titleRect, [](COLORREF c) { return c == RGB(0, 0, 0); });
  ASSERT_LT(title.left, title.right) << "no title";
  EXPECT_LE(title.left, at(53));
  EXPECT_NEAR(TextWidth(controls::MvFontPool::GetFont(controls::kTitleFontKey, dpi), controls::kTitleText),
              title.right - at(50), at(4));
  EXPECT_GE(title.bottom - title.top, at(14));
  EXPECT_NEAR(band / 2, (title.top + title.bottom) / 2, at(4));

  for (const int id : {IDC_LINK_TOPIC, IDC_LINK_SITE, IDC_LINK_COMMUNITY}) {
    const HWND link = GetDlgItem(window, id);
    const RECT rect = ChildRect(window, link);
    wchar_t text[256] = {};
    GetWindowTextW(link, text, 256);
    const int width = TextWidth(controls::MvFontPool::GetFont(controls::kLinkFontKey, dpi), text);
    const RECT ink = image.Bounds(rect, IsLinkBlue);
    ASSERT_LT(ink.left, ink.right) << "link " << id;
    EXPECT_NEAR(std::min<int>(width, rect.right - rect.left), ink.right - ink.left, at(3)) << "link " << id;
    EXPECT_GE(ink.bottom - ink.top, at(9)) << "link " << id;
    EXPECT_EQ(0, RedIn(image, rect)) << "link " << id;
    const bool inBand = id != IDC_LINK_TOPIC;
    if (inBand) {
      EXPECT_GE(rect.top, h - band + rows) << "link " << id << " reaches above the band";
      EXPECT_EQ(0, image.Count(rect, [&](COLORREF c) { return c == face; })) << "link " << id;
    } else {
      EXPECT_LE(rect.bottom, h - band) << "link " << id << " reaches into the band";
    }
    const COLORREF ground = inBand ? kBandColour : face;
    EXPECT_GT(image.Count(rect, [&](COLORREF c) { return c == ground; }),
              (rect.right - rect.left) * (rect.bottom - rect.top) / 2)
        << "link " << id;
  }
  // The other texts are plain static texts: black, not link blue.
  EXPECT_EQ(0, BlueIn(image, ChildRect(window, GetDlgItem(window, IDC_PROGRESS))));
}

}  // namespace test
