#include "controls/dialog_surface.h"

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "controls/font_pool.h"
#include "tests/controls/failing_new.h"
#include "tests/support/pixels.h"
#include "tests/controls/test_dialog.h"
#include "win/handles.h"

namespace {

using controls::kBandColour;
using test::Image;

constexpr COLORREF kUntouched = RGB(255, 0, 255);

// A length at 96 DPI at another, rounded to the nearest pixel as MulDiv rounds.
int At(UINT dpi, int pixels) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

// The icon at the DPI's large-icon size and the logo drawn for the DPI, as the dialog
// loads them.
struct Artwork {
  explicit Artwork(UINT dpi = 96) {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(test::kIconResource), IMAGE_ICON, At(dpi, 32),
                                         At(dpi, 32), 0));
    logoResource = test::kLogoResource + (dpi >= 192 ? 3 : dpi >= 144 ? 2 : dpi >= 120 ? 1 : 0);
    logo = LoadBitmapW(module, MAKEINTRESOURCEW(logoResource));
  }
  ~Artwork() {
    if (icon) DestroyIcon(icon);
    if (logo) DeleteObject(logo);
  }
  HICON icon = nullptr;
  HBITMAP logo = nullptr;
  int logoResource;
};

Image Paint(int width, int height, HICON icon, HBITMAP logo, LRESULT* result = nullptr, UINT dpi = 96) {
  Image image(width, height);
  image.Fill(kUntouched);
  const LRESULT painted = controls::PaintDialogSurface(image.dc(), RECT{0, 0, width, height}, dpi, icon, logo);
  if (result) *result = painted;
  GdiFlush();
  return image;
}

bool IsBand(COLORREF c) { return c == kBandColour; }
bool IsDark(COLORREF c) { return GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100; }

// The rows of the surface at the DPI, checked pixel by pixel: lengths at 96 DPI scaled,
// the separators two pixels from 192 DPI. The title and icon are left to their own tests;
// here they only may not leave their rectangles.
void ExpectSurface(const Image& image, const Artwork& art, UINT dpi) {
  const int w = image.width();
  const int h = image.height();
  const int band = At(dpi, 40);
  const int rows = dpi >= 192 ? 2 : 1;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const RECT iconRect = {At(dpi, 10), At(dpi, 5), At(dpi, 42), At(dpi, 37)};
  const RECT titleRect = {At(dpi, 50), 0, w - At(dpi, 50), band};
  const Image logo = test::ImageOfBitmap(art.logo);
  const POINT at = {w - At(dpi, 120), h - At(dpi, 33)};
  const RECT logoRect = {at.x, at.y, at.x + logo.width(), at.y + logo.height()};

  test::PixelCheck check(image, {iconRect, titleRect});
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const POINT p = {x, y};
      if ((y >= band && y < band + rows) || (y >= h - band && y < h - band + rows))
        check.Expect(x, y, RGB(0, 0, 0), "separator");
      else if (y < band)
        check.Expect(x, y, kBandColour, "top band");
      else if (PtInRect(&logoRect, p))
        check.Expect(x, y, logo.At(x - logoRect.left, y - logoRect.top), "logo");
      else if (y > h - band)
        check.Expect(x, y, kBandColour, "bottom band");
      else
        check.Expect(x, y, face, "body");
    }
  }
}

// Where the parts go at a DPI: lengths at 96 DPI scaled and rounded to the nearest pixel,
// in a client area of 838 x 488. The rule the dialog follows when Windows moves it to a
// monitor with another DPI, which Wine never does.
struct LayoutRow {
  UINT dpi;
  LONG band, separatorRows, iconX, iconY, logoFromRight, logoFromBottom, titleInset;
};

class LayoutTest : public testing::TestWithParam<LayoutRow> {};

TEST_P(LayoutTest, LengthsScaleWithTheDpi) {
  const LayoutRow r = GetParam();
  const controls::SurfaceLayout l = controls::LayoutSurface({0, 0, 838, 488}, r.dpi);
  EXPECT_EQ((std::vector<LONG>{r.band, r.band, 488 - r.band, 488 - r.band, r.separatorRows, r.iconX, r.iconY,
                               838 - r.logoFromRight, 488 - r.logoFromBottom, r.titleInset, 838 - r.titleInset, r.band}),
            (std::vector<LONG>{l.topBand.bottom, l.topSeparator, l.bottomBand.top, l.bottomSeparator, l.separatorRows,
                               l.icon.x, l.icon.y, l.logo.x, l.logo.y, l.title.left, l.title.right, l.title.bottom}));
}

INSTANTIATE_TEST_SUITE_P(Dpis, LayoutTest,
                         testing::Values(LayoutRow{96, 40, 1, 10, 5, 120, 33, 50}, LayoutRow{120, 50, 1, 13, 6, 150, 41, 63},
                                         LayoutRow{144, 60, 1, 15, 8, 180, 50, 75}, LayoutRow{168, 70, 1, 18, 9, 210, 58, 88},
                                         LayoutRow{192, 80, 2, 20, 10, 240, 66, 100},
                                         LayoutRow{288, 120, 3, 30, 15, 360, 99, 150}));

// The logo is drawn for 96, 120, 144 and 192 DPI; a DPI gets the largest not larger than it.
class LogoDpiTest : public testing::TestWithParam<std::pair<UINT, UINT>> {};

TEST_P(LogoDpiTest, TheLargestLogoNotLargerThanTheDpi) {
  EXPECT_EQ(GetParam().second, controls::LogoDpiFor(GetParam().first)) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(Dpis, LogoDpiTest,
                         testing::ValuesIn(std::vector<std::pair<UINT, UINT>>{
                             {72, 96}, {96, 96}, {119, 96}, {120, 120}, {143, 120}, {144, 144}, {191, 144}, {192, 192},
                             {288, 192}}));

struct SizeAtDpi {
  SIZE size;
  UINT dpi;
};

class SurfaceSizeTest : public testing::TestWithParam<SizeAtDpi> {};

// The dialog's own client size, and other sizes at other DPIs: the bands scale with the
// DPI, not with the size.
TEST_P(SurfaceSizeTest, BandsSeparatorsLogoAndBody) {
  SIZE size = GetParam().size;
  const UINT dpi = GetParam().dpi;
  if (size.cx == 0) {
    test::TestDialog dialog(false);
    ASSERT_NE(nullptr, dialog.hwnd());
    RECT client;
    GetClientRect(dialog.hwnd(), &client);
    size = {client.right, client.bottom};
    ASSERT_GT(size.cx, 335) << "a 335-unit-wide dialog is wider than 335 pixels";
  }
  const Artwork art(dpi);
  ASSERT_NE(nullptr, art.icon);
  ASSERT_NE(nullptr, art.logo);
  LRESULT result = 0;
  const Image image = Paint(size.cx, size.cy, art.icon, art.logo, &result, dpi);
  EXPECT_EQ(1, result);
  ExpectSurface(image, art, dpi);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SurfaceSizeTest,
                         testing::Values(SizeAtDpi{{0, 0}, 96}, SizeAtDpi{{320, 160}, 96}, SizeAtDpi{{900, 640}, 96},
                                         SizeAtDpi{{900, 640}, 120}, SizeAtDpi{{900, 640}, 144},
                                         SizeAtDpi{{900, 640}, 168}, SizeAtDpi{{1100, 660}, 192}));

TEST(SurfaceTest, TitleInTheTitleFontCentredInTheTopBand) {
  const Artwork art;
  const Image image = Paint(560, 340, art.icon, art.logo);
  const RECT title = image.Bounds({50, 0, 510, 40}, IsDark);
  ASSERT_LT(title.left, title.right) << "no title pixels";
  // Left aligned at 50, and the text's ink centred on the band's middle row.
  EXPECT_GE(title.left, 50);
  EXPECT_LE(title.left, 54);
  EXPECT_LT(title.right, 510);
  EXPECT_NEAR(20, (title.top + title.bottom) / 2, 3) << title.top << ".." << title.bottom;
  // Ink of a 21-pixel font: capitals of about 15 pixels, CJK glyphs up to the full height.
  EXPECT_GE(title.bottom - title.top, 14);
  EXPECT_LE(title.bottom - title.top, 24);
  // Black: the paint context's text colour, not the links' blue.
  EXPECT_GT(image.Count(title, [](COLORREF c) { return c == RGB(0, 0, 0); }), 20);
  EXPECT_EQ(0, image.Count(title, test::IsLinkBlue));
  // The title is as wide as the pooled title font makes it.
  win::MemoryDc measure(CreateCompatibleDC(nullptr));
  win::SelectionRestorer font(measure.get(), controls::MvFontPool::GetFont(controls::kTitleFontKey));
  SIZE extent = {};
  GetTextExtentPoint32W(measure.get(), controls::kTitleText, lstrlenW(controls::kTitleText), &extent);
  EXPECT_NEAR(extent.cx, title.right - 50, 4);
}

TEST(SurfaceTest, IconAtTenFiveInTheLargeIconSize) {
  const Artwork art;
  const Image image = Paint(560, 340, art.icon, art.logo);
  const int size = GetSystemMetrics(SM_CXICON);
  // The same icon drawn by itself on the band colour.
  Image alone(size, size);
  alone.Fill(kBandColour);
  DrawIconEx(alone.dc(), 0, 0, art.icon, size, size, 0, nullptr, DI_NORMAL);
  GdiFlush();
  int different = 0;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) different += image.At(10 + x, 5 + y) != alone.At(x, y);
  EXPECT_EQ(0, different);
  EXPECT_GT(alone.Count({0, 0, size, size}, [](COLORREF c) { return c != kBandColour; }), size * size / 3)
      << "the icon covers a good part of its square";
}

TEST(SurfaceTest, ANarrowSurfaceClipsTheTitleFiftyPixelsFromTheRight) {
  const Artwork art;
  const Image image = Paint(200, 120, art.icon, art.logo);
  EXPECT_EQ(0, image.Count({150, 0, 200, 40}, [](COLORREF c) { return c != kBandColour; }));
  EXPECT_GT(image.Count({120, 0, 150, 40}, IsDark), 5) << "the title runs up to the cut";
}

TEST(SurfaceTest, WithoutIconAndLogoTheBandsArePlain) {
  const Image image = Paint(560, 340, nullptr, nullptr);
  EXPECT_EQ(0, image.Count({0, 0, 50, 40}, [](COLORREF c) { return !IsBand(c); }));
  EXPECT_EQ(0, image.Count({0, 301, 560, 340}, [](COLORREF c) { return !IsBand(c); }));
  EXPECT_GT(image.Count({50, 0, 510, 40}, IsDark), 50) << "the title is still there";
}

TEST(SurfaceTest, TheContextKeepsItsColoursAndFont) {
  Image image(300, 200);
  const HGDIOBJ font = GetCurrentObject(image.dc(), OBJ_FONT);
  SetBkColor(image.dc(), RGB(1, 2, 3));
  SetTextColor(image.dc(), RGB(4, 5, 6));
  controls::PaintDialogSurface(image.dc(), RECT{0, 0, 300, 200}, 96, nullptr, nullptr);
  EXPECT_EQ(RGB(1, 2, 3), GetBkColor(image.dc()));
  EXPECT_EQ(RGB(4, 5, 6), GetTextColor(image.dc()));
  EXPECT_EQ(font, GetCurrentObject(image.dc(), OBJ_FONT));
  EXPECT_EQ(TRANSPARENT, GetBkMode(image.dc())) << "left transparent";
}

TEST(SurfaceTest, WithoutThePoolTheTitleComesInTheContextsFont) {
  test::NothrowNewFails noMemory;
  ASSERT_EQ(nullptr, controls::MvFontPool::Instance());
  LRESULT result = 0;
  const Image image = Paint(560, 340, nullptr, nullptr, &result);
  EXPECT_EQ(1, result);
  const RECT title = image.Bounds({50, 0, 510, 40}, IsDark);
  ASSERT_LT(title.left, title.right) << "no title pixels";
  EXPECT_LT(title.bottom - title.top, 18) << "smaller than the 21-pixel title font";
}

TEST(PaintLogoTest, CopiesTheWholeBitmapOpaquelyAndNothingElse) {
  const Artwork art;
  Image image(200, 60);
  image.Fill(kUntouched);
  EXPECT_TRUE(controls::PaintLogo(image.dc(), art.logo, 30, 20));
  GdiFlush();
  const Image logo = test::ImageOfBitmap(art.logo);
  int different = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 200; ++x) {
      const bool inside = x >= 30 && x < 146 && y >= 20 && y < 47;
      different += image.At(x, y) != (inside ? logo.At(x - 30, y - 20) : kUntouched);
    }
  }
  EXPECT_EQ(0, different);
}

TEST(PaintLogoTest, ANullBitmapDrawsNothingAndFails) {
  Image image(50, 50);
  image.Fill(kUntouched);
  EXPECT_FALSE(controls::PaintLogo(image.dc(), nullptr, 0, 0));
  EXPECT_EQ(2500, image.Count({0, 0, 50, 50}, [](COLORREF c) { return c == kUntouched; }));
}

// The artwork the program ships: the logo drawn for each DPI at its size, its ground in
// the band colour, and an icon for the large and the small icon of each DPI.
TEST(ArtworkTest, LogoAndIconAsTheProgramNeedsThem) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  for (const UINT dpi : {96, 120, 144, 192}) {
    const int w = At(dpi, 116);
    const int h = At(dpi, 27);
    const Artwork art(dpi);
    const HRSRC logoResource = FindResourceW(module, MAKEINTRESOURCEW(art.logoResource), RT_BITMAP);
    ASSERT_NE(nullptr, logoResource);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, logoResource)));
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(w, header->biWidth);
    EXPECT_EQ(h, header->biHeight);
    EXPECT_EQ(8, header->biBitCount);

    const Image logo = test::ImageOfBitmap(art.logo);
    for (const POINT corner : {POINT{0, 0}, POINT{w - 1, 0}, POINT{0, h - 1}, POINT{w - 1, h - 1}})
      EXPECT_TRUE(test::Near(logo.At(corner.x, corner.y), kBandColour, 8)) << test::Hex(logo.At(corner.x, corner.y));
    EXPECT_GT(logo.Count({0, 0, w, h}, [](COLORREF c) { return !test::Near(c, kBandColour, 40); }), 300 * w / 116 * h / 27)
        << "a mark on the ground at " << dpi << " DPI";
  }

  // The icon group's directory: one 32-bit image for each size from 100 to 200 %.
  const HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(test::kIconResource), RT_GROUP_ICON);
  ASSERT_NE(nullptr, group);
  const auto* directory = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
  ASSERT_NE(nullptr, directory);
  const WORD count = *reinterpret_cast<const WORD*>(directory + 4);
  ASSERT_EQ(7, count);
  int sizes[7] = {};
  for (int i = 0; i < count; ++i) {
    const BYTE* entry = directory + 6 + 14 * i;  // width, height, colours, reserved, planes, bits, ...
    sizes[i] = entry[0];
    EXPECT_EQ(entry[0], entry[1]);
    EXPECT_EQ(32, *reinterpret_cast<const WORD*>(entry + 6)) << "bits per pixel of the " << int(entry[0]) << " image";
  }
  EXPECT_EQ((std::vector<int>{64, 48, 40, 32, 24, 20, 16}), std::vector<int>(sizes, sizes + 7));
}

}  // namespace
