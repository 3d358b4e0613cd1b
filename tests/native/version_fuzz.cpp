// libFuzzer target: the version reader must never read outside the file, crash or hang,
// whatever the bytes. Built natively with clang (see scripts/native.sh).
#include "tests/native/memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource file(data, size);
  // A language order with a language of its own, so that every branch of the choice runs.
  static const engine::LanguageOrder kLanguages = engine::ResourceLanguageOrder(0x0804, 0x0407, 0x0409);
  engine::ReadVersionCompanyName(file, kLanguages);
  // The block walker on its own as well, over the same bytes.
  std::u16string name;
  engine::CompanyNameFromVersionBlock(data, size, name);
  return 0;
}
