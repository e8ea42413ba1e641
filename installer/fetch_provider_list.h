#pragma once
// Fetches the narrow provider list, growing the buffer until it fits.
#include <cstdint>
#include <functional>
#include <vector>

namespace qv {

inline constexpr std::uint32_t kInstallerApiVersion = 0x00020002;

struct FetchedProviderList {
  std::int32_t result = 0;
  // Whole 32-bit words keep the list aligned for the callee.
  std::vector<std::uint32_t> words;
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(words.data()); }
  std::size_t size() const { return words.size() * sizeof(std::uint32_t); }
};

using GetProviderListCall = std::function<std::int32_t(std::uint32_t apiVersion, void* list)>;

// Starts with the 24-byte fixed part and asks again with dwNeededSize while
// the list reports LINEERR_STRUCTURETOOSMALL or does not fit. Stops at any
// other error, and with LINEERR_NOMEM when the buffer cannot grow.
FetchedProviderList FetchProviderList(const GetProviderListCall& getProviderList);

}  // namespace qv
