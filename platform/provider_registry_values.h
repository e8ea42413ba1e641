#pragma once
// The Providers key as named values, shared by both registry back ends.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/provider_registry.h"

namespace qv {

// A list never holds more; a larger NumProviders is a damaged key.
inline constexpr std::uint32_t kMaxRegisteredProviders = 1024;

struct ProviderValue {
  std::string name;
  bool isNumber = false;
  std::uint32_t number = 0;
  std::string text;
};

// Builds the list from value lookups; entries whose values are missing are
// skipped.
ProviderRegistry ProviderRegistryFromValues(
    const std::function<std::optional<std::uint32_t>(const std::string&)>& number,
    const std::function<std::optional<std::string>(const std::string&)>& text);

// Every value that stores the list, in the order Windows writes them.
std::vector<ProviderValue> ProviderRegistryToValues(const ProviderRegistry& registry);

// Whether a value name is one the list owns (compared without case).
bool IsProviderListValueName(const std::string& name);

}  // namespace qv
