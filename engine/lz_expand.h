// Files compressed the way setup disks once shipped them ("SZDD", made by compress.exe and
// expanded by the system's LZ functions), read as the file they expand to.
//
// Pure byte work, no system calls, like the version reader it serves: it builds for
// Windows and natively for the fuzzer. The format: a 14-byte header (the magic
// "SZDD\x88\xF0\x27\x33", the mode 'A', the name's missing last character, the 32-bit
// expanded size), then groups of a control byte and eight items, its bits read from the
// lowest: 1 is a literal byte, 0 a pair of bytes giving a 12-bit position in a 4096-byte
// window and a 4-bit length less 3. The window starts filled with spaces, and its first
// output lands 16 bytes before its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/byte_source.h"

namespace engine {

// How much of a compressed file is ever expanded. A pair of bytes stands for up to 18,
// so a few megabytes of hostile input could otherwise be made to stand for gigabytes;
// what lies past this depth is never read. Real compressed setup files expand to a few
// megabytes at most.
inline constexpr uint64_t kMaxLzExpanded = 16u << 20;

class LzExpandedSource : public ByteSource {
 public:
  // The compressed file, which must outlive this source.
  explicit LzExpandedSource(ByteSource& compressed) : in_(compressed) {}

  // Reads the header. False when the file isn't in this format, or in another mode than
  // 'A': the system's LZ functions then read it as it is.
  bool Open();

  // The expanded size the header states, at most kMaxLzExpanded. The compressed data may
  // end sooner; reads past its end fail.
  uint64_t Size() const override { return size_; }

  // Expands as far as the read needs and no further. Everything expanded is kept, so a
  // read behind the furthest one never expands anything again.
  bool Read(uint64_t offset, void* buffer, size_t size) override;

  static constexpr size_t kHeaderSize = 14;

 private:
  bool ExpandTo(uint64_t end);
  bool Grow();
  bool NextByte(uint8_t& byte);

  static constexpr size_t kWindowSize = 4096;
  static constexpr size_t kLongestItem = 18;  // what one pair can stand for
  static constexpr size_t kChunkSize = 16384;

  ByteSource& in_;
  uint64_t size_ = 0;

  // Everything expanded so far. It grows with what the data really gives, never with what
  // a read asks for, and never past the cap and one item beyond it.
  std::unique_ptr<uint8_t[]> out_;
  size_t outLength_ = 0, outCapacity_ = 0;

  // The decoder, which only ever moves forward.
  uint8_t window_[kWindowSize];
  size_t windowAt_ = 0;
  unsigned control_ = 0;  // the control byte's bits not yet used, above a marker bit
  bool ended_ = false;    // the compressed data ran out, or memory did

  // The compressed bytes, read a chunk at a time.
  uint8_t chunk_[kChunkSize];
  size_t chunkAt_ = 0, chunkLength_ = 0;
  uint64_t inNext_ = kHeaderSize;
};

}  // namespace engine
