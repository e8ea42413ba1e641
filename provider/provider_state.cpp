#include "provider/provider_state.h"

#include "session/log.h"

namespace qv {

ProviderState providerState;
LineRecord lineRecord;

void AttachProcess(HINSTANCE module) {
  providerState.moduleHandle = module;
  writeLog(0, "Loaded TAPI DLL");
}

}  // namespace qv
