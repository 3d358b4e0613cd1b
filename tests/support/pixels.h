// Pixels for the drawing tests: a 32-bit top-down image that GDI can draw into, copies
// of what a window shows, and BMP files of them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace test {

class Image {
 public:
  Image(int width, int height);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  Image(Image&& other) noexcept;
  Image& operator=(Image&& other) noexcept;

  int width() const { return width_; }
  int height() const { return height_; }
  // A memory context with the image selected: draw into it.
  HDC dc() const { return dc_; }
  // The pixel as a COLORREF (0x00BBGGRR). GdiFlush first if GDI drew since.
  COLORREF At(int x, int y) const;
  void Fill(COLORREF colour);
  // Every pixel of the rectangle for which the predicate holds, and how many.
  int Count(const RECT& rect, const std::function<bool(COLORREF)>& wanted) const;
  // The smallest rectangle around the pixels of rect for which the predicate holds;
  // empty when there are none.
  RECT Bounds(const RECT& rect, const std::function<bool(COLORREF)>& wanted) const;
  bool SaveBmp(const std::wstring& path) const;
  // An RGB PNG of the image, small for the flat surfaces of dialogs.
  bool SavePng(const std::wstring& path) const;

 private:
  void Release();

  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint32_t* bits_ = nullptr;
};

// What the window shows now, after it and its children were repainted: the client area,
// or with wholeWindow the frame and caption too.
Image CaptureWindow(HWND window, bool wholeWindow = false);

// The bitmap's pixels as 32-bit colours.
Image ImageOfBitmap(HBITMAP bitmap);

// The link text of a pixel, blue or red, give or take antialiasing at the glyph edges.
bool IsLinkBlue(COLORREF colour);
bool IsLinkRed(COLORREF colour);

// Colours within tolerance per channel.
bool Near(COLORREF a, COLORREF b, int tolerance);
std::string Hex(COLORREF colour);

}  // namespace test
