// The CompanyName of a file's version resource, read straight from the file's bytes.
//
// Pure byte work, no system calls: it builds for Windows and, for the fuzzer and the
// independent oracle, natively on Linux. The file is reached through ByteSource, so that
// the caller decides where the bytes come from (an open file handle, memory).
//
// What it reads is what the version services would read for a PE image: the version
// resource (type 16, name 1) in the language the platform's resource lookup chooses, and
// from that block the CompanyName of the last translation, found with the same key rules
// as VerQueryValueW. Every offset and length the file states is checked before use;
// a malformed file gives "no version resource", never a read outside the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// Random access to a file's bytes.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Fills `buffer` with exactly `size` bytes from `offset`; false when they can't all be read.
  virtual bool Read(uint64_t offset, void* buffer, size_t size) = 0;
};

struct VersionResourceRead {
  enum class Outcome {
    // Nothing that could be a version resource: not an image, or an image without one, or
    // one whose structures point outside the file.
    kNoVersionResource,
    // A version block was found and its translation table walked; companyName holds the
    // last translation's CompanyName (empty when it has none), language the block's.
    kFound,
    // An "MZ" image of another kind (16-bit NE, LE/LX), an LZ-compressed ("SZDD") file, or
    // a PE whose block is laid out the 16-bit way: this reader doesn't handle them, the
    // version services do.
    kAskVersionServices,
  };
  Outcome outcome = Outcome::kNoVersionResource;
  uint16_t language = 0;
  // Up to its terminator and never past its stated length; trailing blanks are kept.
  std::u16string companyName;
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
// VerQueryValueW finds "\VarFileInfo\Translation" and "\StringFileInfo\<lang><cp>\CompanyName".
// What can't be found (no table, no such entry, structures cut short) leaves the name
// empty. False only for a block laid out the 16-bit way, which this reader doesn't walk.
bool CompanyNameFromVersionBlock(const uint8_t* block, size_t size, std::u16string& companyName);

}  // namespace engine
