#include "platform/provider_registry_values.h"

#include <algorithm>

namespace qv {

namespace {

bool startsWithNoCase(const std::string& text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char a = text[i];
    char b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

ProviderRegistry ProviderRegistryFromValues(
    const std::function<std::optional<std::uint32_t>(const std::string&)>& number,
    const std::function<std::optional<std::string>(const std::string&)>& text) {
  ProviderRegistry registry;
  const std::uint32_t count = std::min(number("NumProviders").value_or(0), kMaxRegisteredProviders);
  std::uint32_t highest = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto id = number("ProviderID" + std::to_string(i));
    auto file = text("ProviderFileName" + std::to_string(i));
    if (!id || !file) continue;
    registry.providers.push_back({*id, *file});
    highest = std::max(highest, *id);
  }
  registry.nextProviderId = number("NextProviderID").value_or(1);
  // Never hand out an ID that is already taken.
  if (registry.nextProviderId <= highest) registry.nextProviderId = highest + 1;
  return registry;
}

std::vector<ProviderValue> ProviderRegistryToValues(const ProviderRegistry& registry) {
  std::vector<ProviderValue> values;
  values.push_back({"NumProviders", true, static_cast<std::uint32_t>(registry.providers.size()), {}});
  values.push_back({"NextProviderID", true, registry.nextProviderId, {}});
  for (std::size_t i = 0; i < registry.providers.size(); ++i) {
    values.push_back({"ProviderID" + std::to_string(i), true, registry.providers[i].permanentProviderId, {}});
    values.push_back({"ProviderFileName" + std::to_string(i), false, 0, registry.providers[i].fileName});
  }
  return values;
}

bool IsProviderListValueName(const std::string& name) {
  if (startsWithNoCase(name, "NumProviders") && name.size() == 12) return true;
  if (startsWithNoCase(name, "NextProviderID") && name.size() == 14) return true;
  if (startsWithNoCase(name, "ProviderFileName")) return allDigits(std::string_view(name).substr(16));
  if (startsWithNoCase(name, "ProviderID")) return allDigits(std::string_view(name).substr(10));
  return false;
}

}  // namespace qv
