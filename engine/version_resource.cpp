#include "engine/version_resource.h"

#include <algorithm>
#include <optional>

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

// ---- The version block, walked as VerQueryValueW walks it. ---------------------------

size_t Align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

char16_t AsciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

// One node of the block: length, value length, type, key, value, children. Every offset
// is relative to the block's start; alignment is relative to the node's own start.
struct Node {
  size_t start = 0;
  size_t end = 0;  // start + the node's stated length; may lie past the block
  uint16_t valueLength = 0;
  size_t value = 0;
  size_t children = 0;
};

class Block {
 public:
  Block(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  std::optional<Node> NodeAt(size_t at) const {
    if (at > size_ || size_ - at < 6) return std::nullopt;
    Node node;
    node.start = at;
    node.end = at + U16(data_ + at);
    node.valueLength = U16(data_ + at + 2);
    const uint16_t type = U16(data_ + at + 4);
    size_t key = at + 6;
    while (true) {  // the key ends at its NUL, which must lie within the block
      if (size_ - key < 2) return std::nullopt;
      if (U16(data_ + key) == 0) break;
      key += 2;
    }
    node.value = at + Align4(key + 2 - at);
    // A text value's length counts characters, a binary one's bytes.
    node.children = node.value + Align4(static_cast<size_t>(node.valueLength) * (type ? 2 : 1));
    return node;
  }

  // The first child whose key equals `key` without regard to case (A to Z only: the
  // platform folds no other character onto these ASCII keys).
  std::optional<Node> FindChild(const Node& parent, const char16_t* key) const {
    size_t child = parent.children;
    while (child < parent.end) {
      if (child > size_ || size_ - child < 6) return std::nullopt;
      if (KeyIs(child + 6, key)) return NodeAt(child);
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
  bool KeyIs(size_t at, const char16_t* key) const {
    for (;; ++key, at += 2) {
      if (size_ - std::min(size_, at) < 2) return false;
      const char16_t c = static_cast<char16_t>(U16(data_ + at));
      if (AsciiLower(c) != AsciiLower(*key)) return false;
      if (*key == 0) return true;
    }
  }

  const uint8_t* data_;
  size_t size_;
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

bool CompanyNameFromVersionBlock(const uint8_t* data, size_t size, std::u16string& companyName) {
  if (LaidOutThe16BitWay(data, size)) return false;
  companyName.clear();
  const Block block(data, size);
  const auto root = block.NodeAt(0);
  if (!root) return true;

  // Only the last translation decides; the ones before it would each be overwritten.
  const auto files = block.FindChild(*root, u"VarFileInfo");
  const auto table = files ? block.FindChild(*files, u"Translation") : std::nullopt;
  if (!table) return true;
  const size_t entries = block.ValueUnits(*table, table->valueLength / 4u, 4);
  if (entries == 0) return true;
  const uint8_t* last = block.At(table->value + (entries - 1) * 4);

  std::u16string tableKey;
  AppendHex4(tableKey, U16(last));
  AppendHex4(tableKey, U16(last + 2));
  const auto strings = block.FindChild(*root, u"StringFileInfo");
  const auto tableNode = strings ? block.FindChild(*strings, tableKey.c_str()) : std::nullopt;
  const auto company = tableNode ? block.FindChild(*tableNode, u"CompanyName") : std::nullopt;
  if (!company) return true;
  // Up to the value's NUL, never past its stated length, never past the block.
  const size_t chars = block.ValueUnits(*company, company->valueLength, 2);
  const uint8_t* text = block.At(company->value);
  for (size_t i = 0; i < chars; ++i) {
    const char16_t c = static_cast<char16_t>(U16(text + 2 * i));
    if (c == 0) break;
    companyName += c;
  }
  return true;
}

VersionResourceRead ReadVersionCompanyName(ByteSource& file, const LanguageOrder& languages) {
  using Outcome = VersionResourceRead::Outcome;
  VersionResourceRead result;
  const uint64_t fileSize = file.Size();

  // The DOS header: "MZ", and where the newer header stands.
  uint8_t dos[64] = {};
  const size_t headLength = static_cast<size_t>(std::min<uint64_t>(fileSize, sizeof dos));
  if (headLength < 2 || !file.Read(0, dos, headLength)) return result;
  if (headLength >= 4 && dos[0] == 'S' && dos[1] == 'Z' && dos[2] == 'D' && dos[3] == 'D') {
    result.outcome = Outcome::kAskVersionServices;  // expanded by the services before they look
    return result;
  }
  if (dos[0] != 'M' || dos[1] != 'Z' || headLength < sizeof dos) return result;
  const uint32_t ntOffset = U32(dos + 0x3C);
  uint8_t signature[4];
  if (ntOffset >= kHighBit || ntOffset > fileSize || fileSize - ntOffset < sizeof signature ||
      !file.Read(ntOffset, signature, sizeof signature))
    return result;
  const bool pe = signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
  if (!pe) {
    // 16-bit and virtual-device images carry version resources of their own kinds.
    const bool otherImage = (signature[0] == 'N' && signature[1] == 'E') ||
                            (signature[0] == 'L' && (signature[1] == 'E' || signature[1] == 'X')) ||
                            (signature[0] == 'P' && signature[1] == 'E');
    if (otherImage) result.outcome = Outcome::kAskVersionServices;
    return result;
  }

  Image image(file);
  uint64_t blockOffset = 0;
  uint32_t blockSize = 0;
  if (!image.Open(ntOffset) || !image.FindVersionResource(languages, blockOffset, blockSize, result.language))
    return result;
  if (blockOffset >= fileSize) return result;
  // Never more than a version block can be, nor more than the file holds.
  const size_t length = static_cast<size_t>(std::min<uint64_t>({blockSize, kMaxVersionBlock, fileSize - blockOffset}));
  std::vector<uint8_t> block(length);
  if (length > 0 && !file.Read(blockOffset, block.data(), length)) return result;
  if (LaidOutThe16BitWay(block.data(), length)) {
    result.outcome = Outcome::kAskVersionServices;
    return result;
  }
  // The block's own length bounds the walk when it is shorter than the resource.
  const size_t walked = length >= 2 ? std::min<size_t>(length, U16(block.data())) : length;
  CompanyNameFromVersionBlock(block.data(), walked, result.companyName);
  result.outcome = Outcome::kFound;
  return result;
}

}  // namespace engine
