#pragma once
// Requests from TAPI's threads to the PBX. Submitting never waits on the
// network: the request is queued for the connection's own thread, and its
// outcome comes back through SessionEvents::RequestCompleted.
#include <cstdint>
#include <string>

namespace qv {

enum class RequestKind : std::uint8_t {
  kMakeCall,
  kClearConnection,
  kAnswerCall,
  kHoldCall,
  kRetrieveCall,
  kSingleStepTransferCall,
  kDeflectCall,
  kConsultationHold,
  kTransferCall,
  kConferenceCall,
  kAlternateCall,
  kSnapshotDevice,
  kSetForwarding,
  kSetDoNotDisturb,
  kGetForwarding,
  kGetDoNotDisturb,
  kDirectedPickupCall,
  kGroupPickupCall,
  kGenerateDigits,
  kDialDigits,
  kConferenceHold,
  kPrepareConferenceHold,
  kAddToConference,
  kRemoveFromConference,
  kReconnectCall,
};

// requestId 0: nobody waits for the outcome (it is still traced and logged).
// Otherwise the outcome is reported exactly once, also when the request
// cannot be queued. `line` is the listed line whose device the request is
// about (-1: the single line); the reports its answer brings name it.
void SubmitRequest(RequestKind kind, std::uint32_t requestId, std::string xml, int line = -1);

}  // namespace qv
