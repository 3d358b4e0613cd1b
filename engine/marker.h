// The one test behind every decision about what belongs to the virus: its
// executables carry "Hermitage Hortative" in the CompanyName of their version resource.
#pragma once

#include <windows.h>

#include <string>

namespace engine {

inline constexpr wchar_t kVirusMarker[] = L"Hermitage Hortative";

// Reads the CompanyName of the version resource of the file that `file` holds open with
// read access (its first read starts where the handle stands), taken from the last entry
// of its translation table, with trailing white space removed. Returns false, leaving
// companyName untouched, when the file has no readable version resource. With no
// translation table the read succeeds with an empty name. Anything but a file on a disk is
// refused before any read: a read from a pipe, a FIFO or a device can wait forever.
//
// The version resource is read by our own reader through the open file
// (engine/version_resource.h): PE and 16-bit (NE) images, and LZ-compressed files as the
// image they expand to. Never by path through the version services: a path can be
// swapped for another file between their read and the caller's action, their reads can't
// reach a file that the caller holds open without sharing, and Wine's read their own
// module instead of a file named like one. Virtual-device (LE/LX) images have no company
// name for us.
bool GetFileCompanyName(HANDLE file, std::wstring& companyName);

// True exactly when the company name can be read and contains the marker, in any case.
bool IsVirusFile(HANDLE file);

}  // namespace engine
