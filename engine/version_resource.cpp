#include "engine/version_resource.h"

#include <algorithm>
#include <optional>

#include "engine/lz_expand.h"

namespace engine {

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

constexpr uint16_t kVersionResourceType = 16;  // RT_VERSION
constexpr uint16_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr uint16_t kEnglishUS = 0x0409;
// A version block's length is a 16-bit count of bytes: nothing past it is ever read.
constexpr size_t kMaxVersionBlock = 0xFFFF;
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kHighBit = 0x80000000u;

// ---- The image: headers, sections, and the resource directory. ----------------------

struct Section {
  uint32_t virtualAddress;
  uint32_t rawSize;
  uint32_t rawPointer;
};

class Image {
 public:
  explicit Image(ByteSource& file) : file_(file) {}

  // Reads the headers of a PE image whose signature stands at ntOffset. False when they
  // don't lie within the file or name no resource directory.
  bool Open(uint32_t ntOffset);

  // The version resource's file offset and size, in the first language of `languages`
  // that has one, else in the first language listed.
  bool FindVersionResource(const LanguageOrder& languages, uint64_t& offset, uint32_t& size, uint16_t& language);

 private:
  // Where an address of the loaded image lies in the file: the first section, in table
  // order, whose file data covers it. This is how the loader maps a module loaded as data.
  std::optional<uint64_t> FileOffsetOf(uint32_t rva) const;

  // A directory entry's target: an offset from the root of the resource directory.
  // `wantDirectory` tells which kind of target it must have, as the loader demands.
  std::optional<uint32_t> FindById(uint32_t directory, uint16_t id, bool wantDirectory, uint16_t* foundId = nullptr);
  std::optional<uint32_t> FindFirst(uint32_t directory, bool wantDirectory, uint16_t* foundId);
  bool ReadEntry(uint32_t directory, uint32_t index, uint32_t& name, uint32_t& target);
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size) {
    return offset <= file_.Size() && size <= file_.Size() - offset && file_.Read(offset, buffer, size);
  }

  ByteSource& file_;
  std::vector<Section> sections_;
  uint64_t root_ = 0;  // file offset of the resource directory's root
};

bool Image::Open(uint32_t ntOffset) {
  // Signature (4), file header (20), then the optional header up to the data directories.
  uint8_t header[24];
  if (!ReadAt(ntOffset, header, sizeof header)) return false;
  const uint16_t sectionCount = U16(header + 6);
  const uint16_t optionalSize = U16(header + 20);

  const uint64_t optional = static_cast<uint64_t>(ntOffset) + sizeof header;
  uint8_t fields[136] = {};
  if (!ReadAt(optional, fields, 2)) return false;
  uint32_t headersSize = 0, directoryCount = 0, resourceRva = 0, resourceSize = 0;
  switch (U16(fields)) {
    case 0x10B:  // PE32
      if (!ReadAt(optional, fields, 120)) return false;
      headersSize = U32(fields + 60);
      directoryCount = U32(fields + 92);
      resourceRva = U32(fields + 112);
      resourceSize = U32(fields + 116);
      break;
    case 0x20B:  // PE32+
      if (!ReadAt(optional, fields, 136)) return false;
      headersSize = U32(fields + 60);
      directoryCount = U32(fields + 108);
      resourceRva = U32(fields + 128);
      resourceSize = U32(fields + 132);
      break;
    default:
      return false;
  }
  // The resource directory is the third data directory.
  if (directoryCount <= 2 || resourceRva == 0 || resourceSize < kDirectoryHeaderSize) return false;

  // The section table follows the optional header as its stated size places it. Its size
  // is capped by the 16-bit count; entries beyond the file's end don't exist.
  const uint64_t table = optional + optionalSize;
  const uint64_t fileSize = file_.Size();
  uint64_t whole = table < fileSize ? (fileSize - table) / kSectionHeaderSize : 0;
  whole = std::min<uint64_t>(whole, sectionCount);
  std::vector<uint8_t> raw(static_cast<size_t>(whole) * kSectionHeaderSize);
  if (!raw.empty() && !ReadAt(table, raw.data(), raw.size())) return false;
  sections_.clear();
  for (size_t i = 0; i < whole; ++i) {
    const uint8_t* s = raw.data() + i * kSectionHeaderSize;
    sections_.push_back({U32(s + 12), U32(s + 16), U32(s + 20)});
  }

  // An address inside the headers is its own file offset; any other goes through the sections.
  if (resourceRva < headersSize) {
    root_ = resourceRva;
  } else if (const auto at = FileOffsetOf(resourceRva)) {
    root_ = *at;
  } else {
    return false;
  }
  return true;
}

std::optional<uint64_t> Image::FileOffsetOf(uint32_t rva) const {
  for (const Section& s : sections_) {
    if (s.virtualAddress <= rva && rva < static_cast<uint64_t>(s.virtualAddress) + s.rawSize)
      return static_cast<uint64_t>(s.rawPointer) + (rva - s.virtualAddress);
  }
  return std::nullopt;
}

bool Image::ReadEntry(uint32_t directory, uint32_t index, uint32_t& name, uint32_t& target) {
  uint8_t entry[kDirectoryEntrySize];
  const uint64_t at = root_ + directory + kDirectoryHeaderSize + static_cast<uint64_t>(index) * kDirectoryEntrySize;
  if (!ReadAt(at, entry, sizeof entry)) return false;
  name = U32(entry);
  target = U32(entry + 4);
  return true;
}

// The loader's binary search over the entries with numeric ids, which follow the named ones.
std::optional<uint32_t> Image::FindById(uint32_t directory, uint16_t id, bool wantDirectory, uint16_t* foundId) {
  uint8_t header[kDirectoryHeaderSize];
  if (!ReadAt(root_ + directory, header, sizeof header)) return std::nullopt;
  int64_t low = U16(header + 12);
  int64_t high = low + U16(header + 14) - 1;
  while (low <= high) {
    const int64_t middle = (low + high) / 2;
    uint32_t name = 0, target = 0;
    if (!ReadEntry(directory, static_cast<uint32_t>(middle), name, target)) return std::nullopt;
    const uint16_t entryId = static_cast<uint16_t>(name);
    if (entryId == id) {
      if (((target & kHighBit) != 0) != wantDirectory) return std::nullopt;
      if (foundId) *foundId = entryId;
      return target & ~kHighBit;
    }
    if (entryId > id)
      high = middle - 1;
    else
      low = middle + 1;
  }
  return std::nullopt;
}

std::optional<uint32_t> Image::FindFirst(uint32_t directory, bool wantDirectory, uint16_t* foundId) {
  uint8_t header[kDirectoryHeaderSize];
  if (!ReadAt(root_ + directory, header, sizeof header)) return std::nullopt;
  const uint32_t count = static_cast<uint32_t>(U16(header + 12)) + U16(header + 14);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t name = 0, target = 0;
    if (!ReadEntry(directory, i, name, target)) return std::nullopt;
    if (((target & kHighBit) != 0) == wantDirectory) {
      *foundId = static_cast<uint16_t>(name);
      return target & ~kHighBit;
    }
  }
  return std::nullopt;
}

bool Image::FindVersionResource(const LanguageOrder& languages, uint64_t& offset, uint32_t& size, uint16_t& language) {
  // Three levels, type, name and language, as the loader walks them: the depth of the
  // tree a file may claim never matters.
  const auto names = FindById(0, kVersionResourceType, true);
  if (!names) return false;
  const auto languageDirectory = FindById(*names, kVersionResourceName, true);
  if (!languageDirectory) return false;
  std::optional<uint32_t> entry;
  for (const uint16_t wanted : languages) {
    if ((entry = FindById(*languageDirectory, wanted, false, &language))) break;
  }
  if (!entry && !(entry = FindFirst(*languageDirectory, false, &language))) return false;

  uint8_t data[8];
  if (!ReadAt(root_ + *entry, data, sizeof data)) return false;
  const auto at = FileOffsetOf(U32(data));
  if (!at) return false;
  offset = *at;
  size = U32(data + 4);
  return true;
}

// ---- 16-bit (NE) images: the resource table, searched as the version services do. ---

// Numeric ids carry the high bit in an NE resource table.
constexpr uint16_t kNeVersionType = 0x8000 | kVersionResourceType;
constexpr uint16_t kNeVersionName = 0x8000 | kVersionResourceName;
constexpr size_t kNeHeaderSize = 64;
constexpr size_t kNeTypeInfoSize = 8;   // type id, count, loader
constexpr size_t kNeNameInfoSize = 12;  // offset, length, flags, id, handle, usage

bool ReadWithin(ByteSource& file, uint64_t offset, uint8_t* buffer, size_t size) {
  return offset <= file.Size() && size <= file.Size() - offset && file.Read(offset, buffer, size);
}

// The version resource's file offset and size in the NE image whose header stands at
// neOffset. The table lies between the header's resource-table and resident-names offsets:
// an alignment shift, then per type its id, count and entries, up to a type id 0. Nothing
// past the table is read.
bool FindNeVersionResource(ByteSource& file, uint32_t neOffset, uint64_t& offset, uint32_t& size) {
  uint8_t header[kNeHeaderSize];
  if (!ReadWithin(file, neOffset, header, sizeof header)) return false;
  const uint16_t tableStart = U16(header + 0x24);
  const uint16_t tableEnd = U16(header + 0x26);
  if (tableEnd <= tableStart) return false;
  std::vector<uint8_t> table(tableEnd - tableStart);
  if (!ReadWithin(file, static_cast<uint64_t>(neOffset) + tableStart, table.data(), table.size())) return false;
  if (table.size() < 2) return false;
  // Offsets and lengths are counted in units of 2^shift bytes; beyond 31 nothing fits 32 bits.
  const uint16_t shift = U16(table.data());
  if (shift > 31) return false;

  // Type by type, up to the id 0 that ends them; the first type of version resources decides.
  size_t at = 2, count = 0;
  while (true) {
    if (table.size() - at < 2 || U16(table.data() + at) == 0) return false;
    if (table.size() - at < kNeTypeInfoSize) return false;
    const uint16_t type = U16(table.data() + at);
    count = U16(table.data() + at + 2);
    at += kNeTypeInfoSize;
    if (type == kNeVersionType) break;
    if ((table.size() - at) / kNeNameInfoSize < count) return false;
    at += count * kNeNameInfoSize;
  }
  for (size_t i = 0; i < count && table.size() - at >= kNeNameInfoSize; ++i, at += kNeNameInfoSize) {
    const uint8_t* entry = table.data() + at;
    if (U16(entry + 6) != kNeVersionName) continue;
    offset = static_cast<uint32_t>(static_cast<uint64_t>(U16(entry)) << shift);
    size = static_cast<uint32_t>(static_cast<uint64_t>(U16(entry + 2)) << shift);
    return true;
  }
  return false;
}

// ---- The version block, walked as VerQueryValueW walks it. ---------------------------

size_t Align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// One node of the block: length, value length, type (not in the 16-bit layout), key,
// value, children. Every offset is relative to the block's start; alignment is relative
// to the node's own start.
struct Node {
  size_t start = 0;
  size_t end = 0;  // start + the node's stated length; may lie past the block
  uint16_t valueLength = 0;
  size_t value = 0;
  size_t children = 0;
};

class Block {
 public:
  // `narrow`: laid out the 16-bit way, with ANSI keys and no type, every value's length
  // counted in bytes.
  Block(const uint8_t* data, size_t size, bool narrow)
      : data_(data), size_(size), header_(narrow ? 4 : 6), unit_(narrow ? 1 : 2) {}

  std::optional<Node> NodeAt(size_t at) const {
    if (at > size_ || size_ - at < header_) return std::nullopt;
    Node node;
    node.start = at;
    node.end = at + U16(data_ + at);
    node.valueLength = U16(data_ + at + 2);
    // A text value's length counts characters, a binary one's bytes.
    const size_t valueUnit = unit_ == 2 && U16(data_ + at + 4) != 0 ? 2 : 1;
    size_t key = at + header_;
    while (true) {  // the key ends at its NUL, which must lie within the block
      if (size_ - key < unit_) return std::nullopt;
      if (CharAt(key) == 0) break;
      key += unit_;
    }
    node.value = at + Align4(key + unit_ - at);
    node.children = node.value + Align4(static_cast<size_t>(node.valueLength) * valueUnit);
    return node;
  }

  // The first child whose key equals `key` without regard to case (A to Z only: the
  // platform folds no other character onto these ASCII keys).
  std::optional<Node> FindChild(const Node& parent, const char16_t* key) const {
    size_t child = parent.children;
    while (child < parent.end) {
      if (child > size_ || size_ - child < header_) return std::nullopt;
      if (KeyIs(child + header_, key)) return NodeAt(child);
      const uint16_t length = U16(data_ + child);
      if (length == 0) return std::nullopt;
      child += Align4(length);
    }
    return std::nullopt;
  }

  // How many whole units of `unit` bytes of a node's value lie within the block, at most `wanted`.
  size_t ValueUnits(const Node& node, size_t wanted, size_t unit) const {
    const size_t available = node.value < size_ ? (size_ - node.value) / unit : 0;
    return std::min(wanted, available);
  }
  const uint8_t* At(size_t offset) const { return data_ + offset; }

 private:
  char16_t CharAt(size_t at) const { return unit_ == 1 ? data_[at] : static_cast<char16_t>(U16(data_ + at)); }

  bool KeyIs(size_t at, const char16_t* key) const {
    for (;; ++key, at += unit_) {
      if (size_ - std::min(size_, at) < unit_) return false;
      if (AsciiLower(CharAt(at)) != AsciiLower(*key)) return false;
      if (*key == 0) return true;
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t header_;  // length, value length and, in the 32-bit layout, type
  size_t unit_;    // bytes per key character
};

void AppendHex4(std::u16string& out, uint16_t value) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

// The 16-bit layout has a narrow key where the 32-bit one has its type: the version
// services tell them apart by that byte being printable.
bool LaidOutThe16BitWay(const uint8_t* block, size_t size) { return size > 4 && block[4] >= 0x20 && block[4] < 0x80; }

}  // namespace

LanguageOrder ResourceLanguageOrder(uint16_t threadLanguage, uint16_t userLanguage, uint16_t systemLanguage) {
  const uint16_t order[] = {0,
                            threadLanguage,
                            userLanguage,
                            static_cast<uint16_t>(userLanguage & 0x3FF),
                            systemLanguage,
                            static_cast<uint16_t>(systemLanguage & 0x3FF),
                            kEnglishUS};
  LanguageOrder languages;
  for (const uint16_t language : order) {
    if (std::find(languages.begin(), languages.end(), language) == languages.end()) languages.push_back(language);
  }
  return languages;
}

CompanyNameText CompanyNameFromVersionBlock(const uint8_t* data, size_t size) {
  CompanyNameText name;
  name.ansi = LaidOutThe16BitWay(data, size);
  const Block block(data, size, name.ansi);
  const auto root = block.NodeAt(0);
  if (!root) return name;

  // Only the last translation decides; the ones before it would each be overwritten.
  const auto files = block.FindChild(*root, u"VarFileInfo");
  const auto table = files ? block.FindChild(*files, u"Translation") : std::nullopt;
  if (!table) return name;
  const size_t entries = block.ValueUnits(*table, table->valueLength / 4u, 4);
  if (entries == 0) return name;
  const uint8_t* last = block.At(table->value + (entries - 1) * 4);

  std::u16string tableKey;
  AppendHex4(tableKey, U16(last));
  AppendHex4(tableKey, U16(last + 2));
  const auto strings = block.FindChild(*root, u"StringFileInfo");
  const auto tableNode = strings ? block.FindChild(*strings, tableKey.c_str()) : std::nullopt;
  const auto company = tableNode ? block.FindChild(*tableNode, u"CompanyName") : std::nullopt;
  if (!company) return name;
  if (name.ansi) {
    // The services convert an ANSI value up to its NUL whatever its stated length; never
    // past the block here.
    const size_t bytes = block.ValueUnits(*company, size, 1);
    if (bytes == 0) return name;
    const uint8_t* text = block.At(company->value);
    name.bytes.assign(text, std::find(text, text + bytes, 0));
    return name;
  }
  // Up to the value's NUL, never past its stated length, never past the block.
  const size_t chars = block.ValueUnits(*company, company->valueLength, 2);
  for (size_t i = 0; i < chars; ++i) {
    const char16_t c = static_cast<char16_t>(U16(block.At(company->value + 2 * i)));
    if (c == 0) break;
    name.utf16 += c;
  }
  return name;
}

namespace {

// An image, read as it lies in `file`: its kind from the DOS header's pointer, then the
// version resource as the services find it in that kind.
VersionResourceRead ReadImage(ByteSource& file, const LanguageOrder& languages) {
  using Outcome = VersionResourceRead::Outcome;
  VersionResourceRead result;
  const uint64_t fileSize = file.Size();

  // The DOS header: "MZ", and where the newer header stands.
  uint8_t dos[64];
  if (!ReadWithin(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return result;
  const uint32_t ntOffset = U32(dos + 0x3C);
  uint8_t signature[4];
  if (ntOffset >= kHighBit || !ReadWithin(file, ntOffset, signature, 2)) return result;

  uint64_t blockOffset = 0;
  uint32_t blockSize = 0;
  if (signature[0] == 'P' && signature[1] == 'E') {
    // What the loader takes for a PE image, and nothing else: the whole signature.
    Image image(file);
    if (!ReadWithin(file, ntOffset, signature, 4) || signature[2] != 0 || signature[3] != 0 || !image.Open(ntOffset) ||
        !image.FindVersionResource(languages, blockOffset, blockSize, result.language))
      return result;
  } else if (signature[0] == 'N' && signature[1] == 'E') {
    if (!FindNeVersionResource(file, ntOffset, blockOffset, blockSize)) return result;
  } else {
    // Virtual-device drivers (LE, LX) and anything else: no version resource we read.
    return result;
  }

  if (blockOffset >= fileSize) return result;
  // Never more than a version block can be, nor more than the file holds.
  const size_t length = static_cast<size_t>(std::min<uint64_t>({blockSize, kMaxVersionBlock, fileSize - blockOffset}));
  std::vector<uint8_t> block(length);
  if (length > 0 && !file.Read(blockOffset, block.data(), length)) return result;
  // The block's own length bounds the walk when it is shorter than the resource.
  const size_t walked = length >= 2 ? std::min<size_t>(length, U16(block.data())) : length;
  result.companyName = CompanyNameFromVersionBlock(block.data(), walked);
  result.outcome = Outcome::kFound;
  return result;
}

}  // namespace

VersionResourceRead ReadVersionCompanyName(ByteSource& file, const LanguageOrder& languages) {
  // A compressed file is read as the image it expands to. One level only: a compressed
  // file inside is not expanded again, and has no version resource.
  LzExpandedSource expanded(file);
  if (expanded.Open()) return ReadImage(expanded, languages);
  return ReadImage(file, languages);
}

}  // namespace engine
