// The CompanyName of a file's version resource, read straight from the file's bytes.
//
// Pure byte work, no system calls: it builds for Windows and, for the fuzzer and the
// independent oracle, natively on Linux. The file is reached through ByteSource, so that
// the caller decides where the bytes come from (an open file handle, memory).
//
// What it reads is what the version services would read: for a PE image the version
// resource (type 16, name 1) in the language the platform's resource lookup chooses, for a
// 16-bit (NE) image the one its resource table lists, for an LZ-compressed ("SZDD") file
// the same in the image it expands to; and from that block the CompanyName of the last
// translation, found with the same key rules as VerQueryValueW, in either of the two
// layouts a block can have. Every offset and length the file states is checked before
// use; a malformed file gives "no version resource", never a read outside the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/byte_source.h"

namespace engine {

// The CompanyName as the block holds it. A block laid out the 32-bit way holds UTF-16
// text; one laid out the 16-bit way (every NE image's, and some old PE images') holds bytes
// of the system's ANSI code page, which the version services turn into UTF-16 with it.
struct CompanyNameText {
  bool ansi = false;
  // Up to its terminator and never past the block; trailing blanks are kept. A 32-bit
  // value also stops at its stated length; a 16-bit one doesn't, as the services convert
  // it up to its terminator whatever its length says.
  std::u16string utf16;  // when !ansi
  std::string bytes;     // when ansi
};

struct VersionResourceRead {
  enum class Outcome {
    // Nothing that could be a version resource: not an image (or one of a kind that has
    // none for us, such as a virtual-device driver), or an image without one, or one whose
    // structures point outside the file.
    kNoVersionResource,
    // A version block was found and its translation table walked; companyName holds the
    // last translation's CompanyName (empty when it has none), language the block's (0 in
    // an NE image, whose resources have none).
    kFound,
  };
  Outcome outcome = Outcome::kNoVersionResource;
  uint16_t language = 0;
  CompanyNameText companyName;
};

// The languages to try, in order, when a resource exists in several; when none of them
// is there, the first language the directory lists is taken.
using LanguageOrder = std::vector<uint16_t>;

// The order of the platform's own resource lookup for a request in the neutral language:
// neutral, the thread's locale, the user's locale and its primary language, the system's
// locale and its primary language, then U.S. English; duplicates count once.
LanguageOrder ResourceLanguageOrder(uint16_t threadLanguage, uint16_t userLanguage, uint16_t systemLanguage);

VersionResourceRead ReadVersionCompanyName(ByteSource& file, const LanguageOrder& languages);

// The CompanyName of the last translation of a version block in memory, found as
// VerQueryValueW finds "\VarFileInfo\Translation" and "\StringFileInfo\<lang><cp>\CompanyName",
// in the layout the block's fifth byte tells, as the services tell it. What can't be found
// (no table, no such entry, structures cut short) leaves the name empty.
CompanyNameText CompanyNameFromVersionBlock(const uint8_t* block, size_t size);

}  // namespace engine
