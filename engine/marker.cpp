#include "engine/marker.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>

#include "engine/version_resource.h"
#include "win/handles.h"

namespace engine {

namespace {

struct LangCodePage {
  WORD language;
  WORD codePage;
};

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

// The company name from a version block that the version services filled.
std::wstring CompanyNameOf(const BYTE* block) {
  // A missing table comes back with length 0 and the loop below doesn't run.
  LangCodePage* table = nullptr;
  UINT tableBytes = 0;
  win::VerQueryValueW(block, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&table), &tableBytes);
  const UINT entries = table ? tableBytes / sizeof(LangCodePage) : 0;

  std::wstring name;
  for (UINT i = 0; i < entries; ++i) {
    wchar_t query[50];
    std::swprintf(query, 50, L"\\StringFileInfo\\%04x%04x\\CompanyName", table[i].language, table[i].codePage);
    wchar_t* value = nullptr;
    UINT valueChars = 0;
    // The last translation wins, even when its CompanyName is missing or empty.
    if (win::VerQueryValueW(block, query, reinterpret_cast<void**>(&value), &valueChars) && value && valueChars > 0)
      name.assign(value, wcsnlen(value, valueChars));  // up to its NUL, never past the value
    else
      name.clear();
    TrimTrailingSpace(name);
  }
  return name;
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
    if (!ReadFile(file_, first.bytes, kPageSize, &read, nullptr)) return false;
    first.offset = 0;
    first.length = read;
    next_ = 1;
    if (read < kPageSize) {
      size_ = read;
      return true;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_, &size)) return false;
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
    return ReadFile(file_, out, static_cast<DWORD>(size), &read, &at) && read == size;
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

bool GetFileCompanyName(HANDLE file, [[maybe_unused]] const wchar_t* path, std::wstring& companyName) {
  FileBytes bytes(file);
  if (!bytes.Start()) return false;
  const VersionResourceRead read = ReadVersionCompanyName(bytes, Languages());
  if (read.outcome != VersionResourceRead::Outcome::kFound) return false;
  companyName = Utf16Of(read.companyName);
  TrimTrailingSpace(companyName);
  return true;
}

bool GetFileCompanyName(const wchar_t* path, std::wstring& companyName) {
  // The same sharing as the restoration's opens, so that the read never fails on a file
  // the rest of the scan could open.
  win::FileHandle file(
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  // What can't be opened here may still be readable to the services (they open it their
  // own way); a directory or a missing file fails there too.
  if (!file) return GetFileCompanyNameFromVersionServices(path, companyName);
  return GetFileCompanyName(file.get(), path, companyName);
}

bool GetFileCompanyNameFromVersionServices(const wchar_t* path, std::wstring& companyName) {
  DWORD handle = 0;
  const DWORD size = win::GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return false;

  std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
  if (!block) return false;
  if (!win::GetFileVersionInfoW(path, handle, size, block.get())) return false;
  companyName = CompanyNameOf(block.get());
  return true;
}

bool IsVirusFile(HANDLE file, const wchar_t* path) {
  std::wstring company;
  if (!GetFileCompanyName(file, path, company)) return false;
  return StrStrIW(company.c_str(), kVirusMarker) != nullptr;
}

bool IsVirusFile(const wchar_t* path) {
  std::wstring company;
  if (!GetFileCompanyName(path, company)) return false;
  return StrStrIW(company.c_str(), kVirusMarker) != nullptr;
}

}  // namespace engine
