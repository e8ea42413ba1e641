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

struct CallParty {
  std::string deviceId;  // as the PBX writes it
  std::string name;      // empty when the PBX sends none
};

struct CallEvent {
  CallEventKind kind = CallEventKind::kOther;
  std::string eventName;  // local name of the root element, for the log
  std::string callId;     // of the connection the event is about
  std::string deviceId;   // of that connection
};

}  // namespace qv
