#include "session/csta_events.h"

#include <string_view>

#include "session/device_identifier.h"

namespace qv {

namespace {

struct EventShape {
  std::string_view root;
  CallEventKind kind;
  std::string_view connection;  // element holding callID/deviceID
  std::string_view subject;     // the acting device
  std::string_view target;      // where the call goes
};

// Element names as ECMA-323 spells them ("TransferedEvent" included).
constexpr EventShape kShapes[] = {
    {"ServiceInitiatedEvent", CallEventKind::kServiceInitiated, "initiatedConnection", "initiatingDevice",
     ""},
    {"OriginatedEvent", CallEventKind::kOriginated, "originatedConnection", "originatingDevice", ""},
    {"DeliveredEvent", CallEventKind::kDelivered, "connection", "alertingDevice", ""},
    {"EstablishedEvent", CallEventKind::kEstablished, "establishedConnection", "answeringDevice", ""},
    {"HeldEvent", CallEventKind::kHeld, "heldConnection", "holdingDevice", ""},
    {"RetrievedEvent", CallEventKind::kRetrieved, "retrievedConnection", "retrievingDevice", ""},
    {"ConnectionClearedEvent", CallEventKind::kConnectionCleared, "droppedConnection", "releasingDevice", ""},
    {"FailedEvent", CallEventKind::kFailed, "failedConnection", "failingDevice", ""},
    {"DivertedEvent", CallEventKind::kDiverted, "connection", "divertingDevice", "newDestination"},
    {"TransferedEvent", CallEventKind::kTransferred, "primaryOldCall", "transferringDevice",
     "transferredToDevice"},
    {"TransferredEvent", CallEventKind::kTransferred, "primaryOldCall", "transferringDevice",
     "transferredToDevice"},
    {"ConferencedEvent", CallEventKind::kConferenced, "primaryOldCall", "conferencingDevice", "addedParty"},
};

const XmlNode* child(const XmlNode& node, std::string_view name) {
  for (const XmlNode& c : node.children) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string trimmed(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (b < e && space(text[b])) ++b;
  while (e > b && space(text[e - 1])) --e;
  return std::string(text.substr(b, std::min(e - b, kMaxCallEventField)));
}

std::string childText(const XmlNode& node, std::string_view name) {
  const XmlNode* c = child(node, name);
  return c != nullptr ? trimmed(c->text) : std::string();
}

PartyScope scopeOf(std::string_view typeOfNumber) {
  if (typeOfNumber == "implicitPrivate" || typeOfNumber == "explicitPrivate" ||
      typeOfNumber == "deviceNumber")
    return PartyScope::kInternal;
  if (typeOfNumber == "implicitPublic" || typeOfNumber == "explicitPublic") return PartyScope::kExternal;
  return PartyScope::kUnknown;
}

// A device element: <x><deviceIdentifier typeOfNumber=".." name="..">N</deviceIdentifier></x>,
// <x><notKnown/></x>, <x><restricted/></x>, or the number as the element's own text.
CallParty partyOf(const XmlNode* node) {
  CallParty party;
  if (node == nullptr) return party;
  const XmlNode* id = child(*node, "deviceIdentifier");
  if (id == nullptr) id = child(*node, "deviceID");
  if (id != nullptr) {
    party.deviceId = trimmed(id->text);
    for (const XmlAttribute& a : id->attributes) {
      if (a.name == "typeOfNumber") party.scope = scopeOf(a.value);
      if (a.name == "name" || a.name == "displayName") party.name = trimmed(a.value);
    }
  } else if (node->children.empty()) {
    party.deviceId = trimmed(node->text);
  }
  party.restricted = child(*node, "restricted") != nullptr;
  party.notKnown = child(*node, "notKnown") != nullptr;
  for (std::string_view nameElement : {"deviceName", "displayName", "name"}) {
    if (party.name.empty()) party.name = childText(*node, nameElement);
  }
  // N<number>name;key=value: the number identifies the party, the name
  // counts when no element gave one.
  DeviceIdentifier dialect = ParseDeviceIdentifier(party.deviceId);
  party.deviceId = dialect.number;
  if (party.name.empty()) party.name = dialect.name;
  return party;
}

// <connection><callID>..</callID><deviceID>..</deviceID></connection>; the
// device may also sit in <staticID> or <dynamicID>.
void connectionOf(const XmlNode* node, std::string& callId, std::string& deviceId) {
  if (node == nullptr) return;
  callId = childText(*node, "callID");
  deviceId = childText(*node, "deviceID");
  if (deviceId.empty()) {
    if (const XmlNode* s = child(*node, "staticID")) deviceId = childText(*s, "deviceID");
  }
  if (deviceId.empty()) deviceId = childText(*node, "dynamicID");
}

// First <newConnection> callID of a transferredConnections/conferenceConnections list.
std::string firstNewCall(const XmlNode* list) {
  if (list == nullptr) return {};
  for (const XmlNode& item : list->children) {
    if (const XmlNode* n = child(item, "newConnection")) {
      std::string id = childText(*n, "callID");
      if (!id.empty()) return id;
    }
  }
  return {};
}

}  // namespace

ParsedCallEvent ParseCallEvent(const XmlNode& root) {
  ParsedCallEvent parsed;
  std::string_view name = root.name;
  if (name.size() <= 5 || name.substr(name.size() - 5) != "Event") return parsed;
  parsed.isEvent = true;
  CallEvent& e = parsed.event;
  e.eventName = std::string(name.substr(0, kMaxCallEventField));
  const EventShape* shape = nullptr;
  for (const EventShape& s : kShapes) {
    if (s.root == name) shape = &s;
  }
  if (shape == nullptr) {
    e.kind = CallEventKind::kOther;
    parsed.valid = true;
    return parsed;
  }
  e.kind = shape->kind;
  connectionOf(child(root, shape->connection), e.callId, e.deviceId);
  if (e.kind == CallEventKind::kTransferred || e.kind == CallEventKind::kConferenced) {
    connectionOf(child(root, "secondaryOldCall"), e.secondaryCallId, e.secondaryDeviceId);
    e.newCallId = firstNewCall(child(
        root, e.kind == CallEventKind::kTransferred ? "transferredConnections" : "conferenceConnections"));
  }
  e.subject = partyOf(child(root, shape->subject));
  if (!shape->target.empty()) e.target = partyOf(child(root, shape->target));
  e.calling = partyOf(child(root, "callingDevice"));
  e.called = partyOf(child(root, "calledDevice"));
  e.lastRedirection = partyOf(child(root, "lastRedirectionDevice"));
  // A calling party that came in from the network is external.
  if (e.calling.scope == PartyScope::kUnknown && child(root, "networkCallingDevice") != nullptr)
    e.calling.scope = PartyScope::kExternal;
  e.localConnectionInfo = childText(root, "localConnectionInfo");
  e.cause = childText(root, "cause");
  if (e.callId.empty()) {
    parsed.problem = "no callID in <" + std::string(shape->connection) + ">";
    return parsed;
  }
  parsed.valid = true;
  return parsed;
}

std::string DescribeCallEvent(const CallEvent& e) {
  std::string text = e.eventName + " call " + e.callId + " device " + e.deviceId;
  if (!e.subject.deviceId.empty()) text += " by " + e.subject.deviceId;
  if (!e.calling.deviceId.empty()) text += " from " + e.calling.deviceId;
  if (!e.called.deviceId.empty()) text += " to " + e.called.deviceId;
  if (!e.cause.empty()) text += " cause " + e.cause;
  return text;
}

}  // namespace qv
