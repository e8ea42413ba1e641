#pragma once
// The provider's registry key, HKEY_LOCAL_MACHINE\SOFTWARE\quorvelone\tapi.
// Windows: the real registry. Linux: a text store in the format of registry
// export files ($QUORVELONE_REGISTRY, default /etc/quorvelone/registry.reg).
#include <cstdint>
#include <string>

namespace qv {

inline constexpr char kProviderKeyPath[] = "SOFTWARE\\quorvelone\\tapi";
inline constexpr char kProviderKeyClass[] = "quorvelone";
// Values are read into a buffer of this size; larger ones cannot be read.
inline constexpr std::uint32_t kRegistryValueLimit = 16384;

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

enum class RegistryStatus {
  ok,
  keyUnavailable,    // the key cannot be opened (missing, no access, no store)
  valueUnavailable,  // the value is missing or larger than the read buffer
  storeCorrupt,      // Linux only: the store file cannot be parsed
};

struct RegistryValue {
  RegistryStatus status = RegistryStatus::keyUnavailable;
  std::uint32_t type = 0;
  // Every byte the query reports, as the narrow-text API returns them
  // (string types include their terminating zero bytes).
  std::string data;
  std::string problem;  // what was wrong with a corrupt store
};

// Opens the key for querying, reads one value, closes the key.
RegistryValue readProviderValue(const std::string& name);

enum class RegistryWriteStatus {
  ok,
  keyUnavailable,  // the key cannot be created or opened for writing
  valueNotSet,
};

// Opens or creates the key and stores one value; data are the bytes as given
// to the narrow-text API (a REG_SZ value includes its terminating zero).
RegistryWriteStatus writeProviderValue(const std::string& name, std::uint32_t type, const std::string& data);

// Removes the whole key (tests start from a missing key).
void deleteProviderKeyForTesting();

}  // namespace qv
