#include "provider/session_event_sink.h"

#include <mutex>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/tapi_delivery.h"

namespace qv {

void ProviderSessionEvents::RequestCompleted(std::uint32_t requestId, RequestOutcome outcome) {
  {
    std::lock_guard lock(callTableLock);
    // A completed MakeCall no longer holds its slot once the call is closed.
    if (CallSlot* slot = SlotOfPendingMakeCallLocked(requestId)) slot->makeCallPending = false;
  }
  QueueCompletion(requestId,
                  outcome == RequestOutcome::kSuccess ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED));
}

void ProviderSessionEvents::CallIdentified(std::uint32_t requestId, const std::string& callId,
                                           const std::string& deviceId) {
  std::lock_guard lock(callTableLock);
  if (CallSlot* slot = SlotOfPendingMakeCallLocked(requestId)) {
    slot->callId = callId;
    slot->deviceId = deviceId;
  }
}

void ProviderSessionEvents::CallEventReceived(const CallEvent&) {}

void ProviderSessionEvents::LinkStateChanged(bool) {}

ProviderSessionEvents& providerSessionEvents() {
  static ProviderSessionEvents sink;
  return sink;
}

}  // namespace qv
