// Linux: our TAPI32 stand-in, libtapi32.so, keeps the provider list in the
// registry store; the installer links it and also looks it up with dlopen.
#include <dlfcn.h>

#include "platform/provider_list.h"

extern "C" {
std::int32_t lineAddProviderA(const char* fileName, void* owner, std::uint32_t* permanentProviderId);
std::int32_t lineRemoveProvider(std::uint32_t permanentProviderId, void* owner);
std::int32_t lineGetProviderListW(std::uint32_t apiVersion, void* list);
}

namespace qv {

namespace {
using GetProviderListFunction = std::int32_t (*)(std::uint32_t, void*);
}

std::int32_t AddProvider(const char* fileName, std::uint32_t* permanentProviderId) {
  return lineAddProviderA(fileName, nullptr, permanentProviderId);
}

std::int32_t RemoveProvider(std::uint32_t permanentProviderId) {
  return lineRemoveProvider(permanentProviderId, nullptr);
}

std::int32_t GetProviderListWide(std::uint32_t apiVersion, void* list) {
  return lineGetProviderListW(apiVersion, list);
}

std::optional<ProviderListLibrary> ProviderListLibrary::Load() {
  void* library = ::dlopen("libtapi32.so", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return std::nullopt;
  void* function = ::dlsym(library, "lineGetProviderList");
  if (function == nullptr) {
    ::dlclose(library);
    return std::nullopt;
  }
  return ProviderListLibrary(library, function);
}

ProviderListLibrary::~ProviderListLibrary() {
  if (library_ != nullptr) ::dlclose(library_);
}

ProviderListLibrary::ProviderListLibrary(ProviderListLibrary&& other) noexcept
    : library_(other.library_), function_(other.function_) {
  other.library_ = nullptr;
  other.function_ = nullptr;
}

std::int32_t ProviderListLibrary::GetProviderList(std::uint32_t apiVersion, void* list) const {
  return reinterpret_cast<GetProviderListFunction>(function_)(apiVersion, list);
}

}  // namespace qv
