#pragma once
// The provider's process-wide state: one record for the provider, one for its
// only line. Both live as long as the library is loaded; the handles given to
// TAPI are addresses of these records.
#include <cstdint>

#include "platform/tapi.h"

namespace qv {

// The one interface version the provider offers.
inline constexpr DWORD kTspiVersion = QV_TSPI_VERSION;

struct ProviderState {
  HINSTANCE moduleHandle = nullptr;  // set by the attach handler
  bool initialised = false;
  std::uint32_t permanentProviderId = 0;
  std::uint32_t lineDeviceIdBase = 0;
  std::uint32_t phoneDeviceIdBase = 0;
  ASYNC_COMPLETION completionProc = nullptr;
};

struct LineRecord {
  LINEEVENT eventProc = nullptr;
  HTAPILINE htLine = nullptr;
  // What TSPI_lineSetStatusMessages asked for (LINEDEVSTATE_*,
  // LINEADDRESSSTATE_*); guarded by the call-table lock.
  DWORD statusMessages = 0;
  DWORD addressStatusMessages = 0;
};

extern ProviderState providerState;
// The HDRVLINE given to TAPI is the address of this record.
extern LineRecord lineRecord;

// The library's attach handler: keeps the module handle and writes the
// module-load line. Called by the platform's load hook (DllMain on Windows,
// an ELF constructor on Linux).
void AttachProcess(HINSTANCE module);

}  // namespace qv
