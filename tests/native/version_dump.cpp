// Prints what the version reader finds in each file named on the command line, one line a
// file: outcome, language (hex), the name's encoding ("utf16" or "ansi"), company name (as
// hex: UTF-16LE, or the block's ANSI bytes), path. The pefile oracle
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
    const engine::CompanyNameText& name = read.companyName;
    std::printf("%d\t%04x\t%s\t", static_cast<int>(read.outcome), read.language, name.ansi ? "ansi" : "utf16");
    for (const char16_t c : name.utf16) std::printf("%02x%02x", c & 0xFF, c >> 8);
    for (const char c : name.bytes) std::printf("%02x", static_cast<uint8_t>(c));
    std::printf("\t%s\n", argv[i]);
  }
  return 0;
}
