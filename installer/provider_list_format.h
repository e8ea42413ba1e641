#pragma once
// LINEPROVIDERLIST as raw bytes: a 24-byte fixed part (dwTotalSize,
// dwNeededSize, dwUsedSize, dwNumProviders, dwProviderListSize,
// dwProviderListOffset) and 12-byte LINEPROVIDERENTRY records
// (dwPermanentProviderID, dwProviderFilenameSize, dwProviderFilenameOffset).
// Read and written with explicit offsets so neither side depends on packing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv {

inline constexpr std::uint32_t kProviderListFixedSize = 24;
inline constexpr std::uint32_t kProviderEntrySize = 12;
inline constexpr std::uint32_t kProviderListOffsetTotalSize = 0;
inline constexpr std::uint32_t kProviderListOffsetNeededSize = 4;
inline constexpr std::uint32_t kProviderListOffsetUsedSize = 8;
inline constexpr std::uint32_t kProviderListOffsetNumProviders = 12;
inline constexpr std::uint32_t kProviderListOffsetListSize = 16;
inline constexpr std::uint32_t kProviderListOffsetListOffset = 20;

inline constexpr std::int32_t kLineErrIncompatibleApiVersion = static_cast<std::int32_t>(0x8000000C);
inline constexpr std::int32_t kLineErrIniFileCorrupt = static_cast<std::int32_t>(0x8000000E);
inline constexpr std::int32_t kLineErrInvalParam = static_cast<std::int32_t>(0x80000032);
inline constexpr std::int32_t kLineErrInvalPointer = static_cast<std::int32_t>(0x80000035);
inline constexpr std::int32_t kLineErrNoMem = static_cast<std::int32_t>(0x80000044);
inline constexpr std::int32_t kLineErrOperationFailed = static_cast<std::int32_t>(0x80000048);
inline constexpr std::int32_t kLineErrStructureTooSmall = static_cast<std::int32_t>(0x8000004D);
inline constexpr std::int32_t kLineErrNoMultipleInstance = static_cast<std::int32_t>(0x80000056);

// One provider as the list presents it; the name in the list's own form
// (8-bit text, or UTF-16 units), without the terminating NUL.
struct ProviderListEntry {
  std::uint32_t permanentProviderId = 0;
  std::string narrowName;
  std::u16string wideName;
};

std::uint32_t loadUInt32(const unsigned char* at);
void storeUInt32(unsigned char* at, std::uint32_t value);

// The entries of a filled list. Only bytes inside both `size` and the list's
// dwTotalSize are read; entries or names that reach past them are left out.
std::vector<ProviderListEntry> ReadProviderList(const unsigned char* list, std::size_t size, bool wide);

// Fills a list whose dwTotalSize the caller has set, the way TAPI does: a
// buffer smaller than the fixed part is refused, a buffer too small for the
// entries gets only dwNeededSize (and no entries) with result 0.
std::int32_t WriteProviderList(unsigned char* list,
                               const std::vector<std::pair<std::uint32_t, std::string>>& providers,
                               bool wide);

}  // namespace qv
