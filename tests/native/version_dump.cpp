// Prints what the version reader finds in each file named on the command line, one line a
// file: outcome, language (hex), company name (UTF-16LE as hex), path. The pefile oracle
// (tests/native/pefile_oracle.py) compares it with an independent parser.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/native/memory_source.h"

int main(int argc, char** argv) {
  // A machine whose thread, user and system languages are all U.S. English.
  const engine::LanguageOrder languages = engine::ResourceLanguageOrder(0x0409, 0x0409, 0x0409);
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    MemorySource file(bytes.data(), bytes.size());
    const engine::VersionResourceRead read = engine::ReadVersionCompanyName(file, languages);
    std::printf("%d\t%04x\t", static_cast<int>(read.outcome), read.language);
    for (const char16_t c : read.companyName) std::printf("%02x%02x", c & 0xFF, c >> 8);
    std::printf("\t%s\n", argv[i]);
  }
  return 0;
}
