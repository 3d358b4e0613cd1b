// libFuzzer target: the version reader must never read outside the file, crash or hang,
// whatever the bytes. Built natively with clang (see scripts/native.sh).
#include <algorithm>
#include <vector>

#include "engine/lz_expand.h"
#include "tests/native/memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource file(data, size);
  // A language order with a language of its own, so that every branch of the choice runs.
  // PE and NE images, and compressed files through the expander.
  static const engine::LanguageOrder kLanguages = engine::ResourceLanguageOrder(0x0804, 0x0407, 0x0409);
  engine::ReadVersionCompanyName(file, kLanguages);
  // The block walker on its own as well, over the same bytes: the layout the fifth byte
  // tells, and the other one with that byte changed.
  engine::CompanyNameFromVersionBlock(data, size);
  if (size > 4) {
    std::vector<uint8_t> other(data, data + size);
    other[4] = other[4] >= 0x20 && other[4] < 0x80 ? 0 : 'V';
    engine::CompanyNameFromVersionBlock(other.data(), other.size());
  }
  // The expander on its own, read in pieces of odd sizes, forward and back: its first
  // 64 KiB, as the reader above has already expanded as far as the image led it.
  engine::LzExpandedSource expanded(file);
  if (expanded.Open()) {
    uint8_t piece[777];
    const uint64_t end = std::min<uint64_t>(expanded.Size(), 65536);
    for (uint64_t at = 0; at < end; at += sizeof piece) {
      if (!expanded.Read(at, piece, static_cast<size_t>(std::min<uint64_t>(sizeof piece, end - at)))) break;
      if (at >= sizeof piece && !expanded.Read(at / 2, piece, 1)) __builtin_trap();  // what was expanded stays
    }
  }
  return 0;
}
