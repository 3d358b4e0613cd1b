#include "engine/entry_rules.h"

#include <cstring>
#include <utility>

namespace engine {

namespace {

constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// The length of a well-formed SID at `sid`, or 0: revision 1, at most 15 sub-authorities.
size_t SidLength(const uint8_t* sid, size_t size) {
  if (!sid || size < 8 || sid[0] != 1 || sid[1] > 15) return 0;
  const size_t length = 8 + 4 * static_cast<size_t>(sid[1]);
  return length <= size ? length : 0;
}

bool SameSid(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength) {
  return aLength == bLength && std::memcmp(a, b, aLength) == 0;
}

// S-1-5-18, S-1-5-32-544 and S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
constexpr uint8_t kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
constexpr uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
constexpr uint8_t kTrustedInstaller[] = {1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,
                                         0,    0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C,
                                         0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

}  // namespace

bool IsDataReparseTag(uint32_t tag) {
  switch (tag) {
    case kTagHsm:
    case kTagHsm2:
    case kTagSis:
    case kTagDedup:
    case kTagWof:
    case kTagStorageSync:
      return true;
  }
  return (tag & ~kTagCloudMask) == kTagCloud;
}

EntryKind ClassifyEntry(uint32_t attributes, uint32_t tag) {
  if ((attributes & kAttributeReparsePoint) && ((tag & kTagNameSurrogateBit) || !IsDataReparseTag(tag)))
    return EntryKind::kLink;
  if (attributes & kAttributeDirectory)
    return (attributes & kAttributeRecallOnOpen) ? EntryKind::kCountOnly : EntryKind::kWalk;
  // Only what the system sets says the data isn't here: the recall attribute, or "offline"
  // on a file that a storage filter keeps. Any user can mark their own file offline, and it
  // still runs; such a plain file is tested like any other.
  if (attributes & kAttributeRecallOnDataAccess) return EntryKind::kCountOnly;
  if ((attributes & kAttributeOffline) && (attributes & kAttributeReparsePoint)) return EntryKind::kCountOnly;
  return EntryKind::kTest;
}

bool CopyOwnerTrusted(const uint8_t* copyOwner, size_t copySize, const uint8_t* fileOwner, size_t fileSize) {
  const size_t copyLength = SidLength(copyOwner, copySize), fileLength = SidLength(fileOwner, fileSize);
  if (copyLength == 0 || fileLength == 0) return false;
  if (SameSid(copyOwner, copyLength, fileOwner, fileLength)) return true;
  // The system's accounts vouch for one another, never for a user: an administrator's copy
  // written into a file that a user owns (and may have planted beside it, with an access
  // list of their choosing) would hand the administrator's bytes to that user.
  const auto privileged = [](const uint8_t* sid, size_t length) {
    for (const auto& known :
         {std::make_pair(kSystem, sizeof kSystem), std::make_pair(kAdministrators, sizeof kAdministrators),
          std::make_pair(kTrustedInstaller, sizeof kTrustedInstaller)})
      if (SameSid(sid, length, known.first, known.second)) return true;
    return false;
  };
  return privileged(copyOwner, copyLength) && privileged(fileOwner, fileLength);
}

}  // namespace engine
