// Random access to a file's bytes, wherever they come from: an open file handle, memory,
// a compressed file as it expands. Pure byte work reads through it, so that it also builds
// natively for the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Fills `buffer` with exactly `size` bytes from `offset`; false when they can't all be read.
  virtual bool Read(uint64_t offset, void* buffer, size_t size) = 0;
};

}  // namespace engine
