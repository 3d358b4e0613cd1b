#include "controls/font_pool.h"

#include <cwchar>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/controls/failing_new.h"
#include "win/handles.h"

namespace {

using controls::MvFontPool;

LOGFONTW Describe(HFONT font) {
  LOGFONTW record = {};
  EXPECT_EQ(static_cast<int>(sizeof record), GetObjectW(font, sizeof record, &record));
  return record;
}

LOGFONTW DefaultGuiFont() {
  LOGFONTW record = {};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof record, &record);
  return record;
}

// What GDI made of the font: the face it found and the character height in pixels.
struct Realised {
  std::wstring face;
  LONG charHeight;
};

Realised Realise(HFONT font) {
  win::MemoryDc dc(CreateCompatibleDC(nullptr));
  win::SelectionRestorer selected(dc.get(), font);
  wchar_t face[LF_FACESIZE] = {};
  GetTextFaceW(dc.get(), LF_FACESIZE, face);
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc.get(), &metrics);
  return {face, metrics.tmHeight - metrics.tmInternalLeading};
}

int CALLBACK NoteFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool TahomaInstalled() {
  win::MemoryDc dc(CreateCompatibleDC(nullptr));
  LOGFONTW wanted = {};
  wanted.lfCharSet = DEFAULT_CHARSET;
  wcscpy(wanted.lfFaceName, L"Tahoma");
  bool found = false;
  EnumFontFamiliesExW(dc.get(), &wanted, NoteFamily, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

TEST(FontPoolTest, OneHandlePerKeyAndADifferentFontPerKey) {
  const HFONT link = MvFontPool::GetFont(0x0002);
  const HFONT title = MvFontPool::GetFont(0x0A00);
  ASSERT_NE(nullptr, link);
  ASSERT_NE(nullptr, title);
  EXPECT_EQ(link, MvFontPool::GetFont(0x0002));
  EXPECT_EQ(title, MvFontPool::GetFont(0x0A00));
  EXPECT_NE(link, title);
  EXPECT_NE(link, MvFontPool::GetFont(0x0000));
  EXPECT_EQ(MvFontPool::Instance(), MvFontPool::Instance());
}

TEST(FontPoolTest, LinkAndTitleFontsAreTahomaAtTheirHeights) {
  const LOGFONTW link = Describe(MvFontPool::GetFont(controls::kLinkFontKey));
  EXPECT_EQ(-11, link.lfHeight);
  EXPECT_EQ(FW_NORMAL, link.lfWeight);
  EXPECT_TRUE(link.lfUnderline);
  EXPECT_FALSE(link.lfItalic);
  EXPECT_STREQ(L"Tahoma", link.lfFaceName);

  const LOGFONTW title = Describe(MvFontPool::GetFont(controls::kTitleFontKey));
  EXPECT_EQ(-21, title.lfHeight);
  EXPECT_EQ(FW_NORMAL, title.lfWeight);
  EXPECT_FALSE(title.lfUnderline);
  EXPECT_FALSE(title.lfItalic);
  EXPECT_STREQ(L"Tahoma", title.lfFaceName);

  // GDI makes them at those character heights, in Tahoma where it is installed.
  const Realised realLink = Realise(MvFontPool::GetFont(controls::kLinkFontKey));
  const Realised realTitle = Realise(MvFontPool::GetFont(controls::kTitleFontKey));
  EXPECT_EQ(11, realLink.charHeight);
  EXPECT_EQ(21, realTitle.charHeight);
  // Debian's Wine keeps its own Tahoma apart (fonts-wine); scripts/lib.sh copies it into
  // every prefix. Without it GDI would substitute another face.
  ASSERT_TRUE(TahomaInstalled()) << "GDI substitutes " << std::string(realLink.face.begin(), realLink.face.end());
  EXPECT_EQ(L"Tahoma", realLink.face);
  EXPECT_EQ(L"Tahoma", realTitle.face);
}

// The height at 96 DPI, after the key's size change, scaled to the DPI and rounded to the
// nearest pixel: one font per key and DPI, kept.
TEST(FontPoolTest, HeightsScaleWithTheDpi) {
  const struct {
    uint16_t key;
    UINT dpi;
    LONG height;
  } rows[] = {{controls::kLinkFontKey, 120, -14},  {controls::kLinkFontKey, 144, -17}, {controls::kLinkFontKey, 192, -22},
              {controls::kTitleFontKey, 120, -26}, {controls::kTitleFontKey, 144, -32}, {controls::kTitleFontKey, 192, -42},
              {0x0000, 144, -17},                  {0xFF00, 192, -20}};
  for (const auto& row : rows) {
    const HFONT font = MvFontPool::GetFont(row.key, row.dpi);
    EXPECT_EQ(row.height, Describe(font).lfHeight) << std::hex << row.key << std::dec << " at " << row.dpi;
    EXPECT_EQ(font, MvFontPool::GetFont(row.key, row.dpi));
    EXPECT_NE(MvFontPool::GetFont(row.key), font);
  }
  EXPECT_EQ(MvFontPool::GetFont(controls::kLinkFontKey), MvFontPool::GetFont(controls::kLinkFontKey, 96));
}

TEST(FontPoolTest, HighByteIsASignedSizeChange) {
  EXPECT_EQ(-10, Describe(MvFontPool::GetFont(0xFF00)).lfHeight);
  EXPECT_EQ(-12, Describe(MvFontPool::GetFont(0x0100)).lfHeight);
  EXPECT_EQ(-11 + 128, Describe(MvFontPool::GetFont(0x8000)).lfHeight);
  // Bits 7..3 change nothing but the key.
  const LOGFONTW odd = Describe(MvFontPool::GetFont(0x00F8));
  EXPECT_EQ(-11, odd.lfHeight);
  EXPECT_EQ(FW_NORMAL, odd.lfWeight);
  EXPECT_FALSE(odd.lfUnderline);
  EXPECT_FALSE(odd.lfItalic);
}

TEST(FontPoolTest, StyleBitsAndTheBaseFontsOwnWeight) {
  const LOGFONTW system = DefaultGuiFont();
  const LOGFONTW bold = Describe(MvFontPool::GetFont(0x0004));
  EXPECT_EQ(FW_BOLD, bold.lfWeight);
  EXPECT_FALSE(bold.lfUnderline);
  EXPECT_FALSE(bold.lfItalic);
  const LOGFONTW italic = Describe(MvFontPool::GetFont(0x0001));
  EXPECT_EQ(FW_NORMAL, italic.lfWeight);
  EXPECT_TRUE(italic.lfItalic);
  const LOGFONTW all = Describe(MvFontPool::GetFont(0x0007));
  EXPECT_EQ(FW_BOLD, all.lfWeight);
  EXPECT_TRUE(all.lfUnderline);
  EXPECT_TRUE(all.lfItalic);

  // Key 0 is the template itself: the system font's weight and style, Tahoma at -11.
  const LOGFONTW base = Describe(MvFontPool::GetFont(0x0000));
  EXPECT_EQ(system.lfWeight, base.lfWeight);
  EXPECT_EQ(system.lfUnderline, base.lfUnderline);
  EXPECT_EQ(system.lfItalic, base.lfItalic);
  EXPECT_EQ(-11, base.lfHeight);
  EXPECT_STREQ(L"Tahoma", base.lfFaceName);

  // Everything the key doesn't describe comes from the system's GUI font.
  for (const LOGFONTW& font : {base, bold, italic, all}) {
    EXPECT_EQ(system.lfWidth, font.lfWidth);
    EXPECT_EQ(system.lfEscapement, font.lfEscapement);
    EXPECT_EQ(system.lfOrientation, font.lfOrientation);
    EXPECT_EQ(system.lfStrikeOut, font.lfStrikeOut);
    EXPECT_EQ(system.lfCharSet, font.lfCharSet);
    EXPECT_EQ(system.lfOutPrecision, font.lfOutPrecision);
    EXPECT_EQ(system.lfClipPrecision, font.lfClipPrecision);
    EXPECT_EQ(system.lfQuality, font.lfQuality);
    EXPECT_EQ(system.lfPitchAndFamily, font.lfPitchAndFamily);
  }
}

TEST(FontPoolTest, APoolDeletesItsFontsWhenItGoes) {
  HFONT base = nullptr;
  HFONT link = nullptr;
  {
    MvFontPool pool;
    base = pool.Find(0);
    link = pool.Find(0x0002);
    ASSERT_NE(nullptr, base);
    ASSERT_NE(nullptr, link);
    EXPECT_EQ(link, pool.Find(0x0002));
    EXPECT_NE(link, MvFontPool::GetFont(0x0002)) << "a pool of its own, not the process's";
    EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(link));
  }
  EXPECT_EQ(0u, GetObjectType(base));
  EXPECT_EQ(0u, GetObjectType(link));
  // The process's pool is untouched.
  EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(MvFontPool::GetFont(0x0002)));
}

// GDI refuses new objects once the process's handle table is full: that is when a font
// can't be made, and it must not be remembered as missing.
TEST(FontPoolTest, AFontThatCannotBeMadeIsTriedAgain) {
  MvFontPool* pool = MvFontPool::Instance();
  ASSERT_NE(nullptr, pool);
  std::vector<HGDIOBJ> hoard;
  hoard.reserve(70000);
  while (hoard.size() < 70000) {
    const HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    if (!brush) break;
    hoard.push_back(brush);
  }
  const bool full = hoard.size() < 70000;
  HFONT starved = nullptr;
  if (full) starved = MvFontPool::GetFont(0x0104);
  for (HGDIOBJ object : hoard) DeleteObject(object);
  if (!full) GTEST_SKIP() << "GDI made 70000 brushes without refusing one";

  EXPECT_EQ(nullptr, starved) << "after " << hoard.size() << " brushes";
  const HFONT later = MvFontPool::GetFont(0x0104);
  ASSERT_NE(nullptr, later);
  EXPECT_EQ(-12, Describe(later).lfHeight);
  EXPECT_EQ(later, MvFontPool::GetFont(0x0104));
}

TEST(FontPoolTest, WithoutMemoryForThePoolThereAreNoFontsAndNoCrash) {
  {
    test::NothrowNewFails noMemory;
    EXPECT_EQ(nullptr, MvFontPool::Instance());
    EXPECT_EQ(nullptr, MvFontPool::GetFont(0x0002));
    EXPECT_EQ(nullptr, MvFontPool::GetFont(0x0A00));
  }
  // Memory back: the next request makes the pool.
  MvFontPool* pool = MvFontPool::Instance();
  ASSERT_NE(nullptr, pool);
  EXPECT_EQ(pool, MvFontPool::Instance());
  EXPECT_NE(nullptr, MvFontPool::GetFont(0x0002));
}

TEST(FontPoolTest, AFontThatCannotBeKeptIsNotHandedOut) {
  ASSERT_NE(nullptr, MvFontPool::Instance());
  HFONT unkept = reinterpret_cast<HFONT>(1);
  {
    test::NothrowNewFails noMemory;
    unkept = MvFontPool::GetFont(0x0204);
  }
  EXPECT_EQ(nullptr, unkept);
  const HFONT kept = MvFontPool::GetFont(0x0204);
  ASSERT_NE(nullptr, kept);
  EXPECT_EQ(kept, MvFontPool::GetFont(0x0204));
}

}  // namespace
