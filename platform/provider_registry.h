#pragma once
// TAPI's list of service providers where Windows keeps it:
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Telephony\Providers with
// NumProviders, NextProviderID (REG_DWORD), ProviderIDn (REG_DWORD) and
// ProviderFileNamen (REG_SZ). Windows: the registry. Linux: the same key in
// the registry store file ($QUORVELONE_REGISTRY).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qv {

inline constexpr char kProvidersKeyPath[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Providers";

struct ProviderRegistration {
  std::uint32_t permanentProviderId = 0;
  std::string fileName;
};

struct ProviderRegistry {
  std::uint32_t nextProviderId = 1;
  std::vector<ProviderRegistration> providers;
};

enum class ProviderRegistryStatus { ok, unreadable, unwritable };

// Reads the list; a missing key is an empty list.
ProviderRegistryStatus LoadProviderRegistry(ProviderRegistry& registry);

// Reads the list, lets `change` edit it and, when `change` returns true,
// stores it whole. Concurrent updates from other processes are serialised.
ProviderRegistryStatus UpdateProviderRegistry(const std::function<bool(ProviderRegistry&)>& change);

}  // namespace qv
