// Two rules that only Windows can show, kept apart from the system calls so that they are
// tested with the documented values: what the walk does with an entry, from its
// attributes and its reparse tag; and whose ".sql" copy may be trusted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// The reparse tags of data that a file system filter keeps in another form: the file or
// folder is an ordinary one to its user (a OneDrive file, a system-compressed program, a
// deduplicated file). From the documented IO_REPARSE_TAG_* values (ntifs.h).
inline constexpr uint32_t kTagHsm = 0xC0000004;
inline constexpr uint32_t kTagHsm2 = 0x80000006;
inline constexpr uint32_t kTagSis = 0x80000007;
inline constexpr uint32_t kTagDedup = 0x80000013;
inline constexpr uint32_t kTagWof = 0x80000017;
inline constexpr uint32_t kTagCloud = 0x9000001A;  // and CLOUD_1 to CLOUD_F: 0x9000101A ... 0x9000F01A
inline constexpr uint32_t kTagCloudMask = 0x0000F000;
inline constexpr uint32_t kTagStorageSync = 0x8000001E;
// Links of every kind carry the name-surrogate bit (IsReparseTagNameSurrogate).
inline constexpr uint32_t kTagNameSurrogateBit = 0x20000000;

// The attributes that say a file's data, or a folder's listing, isn't on this machine.
inline constexpr uint32_t kAttributeOffline = 0x00001000;
inline constexpr uint32_t kAttributeRecallOnOpen = 0x00040000;
inline constexpr uint32_t kAttributeRecallOnDataAccess = 0x00400000;

bool IsDataReparseTag(uint32_t tag);

enum class EntryKind {
  kWalk,       // a folder to list
  kTest,       // a file to test, through the file system's filter when it is a reparse point
  kCountOnly,  // a file whose data isn't here: counted, never read; a folder that isn't here: not listed
  kLink,       // a link, or a reparse point of a kind we don't know: counted, never followed
};
// `attributes` and `tag` as a listing or a handle gives them; the tag counts only when
// FILE_ATTRIBUTE_REPARSE_POINT is set.
EntryKind ClassifyEntry(uint32_t attributes, uint32_t tag);

// Whether a ".sql" copy owned by `copyOwner` may be written over an infected file owned
// by `fileOwner`: when one owner owns both, or both are accounts of the system (SYSTEM,
// Administrators, TrustedInstaller). Anyone else could have planted the copy to have their
// bytes written, with the tool's rights, into a file they may not change; and a system
// account's copy beside a user's file would give the system's bytes to the user. SIDs in
// their binary form; a malformed one is trusted by nobody.
bool CopyOwnerTrusted(const uint8_t* copyOwner, size_t copySize, const uint8_t* fileOwner, size_t fileSize);

}  // namespace engine
