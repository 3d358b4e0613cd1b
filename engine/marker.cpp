#include "engine/marker.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>

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

// Room for any version block: its length is a 16-bit count of bytes, and the services may
// use up to twice as much again behind it to convert the texts of an old-style block.
constexpr DWORD kAnyVersionBlock = 4 * 65536;

}  // namespace

bool MayCarryVersionResource(const wchar_t* path) {
  // The same sharing as the restoration's opens, so that the shortcut never fails on a
  // file the rest of the scan could read.
  win::FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return true;
  char head[4] = {};
  DWORD read = 0;
  if (!ReadFile(file.get(), head, sizeof head, &read, nullptr)) return true;
  if (read >= 2 && head[0] == 'M' && head[1] == 'Z') return true;
  if (read >= 4 && std::memcmp(head, "SZDD", 4) == 0) return true;
  return false;
}

bool GetFileCompanyName(const wchar_t* path, std::wstring& companyName) {
  if (!MayCarryVersionResource(path)) return false;
  // One call into the version services instead of two: each maps the file anew, and asking
  // for the size first only tells how much of a buffer this size always holds.
  std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[kAnyVersionBlock]);
  if (!block) return GetFileCompanyNameFromVersionServices(path, companyName);
  if (!win::GetFileVersionInfoW(path, 0, kAnyVersionBlock, block.get())) return false;
  companyName = CompanyNameOf(block.get());
  return true;
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

bool IsVirusFile(const wchar_t* path) {
  std::wstring company;
  if (!GetFileCompanyName(path, company)) return false;
  return StrStrIW(company.c_str(), kVirusMarker) != nullptr;
}

}  // namespace engine
