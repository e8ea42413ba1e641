#pragma once
// TAPI's provider management as the installer uses it: the client library's
// functions linked directly, and lineGetProviderList looked up at run time.
// Lists travel as raw LINEPROVIDERLIST buffers (24-byte fixed part, 12-byte
// entries); the caller reads them.
#include <cstdint>
#include <optional>

namespace qv {

// lineAddProviderA with no owner window.
std::int32_t AddProvider(const char* fileName, std::uint32_t* permanentProviderId);
// lineRemoveProvider with no owner window.
std::int32_t RemoveProvider(std::uint32_t permanentProviderId);
// lineGetProviderListW: file names in UTF-16.
std::int32_t GetProviderListWide(std::uint32_t apiVersion, void* list);

// The client library loaded at run time ("tapi32.dll"; libtapi32.so on
// Linux) and its narrow lineGetProviderList.
class ProviderListLibrary {
 public:
  // Nothing when the library or the function is missing.
  static std::optional<ProviderListLibrary> Load();
  ~ProviderListLibrary();
  ProviderListLibrary(ProviderListLibrary&& other) noexcept;
  ProviderListLibrary& operator=(ProviderListLibrary&&) = delete;
  ProviderListLibrary(const ProviderListLibrary&) = delete;
  ProviderListLibrary& operator=(const ProviderListLibrary&) = delete;

  std::int32_t GetProviderList(std::uint32_t apiVersion, void* list) const;

 private:
  ProviderListLibrary(void* library, void* function) : library_(library), function_(function) {}
  void* library_;
  void* function_;
};

}  // namespace qv
