#include "installer/provider_list_format.h"

#include <algorithm>
#include <cstring>

namespace qv {

std::uint32_t loadUInt32(const unsigned char* at) {
  std::uint32_t value = 0;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void storeUInt32(unsigned char* at, std::uint32_t value) { std::memcpy(at, &value, sizeof value); }

std::vector<ProviderListEntry> ReadProviderList(const unsigned char* list, std::size_t size, bool wide) {
  std::vector<ProviderListEntry> entries;
  if (list == nullptr || size < kProviderListFixedSize) return entries;
  const std::size_t limit = std::min<std::size_t>(size, loadUInt32(list + kProviderListOffsetTotalSize));
  // The entries must lie inside the list area the list itself declares.
  const std::uint32_t count = std::min(loadUInt32(list + kProviderListOffsetNumProviders),
                                       loadUInt32(list + kProviderListOffsetListSize) / kProviderEntrySize);
  const std::size_t first = loadUInt32(list + kProviderListOffsetListOffset);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = first + std::size_t{i} * kProviderEntrySize;
    if (at > limit || limit - at < kProviderEntrySize) break;
    ProviderListEntry entry;
    entry.permanentProviderId = loadUInt32(list + at);
    const std::size_t nameSize = loadUInt32(list + at + 4);
    const std::size_t nameOffset = loadUInt32(list + at + 8);
    if (nameOffset <= limit && limit - nameOffset >= nameSize) {
      const unsigned char* name = list + nameOffset;
      if (wide) {
        for (std::size_t k = 0; k + 1 < nameSize; k += 2) {
          char16_t unit = static_cast<char16_t>(name[k] | (name[k + 1] << 8));
          if (unit == 0) break;
          entry.wideName.push_back(unit);
        }
      } else {
        for (std::size_t k = 0; k < nameSize && name[k] != 0; ++k)
          entry.narrowName.push_back(static_cast<char>(name[k]));
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::int32_t WriteProviderList(unsigned char* list,
                               const std::vector<std::pair<std::uint32_t, std::string>>& providers,
                               bool wide) {
  if (list == nullptr) return kLineErrInvalPointer;
  const std::uint32_t total = loadUInt32(list + kProviderListOffsetTotalSize);
  if (total < kProviderListFixedSize) return kLineErrStructureTooSmall;

  const std::uint32_t unit = wide ? 2 : 1;
  std::uint64_t needed = kProviderListFixedSize + std::uint64_t{kProviderEntrySize} * providers.size();
  for (const auto& provider : providers) needed += unit * (provider.second.size() + 1);
  if (needed > 0xFFFFFFFFu) return kLineErrNoMem;

  std::memset(list + 4, 0, kProviderListFixedSize - 4);
  storeUInt32(list + kProviderListOffsetNeededSize, static_cast<std::uint32_t>(needed));
  if (needed > total) {
    storeUInt32(list + kProviderListOffsetUsedSize, kProviderListFixedSize);
    return 0;
  }

  std::uint32_t entryAt = kProviderListFixedSize;
  std::uint32_t nameAt =
      kProviderListFixedSize + kProviderEntrySize * static_cast<std::uint32_t>(providers.size());
  for (const auto& [id, name] : providers) {
    const std::uint32_t nameSize = unit * static_cast<std::uint32_t>(name.size() + 1);
    storeUInt32(list + entryAt, id);
    storeUInt32(list + entryAt + 4, nameSize);
    storeUInt32(list + entryAt + 8, nameAt);
    unsigned char* out = list + nameAt;
    for (char c : name) {
      *out++ = static_cast<unsigned char>(c);
      // 8-bit names are widened byte for byte.
      if (wide) *out++ = 0;
    }
    *out++ = 0;
    if (wide) *out++ = 0;
    entryAt += kProviderEntrySize;
    nameAt += nameSize;
  }
  storeUInt32(list + kProviderListOffsetUsedSize, static_cast<std::uint32_t>(needed));
  storeUInt32(list + kProviderListOffsetNumProviders, static_cast<std::uint32_t>(providers.size()));
  storeUInt32(list + kProviderListOffsetListSize,
              kProviderEntrySize * static_cast<std::uint32_t>(providers.size()));
  storeUInt32(list + kProviderListOffsetListOffset, kProviderListFixedSize);
  return 0;
}

}  // namespace qv
