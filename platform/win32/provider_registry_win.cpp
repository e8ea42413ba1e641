// The provider list in the Windows registry, where TAPI keeps it. A named
// mutex serialises updates between processes.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/provider_registry.h"
#include "platform/provider_registry_values.h"

namespace qv {

namespace {

std::optional<std::uint32_t> readNumber(HKEY key, const std::string& name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> readText(HKEY key, const std::string& name) {
  std::vector<char> buffer(1024);
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(buffer.size());
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  std::string text(buffer.data(), size);
  return text.substr(0, text.find('\0'));
}

ProviderRegistry readRegistry(HKEY key) {
  return ProviderRegistryFromValues([&](const std::string& name) { return readNumber(key, name); },
                                    [&](const std::string& name) { return readText(key, name); });
}

}  // namespace

ProviderRegistryStatus LoadProviderRegistry(ProviderRegistry& registry) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProvidersKeyPath, 0, KEY_QUERY_VALUE, &key);
  if (rc == ERROR_FILE_NOT_FOUND) {
    registry = ProviderRegistry{};
    return ProviderRegistryStatus::ok;
  }
  if (rc != ERROR_SUCCESS) return ProviderRegistryStatus::unreadable;
  registry = readRegistry(key);
  RegCloseKey(key);
  return ProviderRegistryStatus::ok;
}

ProviderRegistryStatus UpdateProviderRegistry(const std::function<bool(ProviderRegistry&)>& change) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\QuorveloneProviderList");
  if (mutex != nullptr) WaitForSingleObject(mutex, INFINITE);
  ProviderRegistryStatus status = ProviderRegistryStatus::ok;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProvidersKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    status = ProviderRegistryStatus::unwritable;
  } else {
    ProviderRegistry registry = readRegistry(key);
    const std::size_t oldCount = registry.providers.size();
    if (change(registry)) {
      for (const ProviderValue& value : ProviderRegistryToValues(registry)) {
        LONG rc = value.isNumber
                      ? RegSetValueExA(key, value.name.c_str(), 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&value.number), sizeof value.number)
                      : RegSetValueExA(key, value.name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(value.text.c_str()),
                                       static_cast<DWORD>(value.text.size() + 1));
        if (rc != ERROR_SUCCESS) status = ProviderRegistryStatus::unwritable;
      }
      // Entries beyond the new end are stale after a removal.
      for (std::size_t i = registry.providers.size(); i < oldCount; ++i) {
        RegDeleteValueA(key, ("ProviderID" + std::to_string(i)).c_str());
        RegDeleteValueA(key, ("ProviderFileName" + std::to_string(i)).c_str());
      }
    }
    RegCloseKey(key);
  }
  if (mutex != nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return status;
}

}  // namespace qv
