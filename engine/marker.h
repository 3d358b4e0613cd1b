// The one test behind every decision about what belongs to the virus: its
// executables carry "Hermitage Hortative" in the CompanyName of their version resource.
#pragma once

#include <string>

namespace engine {

inline constexpr wchar_t kVirusMarker[] = L"Hermitage Hortative";

// Reads the CompanyName of the file's version resource, taken from the last entry of
// its translation table, with trailing white space removed. Returns false, leaving
// companyName untouched, when the file has no readable version resource (or is missing,
// or is a directory). With no translation table the read succeeds with an empty name.
bool GetFileCompanyName(const wchar_t* path, std::wstring& companyName);

// True exactly when the company name can be read and contains the marker, in any case.
bool IsVirusFile(const wchar_t* path);

}  // namespace engine
