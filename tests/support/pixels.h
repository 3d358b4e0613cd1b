// Pixels for the drawing tests: a 32-bit top-down image that GDI can draw into, copies
// of what a window shows, BMP files of them; and the screen with the real pointer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
  // scripts/test.sh turns the screenshots into PNG files (scripts/pngfile.py).
  bool SaveBmp(const std::wstring& path) const;

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

// Checks pixels against what they should show, passing over those inside any of the
// skipped rectangles, and reports the first ten that differ.
class PixelCheck {
 public:
  explicit PixelCheck(const Image& image, std::vector<RECT> skipped = {});
  void Expect(int x, int y, COLORREF expected, const char* what);

 private:
  const Image& image_;
  std::vector<RECT> skipped_;
  int wrong_ = 0;
};

// ---- On the screen. Tests that use these run alone: they move the pointer, and need
// their window uncovered. ----

// A child's rectangle in its dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND child);
inline RECT ChildRect(HWND dialog, int id) { return ChildRect(dialog, GetDlgItem(dialog, id)); }
// The rectangles of the visible children, in the window's client coordinates.
std::vector<RECT> VisibleChildRects(HWND window);
POINT ScreenCentre(HWND window);
// True when nothing covers the window: the window under its centre is its own.
bool Uncovered(HWND window);
// The pointer moved as a mouse moves it: the window under it gets WM_MOUSEMOVE.
void MovePointer(POINT to);
// A real button press or release where the pointer is (MOUSEEVENTF_LEFTDOWN, ...).
void Button(DWORD flags);
// Saves the image as build/screenshots/<name>.bmp; scripts/test.sh makes PNG files of them.
bool SaveScreenshot(const Image& image, const std::wstring& name);
// Pixels of the rectangle in the link's text colours.
int BlueIn(const Image& image, const RECT& rect);
int RedIn(const Image& image, const RECT& rect);

}  // namespace test
