// Windows: the real TAPI32 client library (import library libtapi32.a).
#include <windows.h>
#include <tapi.h>

#include "platform/provider_list.h"

namespace qv {

namespace {
using GetProviderListFunction = LONG(WINAPI*)(DWORD, LPLINEPROVIDERLIST);
}

std::int32_t AddProvider(const char* fileName, std::uint32_t* permanentProviderId) {
  DWORD id = 0;
  LONG result = lineAddProviderA(fileName, nullptr, &id);
  if (permanentProviderId != nullptr) *permanentProviderId = id;
  return result;
}

std::int32_t RemoveProvider(std::uint32_t permanentProviderId) {
  return lineRemoveProvider(permanentProviderId, nullptr);
}

std::int32_t GetProviderListWide(std::uint32_t apiVersion, void* list) {
  return lineGetProviderListW(apiVersion, static_cast<LPLINEPROVIDERLIST>(list));
}

std::optional<ProviderListLibrary> ProviderListLibrary::Load() {
  HMODULE library = LoadLibraryW(L"tapi32.dll");
  if (library == nullptr) return std::nullopt;
  FARPROC function = GetProcAddress(library, "lineGetProviderList");
  if (function == nullptr) {
    FreeLibrary(library);
    return std::nullopt;
  }
  return ProviderListLibrary(library, reinterpret_cast<void*>(function));
}

ProviderListLibrary::~ProviderListLibrary() {
  if (library_ != nullptr) FreeLibrary(static_cast<HMODULE>(library_));
}

ProviderListLibrary::ProviderListLibrary(ProviderListLibrary&& other) noexcept
    : library_(other.library_), function_(other.function_) {
  other.library_ = nullptr;
  other.function_ = nullptr;
}

std::int32_t ProviderListLibrary::GetProviderList(std::uint32_t apiVersion, void* list) const {
  return reinterpret_cast<GetProviderListFunction>(function_)(apiVersion,
                                                              static_cast<LPLINEPROVIDERLIST>(list));
}

}  // namespace qv
