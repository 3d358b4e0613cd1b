#include "engine/marker.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>

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

}  // namespace

bool GetFileCompanyName(const wchar_t* path, std::wstring& companyName) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return false;

  std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
  if (!block) return false;
  if (!GetFileVersionInfoW(path, handle, size, block.get())) return false;

  // A missing table comes back with length 0 and the loop below doesn't run.
  LangCodePage* table = nullptr;
  UINT tableBytes = 0;
  VerQueryValueW(block.get(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&table), &tableBytes);
  const UINT entries = table ? tableBytes / sizeof(LangCodePage) : 0;

  std::wstring name;
  for (UINT i = 0; i < entries; ++i) {
    wchar_t query[50];
    std::swprintf(query, 50, L"\\StringFileInfo\\%04x%04x\\CompanyName", table[i].language, table[i].codePage);
    wchar_t* value = nullptr;
    UINT valueChars = 0;
    // The last translation wins, even when its CompanyName is missing or empty.
    if (VerQueryValueW(block.get(), query, reinterpret_cast<void**>(&value), &valueChars) && value && valueChars > 0)
      name.assign(value, wcsnlen(value, valueChars));  // up to its NUL, never past the value
    else
      name.clear();
    TrimTrailingSpace(name);
  }
  companyName = std::move(name);
  return true;
}

bool IsVirusFile(const wchar_t* path) {
  std::wstring company;
  if (!GetFileCompanyName(path, company)) return false;
  return StrStrIW(company.c_str(), kVirusMarker) != nullptr;
}

}  // namespace engine
