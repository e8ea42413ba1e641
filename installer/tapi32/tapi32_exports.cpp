// TAPI32's provider-management functions over the registered provider list:
// libtapi32.so on Linux, and on Windows a test double of tapi32.dll (names
// mapped in tapi32.def). Owner windows are not used: nothing is shown.
// Tests also build it without lineGetProviderList, as a library that lacks
// what the installer looks up at run time.
#include <cstdint>
#include <cstdlib>

#include "installer/tapi32/provider_management.h"

#if defined(_WIN32) && !defined(_WIN64)
#define QV_TAPI32_CALL __attribute__((stdcall))
#else
#define QV_TAPI32_CALL
#endif
#if defined(_WIN32)
#define QV_TAPI32_EXPORT
#else
#define QV_TAPI32_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Tests make lineAddProviderA fail with a chosen code (QV_TAPI32_ADD_RESULT,
// hexadecimal) to reach every answer the installer maps.
bool forcedAddResult(std::int32_t& result) {
  const char* text = std::getenv("QV_TAPI32_ADD_RESULT");
  if (text == nullptr || text[0] == '\0') return false;
  result = static_cast<std::int32_t>(std::strtoul(text, nullptr, 16));
  return true;
}

}  // namespace

extern "C" {

QV_TAPI32_EXPORT std::int32_t QV_TAPI32_CALL lineAddProviderA(const char* lpszProviderFilename,
                                                              void* /*hwndOwner*/,
                                                              std::uint32_t* lpdwPermanentProviderID) {
  std::int32_t forced = 0;
  if (forcedAddResult(forced)) return forced;
  return qv::AddListedProvider(lpszProviderFilename, lpdwPermanentProviderID);
}

QV_TAPI32_EXPORT std::int32_t QV_TAPI32_CALL lineRemoveProvider(std::uint32_t dwPermanentProviderID,
                                                                void* /*hwndOwner*/) {
  return qv::RemoveListedProvider(dwPermanentProviderID);
}

QV_TAPI32_EXPORT std::int32_t QV_TAPI32_CALL lineGetProviderListA(std::uint32_t dwAPIVersion,
                                                                  void* lpProviderList) {
  return qv::GetListedProviders(dwAPIVersion, lpProviderList, false);
}

#ifndef QV_TAPI32_WITHOUT_NARROW_LIST
// The undecorated name is the narrow list, as in TAPI 2.x.
QV_TAPI32_EXPORT std::int32_t QV_TAPI32_CALL lineGetProviderList(std::uint32_t dwAPIVersion,
                                                                 void* lpProviderList) {
  return qv::GetListedProviders(dwAPIVersion, lpProviderList, false);
}
#endif

QV_TAPI32_EXPORT std::int32_t QV_TAPI32_CALL lineGetProviderListW(std::uint32_t dwAPIVersion,
                                                                  void* lpProviderList) {
  return qv::GetListedProviders(dwAPIVersion, lpProviderList, true);
}
}
