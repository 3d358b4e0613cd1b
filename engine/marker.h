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
// Files that can't carry a version resource are told apart by their first bytes, without
// asking the version services (which open such a file several times before giving up); the
// others are read with one call into the services, into a buffer that holds any block.
bool GetFileCompanyName(const wchar_t* path, std::wstring& companyName);

// The same read, always through the version services as they are meant to be asked: the
// size first, then the block. The scan doesn't need it; it is what the read above must
// agree with, file for file.
bool GetFileCompanyNameFromVersionServices(const wchar_t* path, std::wstring& companyName);

// False when the file's first bytes show that no version resource can be read from it:
// the version services read only executable images, which begin with "MZ", and files
// compressed by the LZ expander ("SZDD"), which they expand first. True when the file
// may carry one, and when its first bytes can't be read at all (the caller then asks the
// version services, as it would have without the shortcut).
bool MayCarryVersionResource(const wchar_t* path);

// True exactly when the company name can be read and contains the marker, in any case.
bool IsVirusFile(const wchar_t* path);

}  // namespace engine
