// The program's one source of fonts for its own drawing. Every font is a variant of one
// template, the system's default GUI font made "Tahoma" at 11 pixels; a 16-bit key says
// how it differs, and the DPI it is drawn at scales its height (11 pixels at 96 DPI are
// 17 at 144). Each distinct font is made once and lives until the process ends; callers
// borrow the handles and never delete them.
#pragma once

#include <windows.h>

#include <cstdint>

#include "win/dpi.h"

namespace controls {

// Font keys: the high byte is a signed number of pixels added to the template's height,
// the low bits pick the style.
inline constexpr uint16_t kFontBold = 0x0004;
inline constexpr uint16_t kFontUnderline = 0x0002;
inline constexpr uint16_t kFontItalic = 0x0001;
constexpr uint16_t FontKey(int8_t grow, uint16_t style) {
  return static_cast<uint16_t>((static_cast<uint8_t>(grow) << 8) | (style & 0x00FF));
}
// Link text: Tahoma 11 pixels, underlined.
inline constexpr uint16_t kLinkFontKey = FontKey(0, kFontUnderline);  // 0x0002
// The main dialog's title: Tahoma 21 pixels.
inline constexpr uint16_t kTitleFontKey = FontKey(10, 0);  // 0x0A00

class MvFontPool {
 public:
  // The pool of the process, made on the first call. Null only when the pool could not
  // be allocated; the next call then tries again.
  static MvFontPool* Instance();
  // The font for the key at the DPI from the pool of the process, or null when there is
  // no pool or the font can't be made. Selecting a null font fails, so a caller that draws
  // with the result anyway simply draws in the context's current font.
  static HFONT GetFont(uint16_t key, UINT dpi = win::kDefaultDpi);

  MvFontPool();
  // Deletes every font of the pool. The process's own pool is never destroyed.
  virtual ~MvFontPool();
  MvFontPool(const MvFontPool&) = delete;
  MvFontPool& operator=(const MvFontPool&) = delete;

  // The font for the key at the DPI from this pool: made on first request and kept. A
  // font that can't be made is not kept, so the next request tries again. Key 0 at 96 DPI
  // is the template itself, made once at construction (null for good if that failed);
  // at another DPI it is the template at that DPI's height.
  HFONT Find(uint16_t key, UINT dpi = win::kDefaultDpi);

 private:
  static constexpr int kBuckets = 17;
  struct Entry {
    uint16_t key;
    UINT dpi;
    HFONT font;
    Entry* next;
  };

  Entry* Lookup(uint16_t key, UINT dpi) const;
  // Adds the font; false when the entry can't be allocated.
  bool Insert(uint16_t key, UINT dpi, HFONT font);

  LOGFONTW template_{};
  // Hash table, bucket = key % 17. The program keeps three fonts in it for each DPI it is
  // drawn at.
  Entry* buckets_[kBuckets] = {};
  const wchar_t* faceName_ = L"Tahoma";
  LONG baseHeight_ = -11;
};

}  // namespace controls
