#include "engine/lz_expand.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace engine {

namespace {

constexpr uint8_t kMagic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr uint8_t kMode = 'A';
// Where the first expanded byte goes into the window.
constexpr size_t kWindowStart = 4096 - 16;

}  // namespace

bool LzExpandedSource::Open() {
  uint8_t header[kHeaderSize];
  if (in_.Size() < kHeaderSize || !in_.Read(0, header, sizeof header)) return false;
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || header[8] != kMode) return false;
  const uint32_t stated = static_cast<uint32_t>(header[10]) | static_cast<uint32_t>(header[11]) << 8 |
                          static_cast<uint32_t>(header[12]) << 16 | static_cast<uint32_t>(header[13]) << 24;
  size_ = std::min<uint64_t>(stated, kMaxLzExpanded);
  std::memset(window_, ' ', sizeof window_);
  windowAt_ = kWindowStart;
  return true;
}

bool LzExpandedSource::Read(uint64_t offset, void* buffer, size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (!ExpandTo(offset + size)) return false;
  if (size > 0) std::memcpy(buffer, out_.get() + offset, size);
  return true;
}

bool LzExpandedSource::NextByte(uint8_t& byte) {
  if (chunkAt_ == chunkLength_) {
    const uint64_t total = in_.Size();
    if (inNext_ >= total) return false;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kChunkSize, total - inNext_));
    if (!in_.Read(inNext_, chunk_, length)) return false;
    inNext_ += length;
    chunkAt_ = 0;
    chunkLength_ = length;
  }
  byte = chunk_[chunkAt_++];
  return true;
}

bool LzExpandedSource::Grow() {
  const size_t capacity =
      static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(2 * outCapacity_, 4096), size_ + kLongestItem));
  if (capacity <= outCapacity_) return false;
  std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
  if (!grown) return false;
  if (outLength_ > 0) std::memcpy(grown.get(), out_.get(), outLength_);
  out_ = std::move(grown);
  outCapacity_ = capacity;
  return true;
}

// Stops once `end` bytes are out, or where the data (or the memory for it) ends.
bool LzExpandedSource::ExpandTo(uint64_t end) {
  while (outLength_ < end && !ended_) {
    // Room for one more item, whatever it stands for.
    if (outCapacity_ - outLength_ < kLongestItem && !Grow()) break;
    // The marker bit above the control byte's eight tells when a new one is due.
    if ((control_ & 0x100) == 0) {
      uint8_t control = 0;
      if (!NextByte(control)) break;
      control_ = control | 0xFF00u;
    }
    const bool literal = control_ & 1;
    control_ >>= 1;
    uint8_t low = 0, high = 0;
    if (literal) {
      if (!NextByte(low)) break;
      window_[windowAt_] = low;
      windowAt_ = (windowAt_ + 1) % kWindowSize;
      out_[outLength_++] = low;
      continue;
    }
    if (!NextByte(low) || !NextByte(high)) break;
    size_t from = low | static_cast<size_t>(high & 0xF0) << 4;
    // Byte by byte: a copy may take the bytes it has just put into the window.
    for (int count = (high & 0x0F) + 3; count > 0; --count) {
      const uint8_t byte = window_[from];
      from = (from + 1) % kWindowSize;
      window_[windowAt_] = byte;
      windowAt_ = (windowAt_ + 1) % kWindowSize;
      out_[outLength_++] = byte;
    }
  }
  if (outLength_ >= end) return true;
  ended_ = true;
  return false;
}

}  // namespace engine
