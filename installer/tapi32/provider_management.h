#pragma once
// TAPI32's provider management over the registered provider list: what our
// Linux TAPI32 stand-in and the Windows test double answer, the way Windows
// answers. Results are TAPI result codes.
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// Registers a provider file; LINEERR_NOMULTIPLEINSTANCE when a provider of
// that name (compared without case) is already listed.
std::int32_t AddListedProvider(const char* fileName, std::uint32_t* permanentProviderId);

// LINEERR_INVALPARAM when no provider has that ID.
std::int32_t RemoveListedProvider(std::uint32_t permanentProviderId);

// Fills a LINEPROVIDERLIST (file names 8-bit or UTF-16).
std::int32_t GetListedProviders(std::uint32_t apiVersion, void* list, bool wide);

// The registered file names in list order, as the telephony service would
// load them.
std::vector<std::string> ListedProviderFiles();

}  // namespace qv
