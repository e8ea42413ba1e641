#include "installer/tapi32/provider_management.h"

#include <algorithm>

#include "installer/provider_list_format.h"
#include "platform/provider_registry.h"

namespace qv {

namespace {

constexpr std::uint32_t kLowestApiVersion = 0x00010004;
constexpr std::uint32_t kHighestApiVersion = 0x00030001;
// Registry values are read with 1024-byte buffers; longer names could not
// be read back.
constexpr std::size_t kMaxFileNameLength = 259;

bool sameNameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::int32_t storeFailure(ProviderRegistryStatus status) {
  return status == ProviderRegistryStatus::unreadable ? kLineErrIniFileCorrupt : kLineErrOperationFailed;
}

}  // namespace

std::int32_t AddListedProvider(const char* fileName, std::uint32_t* permanentProviderId) {
  if (fileName == nullptr || permanentProviderId == nullptr) return kLineErrInvalPointer;
  const std::string name(fileName);
  if (name.empty() || name.size() > kMaxFileNameLength) return kLineErrInvalParam;
  std::int32_t result = 0;
  const ProviderRegistryStatus status = UpdateProviderRegistry([&](ProviderRegistry& registry) {
    for (const ProviderRegistration& p : registry.providers) {
      if (sameNameNoCase(p.fileName, name)) {
        result = kLineErrNoMultipleInstance;
        return false;
      }
    }
    *permanentProviderId = registry.nextProviderId;
    registry.providers.push_back({registry.nextProviderId, name});
    ++registry.nextProviderId;
    return true;
  });
  if (status != ProviderRegistryStatus::ok) return storeFailure(status);
  return result;
}

std::int32_t RemoveListedProvider(std::uint32_t permanentProviderId) {
  std::int32_t result = kLineErrInvalParam;
  const ProviderRegistryStatus status = UpdateProviderRegistry([&](ProviderRegistry& registry) {
    auto found = std::find_if(
        registry.providers.begin(), registry.providers.end(),
        [&](const ProviderRegistration& p) { return p.permanentProviderId == permanentProviderId; });
    if (found == registry.providers.end()) return false;
    registry.providers.erase(found);
    result = 0;
    return true;
  });
  if (status != ProviderRegistryStatus::ok) return storeFailure(status);
  return result;
}

std::int32_t GetListedProviders(std::uint32_t apiVersion, void* list, bool wide) {
  if (list == nullptr) return kLineErrInvalPointer;
  if (apiVersion < kLowestApiVersion || apiVersion > kHighestApiVersion)
    return kLineErrIncompatibleApiVersion;
  ProviderRegistry registry;
  const ProviderRegistryStatus status = LoadProviderRegistry(registry);
  if (status != ProviderRegistryStatus::ok) return storeFailure(status);
  std::vector<std::pair<std::uint32_t, std::string>> providers;
  for (const ProviderRegistration& p : registry.providers)
    providers.emplace_back(p.permanentProviderId, p.fileName);
  return WriteProviderList(static_cast<unsigned char*>(list), providers, wide);
}

std::vector<std::string> ListedProviderFiles() {
  std::vector<std::string> files;
  ProviderRegistry registry;
  if (LoadProviderRegistry(registry) != ProviderRegistryStatus::ok) return files;
  for (const ProviderRegistration& p : registry.providers) files.push_back(p.fileName);
  return files;
}

}  // namespace qv
