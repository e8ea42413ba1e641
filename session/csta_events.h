#pragma once
// Call events of the device monitor (ECMA-323 editions 3 to 6) as typed
// values. Root elements are matched by local name, so prefixed
// (`csta:DeliveredEvent`) and default-namespace forms read the same.
#include <string>

#include "session/call_event.h"
#include "xml/xml_node.h"

namespace qv {

// Identifiers and names longer than this are cut: they end up in TAPI
// structures and in the log.
inline constexpr std::size_t kMaxCallEventField = 128;

struct ParsedCallEvent {
  bool isEvent = false;  // the root's local name ends in "Event"
  bool valid = false;    // an event the line can use (kOther included)
  std::string problem;   // why a call event was not valid, for the log
  CallEvent event;
};

ParsedCallEvent ParseCallEvent(const XmlNode& root);

// The event's name and identifiers on one line, for the log.
std::string DescribeCallEvent(const CallEvent& event);

}  // namespace qv
