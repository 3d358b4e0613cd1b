#include "controls/font_pool.h"

#include <cwchar>
#include <new>

namespace controls {

namespace {

// Held for the whole run and never deleted: the fonts it owns are selected into paint
// contexts until the process ends. Painting code only, so no lock.
MvFontPool* gFontPool = nullptr;

}  // namespace

MvFontPool* MvFontPool::Instance() {
  // Painting must go on when memory is short: without a pool the callers get null fonts
  // and draw in the context's current font.
  if (!gFontPool) gFontPool = new (std::nothrow) MvFontPool;
  return gFontPool;
}

HFONT MvFontPool::GetFont(uint16_t key, UINT dpi) {
  MvFontPool* pool = Instance();
  return pool ? pool->Find(key, dpi) : nullptr;
}

MvFontPool::MvFontPool() {
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof template_, &template_);
  template_.lfHeight = baseHeight_;
  wcsncpy(template_.lfFaceName, faceName_, LF_FACESIZE - 1);
  template_.lfFaceName[LF_FACESIZE - 1] = L'\0';

  // The base font is kept even when it could not be made: key 0 is not tried again.
  const HFONT base = CreateFontIndirectW(&template_);
  if (!Insert(0, win::kDefaultDpi, base) && base) DeleteObject(base);
}

MvFontPool::~MvFontPool() {
  for (Entry*& head : buckets_) {
    while (head) {
      Entry* entry = head;
      head = entry->next;
      if (entry->font) DeleteObject(entry->font);
      delete entry;
    }
  }
}

HFONT MvFontPool::Find(uint16_t key, UINT dpi) {
  if (const Entry* entry = Lookup(key, dpi)) return entry->font;

  LOGFONTW variant = template_;
  LONG height = template_.lfHeight;
  if (key != 0) {
    // The weight is always set, so a variant without the bold bit is regular even where
    // the system's GUI font is not.
    variant.lfWeight = (key & kFontBold) ? FW_BOLD : FW_NORMAL;
    variant.lfUnderline = (key & kFontUnderline) ? TRUE : FALSE;
    variant.lfItalic = (key & kFontItalic) ? TRUE : FALSE;
    height -= static_cast<int8_t>(key >> 8);
  }
  // Scaled after the size is grown, so that a font keeps its proportion to the others.
  variant.lfHeight = win::ScaleToDpi(height, dpi);
  const HFONT font = CreateFontIndirectW(&variant);
  if (!font) return nullptr;  // not kept: the next request tries again
  if (!Insert(key, dpi, font)) {
    // A font that can't be kept would be made anew, and leaked, at every paint.
    DeleteObject(font);
    return nullptr;
  }
  return font;
}

MvFontPool::Entry* MvFontPool::Lookup(uint16_t key, UINT dpi) const {
  for (Entry* entry = buckets_[key % kBuckets]; entry; entry = entry->next)
    if (entry->key == key && entry->dpi == dpi) return entry;
  return nullptr;
}

bool MvFontPool::Insert(uint16_t key, UINT dpi, HFONT font) {
  Entry*& head = buckets_[key % kBuckets];
  Entry* entry = new (std::nothrow) Entry{key, dpi, font, head};
  if (!entry) return false;
  head = entry;
  return true;
}

}  // namespace controls
