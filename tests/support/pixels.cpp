#include "tests/support/pixels.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "win/handles.h"

namespace test {

Image::Image(int width, int height) : width_(width), height_(height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: row 0 first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bits_ = static_cast<uint32_t*>(bits);
  dc_ = CreateCompatibleDC(nullptr);
  if (dc_ && bitmap_) previous_ = SelectObject(dc_, bitmap_);
}

Image::~Image() { Release(); }

void Image::Release() {
  if (dc_) {
    if (previous_) SelectObject(dc_, previous_);
    DeleteDC(dc_);
  }
  if (bitmap_) DeleteObject(bitmap_);
  dc_ = nullptr;
  bitmap_ = nullptr;
  previous_ = nullptr;
  bits_ = nullptr;
}

Image::Image(Image&& other) noexcept
    : width_(other.width_),
      height_(other.height_),
      dc_(std::exchange(other.dc_, nullptr)),
      bitmap_(std::exchange(other.bitmap_, nullptr)),
      previous_(std::exchange(other.previous_, nullptr)),
      bits_(std::exchange(other.bits_, nullptr)) {}

Image& Image::operator=(Image&& other) noexcept {
  if (this != &other) {
    Release();
    width_ = other.width_;
    height_ = other.height_;
    dc_ = std::exchange(other.dc_, nullptr);
    bitmap_ = std::exchange(other.bitmap_, nullptr);
    previous_ = std::exchange(other.previous_, nullptr);
    bits_ = std::exchange(other.bits_, nullptr);
  }
  return *this;
}

COLORREF Image::At(int x, int y) const {
  if (!bits_ || x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  const uint32_t bgra = bits_[static_cast<size_t>(y) * width_ + x];
  return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
}

void Image::Fill(COLORREF colour) {
  GdiFlush();
  const uint32_t bgra = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
  for (size_t i = 0; bits_ && i < static_cast<size_t>(width_) * height_; ++i) bits_[i] = bgra;
}

int Image::Count(const RECT& rect, const std::function<bool(COLORREF)>& wanted) const {
  GdiFlush();
  int count = 0;
  for (int y = rect.top; y < rect.bottom; ++y)
    for (int x = rect.left; x < rect.right; ++x)
      if (wanted(At(x, y))) ++count;
  return count;
}

RECT Image::Bounds(const RECT& rect, const std::function<bool(COLORREF)>& wanted) const {
  GdiFlush();
  RECT bounds = {rect.right, rect.bottom, rect.left, rect.top};
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      if (!wanted(At(x, y))) continue;
      bounds.left = std::min<LONG>(bounds.left, x);
      bounds.top = std::min<LONG>(bounds.top, y);
      bounds.right = std::max<LONG>(bounds.right, x + 1);
      bounds.bottom = std::max<LONG>(bounds.bottom, y + 1);
    }
  }
  if (bounds.left >= bounds.right) return RECT{};
  return bounds;
}

bool Image::SaveBmp(const std::wstring& path) const {
  GdiFlush();
  if (!bits_) return false;
  const DWORD pixelBytes = static_cast<DWORD>(width_) * height_ * 4;
  BITMAPINFOHEADER info = {};
  info.biSize = sizeof info;
  info.biWidth = width_;
  info.biHeight = -height_;
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  info.biSizeImage = pixelBytes;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + pixelBytes;

  win::FileHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!out) return false;
  DWORD written = 0;
  return WriteFile(out.get(), &file, sizeof file, &written, nullptr) &&
         WriteFile(out.get(), &info, sizeof info, &written, nullptr) &&
         WriteFile(out.get(), bits_, pixelBytes, &written, nullptr) && written == pixelBytes;
}

Image CaptureWindow(HWND window, bool wholeWindow) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT rect;
  if (wholeWindow) {
    GetWindowRect(window, &rect);
    OffsetRect(&rect, -rect.left, -rect.top);
  } else {
    GetClientRect(window, &rect);
  }
  Image image(rect.right, rect.bottom);
  const HDC source = wholeWindow ? GetWindowDC(window) : GetDC(window);
  BitBlt(image.dc(), 0, 0, rect.right, rect.bottom, source, 0, 0, SRCCOPY);
  ReleaseDC(window, source);
  GdiFlush();
  return image;
}

Image ImageOfBitmap(HBITMAP bitmap) {
  BITMAP info = {};
  GetObjectW(bitmap, sizeof info, &info);
  Image image(info.bmWidth, info.bmHeight);
  win::MemoryDc memory(CreateCompatibleDC(nullptr));
  win::SelectionRestorer selected(memory.get(), bitmap);
  BitBlt(image.dc(), 0, 0, info.bmWidth, info.bmHeight, memory.get(), 0, 0, SRCCOPY);
  GdiFlush();
  return image;
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
  return std::abs(int(GetRValue(a)) - int(GetRValue(b))) <= tolerance &&
         std::abs(int(GetGValue(a)) - int(GetGValue(b))) <= tolerance &&
         std::abs(int(GetBValue(a)) - int(GetBValue(b))) <= tolerance;
}

bool IsLinkBlue(COLORREF c) {
  // Pure text colour, or a blend of it with a light ground: blue clearly above red.
  return GetBValue(c) >= GetRValue(c) + 50 && GetBValue(c) >= GetGValue(c) + 30;
}

bool IsLinkRed(COLORREF c) {
  return GetRValue(c) >= 200 && GetGValue(c) + 60 <= GetRValue(c) && GetBValue(c) + 60 <= GetRValue(c);
}

std::string Hex(COLORREF colour) {
  char text[16];
  std::snprintf(text, sizeof text, "RGB(%u,%u,%u)", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

PixelCheck::PixelCheck(const Image& image, std::vector<RECT> skipped) : image_(image), skipped_(std::move(skipped)) {
  GdiFlush();
}

void PixelCheck::Expect(int x, int y, COLORREF expected, const char* what) {
  const POINT p = {x, y};
  for (const RECT& rect : skipped_)
    if (PtInRect(&rect, p)) return;
  if (wrong_ >= 10 || image_.At(x, y) == expected) return;
  ++wrong_;
  ADD_FAILURE() << what << " at (" << x << ", " << y << ") is " << Hex(image_.At(x, y)) << ", expected "
                << Hex(expected);
}

RECT ChildRect(HWND dialog, HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::vector<RECT> VisibleChildRects(HWND window) {
  std::vector<RECT> rects;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (IsWindowVisible(child)) rects.push_back(ChildRect(window, child));
  return rects;
}

POINT ScreenCentre(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

bool Uncovered(HWND window) { return GetAncestor(WindowFromPoint(ScreenCentre(window)), GA_ROOT) == window; }

void MovePointer(POINT to) {
  SetCursorPos(to.x, to.y);
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(1, &input, sizeof input);
}

void Button(DWORD flags) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

bool SaveScreenshot(const Image& image, const std::wstring& name) {
  const std::wstring folder = ExeDir() + L"..\\screenshots\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return image.SaveBmp(folder + name + L".bmp");
}

int BlueIn(const Image& image, const RECT& rect) { return image.Count(rect, IsLinkBlue); }
int RedIn(const Image& image, const RECT& rect) { return image.Count(rect, IsLinkRed); }

}  // namespace test
