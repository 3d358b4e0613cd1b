#include "tests/controls/pixels.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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

namespace {

// Deflate with the fixed Huffman codes and one kind of match, a run of the previous byte
// (distance 1). After PNG's row filters a flat surface is long runs of zeros, which is
// all this needs to write a dialog's screenshot in a few kilobytes.
class FixedDeflater {
 public:
  std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    Bits(1, 1);  // the final block
    Bits(1, 2);  // fixed codes
    size_t i = 0;
    while (i < data.size()) {
      size_t run = 0;
      if (i > 0)
        while (run < 258 && i + run < data.size() && data[i + run] == data[i - 1]) ++run;
      if (run >= 3) {
        Length(static_cast<int>(run));
        Code(0, 5);  // distance 1
        i += run;
      } else {
        Symbol(data[i++]);
      }
    }
    Symbol(256);  // end of block
    if (count_) out_.push_back(static_cast<uint8_t>(buffer_));
    return std::move(out_);
  }

 private:
  // Extra bits and the block header: least significant bit first.
  void Bits(uint32_t value, int n) {
    buffer_ |= value << count_;
    count_ += n;
    while (count_ >= 8) {
      out_.push_back(static_cast<uint8_t>(buffer_));
      buffer_ >>= 8;
      count_ -= 8;
    }
  }
  // Huffman codes: most significant bit first.
  void Code(uint32_t code, int n) {
    for (int bit = n - 1; bit >= 0; --bit) Bits((code >> bit) & 1, 1);
  }
  void Symbol(int symbol) {
    if (symbol < 144)
      Code(0x30 + symbol, 8);
    else if (symbol < 256)
      Code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
      Code(symbol - 256, 7);
    else
      Code(0xC0 + symbol - 280, 8);
  }
  void Length(int length) {
    static const int kBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int code = 28;
    while (kBase[code] > length) --code;
    Symbol(257 + code);
    Bits(static_cast<uint32_t>(length - kBase[code]), kExtra[code]);
  }

  std::vector<uint8_t> out_;
  uint32_t buffer_ = 0;
  int count_ = 0;
};

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void BigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void Chunk(std::string& png, const char* type, const std::vector<uint8_t>& body) {
  BigEndian(png, static_cast<uint32_t>(body.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  png.append(reinterpret_cast<const char*>(typed.data()), typed.size());
  BigEndian(png, Crc32(typed.data(), typed.size()));
}

}  // namespace

bool Image::SavePng(const std::wstring& path) const {
  GdiFlush();
  if (!bits_) return false;
  // Each row filtered with whichever of none, "sub" and "up" leaves the smallest values.
  const size_t stride = static_cast<size_t>(width_) * 3;
  std::vector<uint8_t> raw, previous(stride, 0), row(stride);
  raw.reserve((stride + 1) * height_);
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      const COLORREF c = At(x, y);
      row[x * 3] = GetRValue(c);
      row[x * 3 + 1] = GetGValue(c);
      row[x * 3 + 2] = GetBValue(c);
    }
    std::vector<uint8_t> filtered[3] = {row, row, row};
    for (size_t i = 0; i < stride; ++i) {
      filtered[1][i] = static_cast<uint8_t>(row[i] - (i >= 3 ? row[i - 3] : 0));
      filtered[2][i] = static_cast<uint8_t>(row[i] - previous[i]);
    }
    int best = 0;
    long bestCost = -1;
    for (int f = 0; f < 3; ++f) {
      long cost = 0;
      for (const uint8_t b : filtered[f]) cost += b < 128 ? b : 256 - b;
      if (bestCost < 0 || cost < bestCost) {
        best = f;
        bestCost = cost;
      }
    }
    raw.push_back(static_cast<uint8_t>(best));
    raw.insert(raw.end(), filtered[best].begin(), filtered[best].end());
    previous = row;
  }

  std::vector<uint8_t> zlib = {0x78, 0x01};
  const std::vector<uint8_t> deflated = FixedDeflater().Deflate(raw);
  zlib.insert(zlib.end(), deflated.begin(), deflated.end());
  uint32_t a = 1, b = 0;  // Adler-32 of the uncompressed data
  for (const uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  for (int shift = 24; shift >= 0; shift -= 8) zlib.push_back(static_cast<uint8_t>(((b << 16) | a) >> shift));

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  BigEndian(header, static_cast<uint32_t>(width_));
  BigEndian(header, static_cast<uint32_t>(height_));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits per channel, RGB, no interlace
  Chunk(png, "IHDR", std::vector<uint8_t>(header.begin(), header.end()));
  Chunk(png, "IDAT", zlib);
  Chunk(png, "IEND", {});

  win::FileHandle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!out) return false;
  DWORD written = 0;
  return WriteFile(out.get(), png.data(), static_cast<DWORD>(png.size()), &written, nullptr) && written == png.size();
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

}  // namespace test
