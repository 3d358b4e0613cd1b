#include "engine/marker.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "engine/version_resource.h"
#include "win/handles.h"

namespace engine {

namespace {

void TrimTrailingSpace(std::wstring& text) {
  size_t end = text.size();
  while (end > 0 && std::iswspace(text[end - 1])) --end;
  text.resize(end);
}

// The name as the version services give it: a 16-bit block's ANSI text converted with the
// system's ANSI code page, as VerQueryValueW converts it.
std::wstring Utf16Of(const CompanyNameText& name) {
  if (!name.ansi) return std::wstring(name.utf16.begin(), name.utf16.end());
  // At most a version block's 64 KiB, so the count fits an int.
  const int bytes = static_cast<int>(name.bytes.size());
  const int chars = bytes > 0 ? MultiByteToWideChar(CP_ACP, 0, name.bytes.data(), bytes, nullptr, 0) : 0;
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  if (chars > 0) MultiByteToWideChar(CP_ACP, 0, name.bytes.data(), bytes, &wide[0], chars);
  return wide;
}

// The open file as the reader's byte source. The reader's reads are small and cluster in
// the headers and the resource directory, so a few pages are kept; a version block, up
// to 64 KiB, or a compressed file's next chunk is read at once.
class FileBytes : public ByteSource {
 public:
  explicit FileBytes(HANDLE file) : file_(file) {}

  // Reads the first page from where a handle just opened stands, the start: Wine takes a
  // quarter longer over a read at a given offset. A file shorter than a page is then known
  // whole, without asking for its size (one call fewer for most of the files a scan meets).
  bool Start() {
    Page& first = pages_[0];
    DWORD read = 0;
    if (!win::os::ReadFile(file_, first.bytes, kPageSize, &read, nullptr)) return false;
    first.offset = 0;
    first.length = read;
    next_ = 1;
    if (read < kPageSize) {
      size_ = read;
      return true;
    }
    LARGE_INTEGER size{};
    if (!win::os::GetFileSizeEx(file_, &size)) return false;
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
  }

  uint64_t Size() const override { return size_; }

  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    if (size > kPageSize) return ReadExactly(offset, out, size);
    while (size > 0) {
      const Page* page = PageAt(offset - offset % kPageSize);
      if (!page) return false;
      const size_t within = static_cast<size_t>(offset - page->offset);
      const size_t take = std::min(size, page->length - std::min(page->length, within));
      if (take == 0) return false;
      std::memcpy(out, page->bytes + within, take);
      out += take;
      offset += take;
      size -= take;
    }
    return true;
  }

 private:
  static constexpr size_t kPageSize = 4096;
  static constexpr int kPages = 4;
  struct Page {
    uint64_t offset = 0;
    size_t length = 0;  // 0: empty
    uint8_t bytes[kPageSize];
  };

  // A positioned read, so that nothing depends on where the file pointer stands.
  bool ReadExactly(uint64_t offset, uint8_t* out, size_t size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return win::os::ReadFile(file_, out, static_cast<DWORD>(size), &read, &at) && read == size;
  }

  const Page* PageAt(uint64_t offset) {
    for (const Page& page : pages_)
      if (page.length > 0 && page.offset == offset) return &page;
    Page& page = pages_[next_];
    next_ = (next_ + 1) % kPages;
    page.offset = offset;
    page.length = static_cast<size_t>(std::min<uint64_t>(kPageSize, size_ - offset));
    if (!ReadExactly(offset, page.bytes, page.length)) {
      page.length = 0;
      return nullptr;
    }
    return &page;
  }

  HANDLE file_;
  uint64_t size_ = 0;
  Page pages_[kPages];
  int next_ = 0;
};

// The languages the platform's resource lookup tries when a module has several.
const LanguageOrder& Languages() {
  static const LanguageOrder languages = ResourceLanguageOrder(
      LANGIDFROMLCID(GetThreadLocale()), LANGIDFROMLCID(GetUserDefaultLCID()), LANGIDFROMLCID(GetSystemDefaultLCID()));
  return languages;
}

}  // namespace

bool GetFileCompanyName(HANDLE file, std::wstring& companyName) {
  // A pipe or a FIFO planted where a file was expected would hold the first read, and the
  // whole scan with it, for as long as its writer likes: only a disk file is read at all.
  if (win::os::GetFileType(file) != FILE_TYPE_DISK) return false;
  FileBytes bytes(file);
  if (!bytes.Start()) return false;
  const VersionResourceRead read = ReadVersionCompanyName(bytes, Languages());
  if (read.outcome != VersionResourceRead::Outcome::kFound) return false;
  companyName = Utf16Of(read.companyName);
  TrimTrailingSpace(companyName);
  return true;
}

bool IsVirusFile(HANDLE file) {
  std::wstring company;
  if (!GetFileCompanyName(file, company)) return false;
  return StrStrIW(company.c_str(), kVirusMarker) != nullptr;
}

}  // namespace engine
