#pragma once
// A CSTA call event (ECMA-323) of the monitored device, as typed values.
#include <cstdint>
#include <string>

namespace qv {

enum class CallEventKind : std::uint8_t {
  kServiceInitiated,
  kOriginated,
  kDelivered,
  kEstablished,
  kHeld,
  kRetrieved,
  kConnectionCleared,
  kFailed,
  kDiverted,
  kTransferred,
  kConferenced,
  kOther,  // a well-formed event this line does not act on
};

// Where a party sits as the PBX tells it (the typeOfNumber of its number,
// or a network calling device beside it).
enum class PartyScope : std::uint8_t { kUnknown, kInternal, kExternal };

struct CallParty {
  std::string deviceId;     // as the PBX writes it
  std::string name;         // empty when the PBX sends none
  bool restricted = false;  // the PBX withholds it (<restricted/>)
  bool notKnown = false;    // the PBX does not know it (<notKnown/>)
  PartyScope scope = PartyScope::kUnknown;
  bool Present() const { return !deviceId.empty() || restricted || notKnown; }
};

struct CallEvent {
  CallEventKind kind = CallEventKind::kOther;
  std::string eventName;  // local name of the root element, for the log
  std::string callId;     // of the connection the event is about (primaryOldCall for transfer/conference)
  std::string deviceId;   // of that connection
  // Transfer and conference: the other call that was merged.
  std::string secondaryCallId;
  std::string secondaryDeviceId;
  // Transfer and conference: the call id that replaces both old calls,
  // when the PBX lists the resulting connections.
  std::string newCallId;
  CallParty calling;
  CallParty called;
  // The device that acts in the event: alerting (Delivered), answering
  // (Established), releasing, holding, retrieving, failing, diverting,
  // transferring, conferencing, initiating.
  CallParty subject;
  // The device the call moves to: newDestination (Diverted),
  // transferredToDevice (Transferred), addedParty (Conferenced).
  CallParty target;
  CallParty lastRedirection;
  std::string localConnectionInfo;  // null, initiated, alerting, connected, hold, queued, fail
  std::string cause;
  // The listed line whose monitor reported it (kNoLine without listed lines).
  int line = -1;
};

}  // namespace qv
