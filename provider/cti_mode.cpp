#include "provider/cti_mode.h"

#include <atomic>

#include "provider/provider_state.h"

namespace qv {

namespace {
std::atomic<bool> latched{false};
}  // namespace

void LatchCtiMode(bool enabled) { latched = enabled; }

bool CtiEnabled() { return latched; }

bool CtiEnabled(const ProviderSettings& settings) {
  return providerState.initialised ? latched.load() : settings.callevents;
}

}  // namespace qv
