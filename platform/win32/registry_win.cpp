#include "platform/registry.h"

#include <windows.h>

#include <vector>

namespace qv {

RegistryValue readProviderValue(const std::string& name) {
  RegistryValue result;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProviderKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    result.status = RegistryStatus::keyUnavailable;
    return result;
  }
  std::vector<BYTE> buffer(kRegistryValueLimit);
  DWORD type = 0;
  DWORD size = kRegistryValueLimit;
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    result.status = RegistryStatus::valueUnavailable;
    return result;
  }
  result.status = RegistryStatus::ok;
  result.type = type;
  result.data.assign(reinterpret_cast<const char*>(buffer.data()), size);
  return result;
}

RegistryWriteStatus writeProviderValue(const std::string& name, std::uint32_t type, const std::string& data) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProviderKeyPath, 0, const_cast<char*>(kProviderKeyClass),
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return RegistryWriteStatus::keyUnavailable;
  }
  LONG rc = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? RegistryWriteStatus::ok : RegistryWriteStatus::valueNotSet;
}

void deleteProviderKeyForTesting() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProviderKeyPath); }

}  // namespace qv
