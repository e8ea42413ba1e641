#include "provider/session_event_sink.h"

#include <mutex>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/closing_requests.h"
#include "provider/cti_line.h"
#include "provider/cti_mode.h"
#include "provider/line_set.h"
#include "provider/listed_line_state.h"
#include "provider/tapi_delivery.h"

namespace qv {

void ProviderSessionEvents::RequestCompleted(std::uint32_t requestId, RequestOutcome outcome) {
  // One part of a TSPI_lineForward: TAPI hears once all parts are answered.
  if (CtiEnabled() && CtiForwardPartCompleted(requestId, outcome == RequestOutcome::kSuccess)) return;
  // A GenerateDigits: TAPI hears of it as LINE_GENERATE, not as a completion.
  if (CtiEnabled() && CtiDigitsPartCompleted(requestId, outcome == RequestOutcome::kSuccess)) return;
  // A step of returning to a held call: TAPI hears once the call is back.
  if (CtiEnabled() && CtiReconnectPartCompleted(requestId, outcome)) return;
  CallSlot* makeCallSlot = nullptr;
  {
    std::lock_guard lock(callTableLock);
    // A completed MakeCall no longer holds its slot once the call is closed.
    if (CallSlot* slot = SlotOfPendingMakeCallLocked(requestId)) {
      slot->makeCallPending = false;
      if (ListedLineOfSlot(slot) != nullptr) TakeListedMakeCallLocked(requestId);
      makeCallSlot = slot;
    }
    // Queued under the lock, so a close that comes now either finds the
    // request still open or finds its completion already queued. One that
    // a close has completed is not reported again.
    const bool success = outcome == RequestOutcome::kSuccess;
    if (RequestFinishedLocked(requestId)) {
      // A call TAPI created for a failed request is gone before TAPI hears
      // of the failure; one for a request that succeeded reports its state after.
      if (!success && CtiEnabled()) CtiSetupCompletedLocked(requestId, false);
      QueueCompletion(requestId, success ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED));
      if (CtiEnabled()) CtiRequestCompletedLocked(requestId, success);
      if (success && CtiEnabled()) CtiSetupCompletedLocked(requestId, true);
    } else if (CtiEnabled()) {
      // Completed as failed when its call was closed: so it stays.
      CtiSetupCompletedLocked(requestId, false);
    }
  }
  // The call's state messages follow its completion.
  if (makeCallSlot != nullptr && CtiEnabled())
    CtiMakeCallCompleted(makeCallSlot, outcome == RequestOutcome::kSuccess);
}

void ProviderSessionEvents::CallIdentified(std::uint32_t requestId, const std::string& callId,
                                           const std::string& deviceId) {
  std::lock_guard lock(callTableLock);
  if (CallSlot* slot = SlotOfPendingMakeCallLocked(requestId)) {
    slot->callId = callId;
    slot->deviceId = deviceId;
    if (CtiEnabled()) CtiCallIdentifiedLocked(slot, callId, deviceId);
  }
}

void ProviderSessionEvents::CallEventReceived(const CallEvent& event) {
  if (CtiEnabled()) CtiCallEventReceived(event);
}

void ProviderSessionEvents::LinkStateChanged(bool up) {
  if (CtiEnabled()) CtiLinkStateChanged(up);
}

void ProviderSessionEvents::LineMonitorChanged(int line, bool running) {
  ListedLineMonitorChanged(line, running);
  if (CtiEnabled()) CtiLineMonitorChanged(line, running);
}

void ProviderSessionEvents::DeviceSnapshot(int line, bool answered, bool linkLost,
                                           const std::vector<SnapshotCall>& calls) {
  if (CtiEnabled()) CtiDeviceSnapshot(line, answered, linkLost, calls);
}

// The delivery thread is woken once for a read's worth of events, not for
// each: on a busy core it would otherwise take turns with this thread.
void ProviderSessionEvents::FramesBegin() { BeginTapiBatch(); }
void ProviderSessionEvents::FramesEnd() { EndTapiBatch(); }

void ProviderSessionEvents::ForwardingReported(const ForwardingReport& report) {
  if (CtiEnabled()) CtiForwardingReported(report);
}

ProviderSessionEvents& providerSessionEvents() {
  static ProviderSessionEvents sink;
  return sink;
}

}  // namespace qv
