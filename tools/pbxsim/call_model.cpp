#include "tools/pbxsim/call_model.h"

#include <algorithm>
#include <chrono>

#include "tools/pbxsim/pbx_messages.h"

namespace qv::pbxsim {

namespace {

constexpr std::uint32_t kEventInvokeId = 9999;
constexpr std::string_view kCstaNs = "http://www.ecma-international.org/standards/ecma-323/csta/ed5";

// Element builders; p is the prefix with its colon, or empty.
std::string el(const std::string& p, std::string_view name, const std::string& inner) {
  return "<" + p + std::string(name) + ">" + inner + "</" + p + std::string(name) + ">";
}

std::string connection(const std::string& p, std::string_view name, const std::string& callId,
                       const std::string& device) {
  return el(p, name, el(p, "callID", callId) + el(p, "deviceID", device));
}

std::string deviceEl(const std::string& p, std::string_view name, const std::string& number,
                     const std::string& displayName = {}, bool external = false) {
  std::string id = "<" + p + "deviceIdentifier" +
                   (external ? std::string(" typeOfNumber=\"explicitPublic\"") : std::string()) + ">" +
                   number + "</" + p + "deviceIdentifier>";
  if (!displayName.empty()) id += el(p, "deviceName", displayName);
  return el(p, name, id);
}

std::string pbxName(const std::string& id) {
  std::size_t at = id.find('@');
  return at == std::string::npos ? id : id.substr(0, at);
}

bool isControl(std::string_view root) {
  static constexpr std::string_view kControl[] = {
      "AnswerCall",      "HoldCall",           "RetrieveCall",    "SingleStepTransferCall", "DeflectCall",
      "TransferCall",    "ConferenceCall",     "AlternateCall",   "ReconnectCall",          "SetForwarding",
      "SetDoNotDisturb", "DirectedPickupCall", "GroupPickupCall", "GenerateDigits",         "DialDigits"};
  return std::find(std::begin(kControl), std::end(kControl), root) != std::end(kControl);
}

std::string response(std::string_view root, const std::string& inner = {}) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + std::string(root) + " xmlns=\"" +
         std::string(kCstaNs) + "\">" + inner + "</" + std::string(root) + ">\n";
}

}  // namespace

CallSim::CallSim(std::function<void(const std::vector<std::string>&)> broadcast)
    : broadcast_(std::move(broadcast)) {}

CallSim::~CallSim() {
  {
    std::lock_guard lock(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : timers_) t.join();
}

void CallSim::SetOptions(const CallOptions& options) {
  std::lock_guard lock(lock_);
  options_ = options;
}

std::string CallSim::device() {
  std::lock_guard lock(lock_);
  return device_;
}

void CallSim::UseDevice(const std::string& device) {
  std::lock_guard lock(lock_);
  device_ = device;
}

void CallSim::MonitorStarted(const std::string& device, const std::string& crossRef) {
  std::lock_guard lock(lock_);
  crossRefs_[device] = crossRef;
}

std::string CallSim::lastCallId() {
  std::lock_guard lock(lock_);
  return last_;
}

std::string CallSim::NewCallId() {
  last_ = std::to_string(++nextCall_);
  return last_;
}

std::string CallSim::Event(std::string_view root, const std::string& body) {
  // Alternate the two ways a PBX writes the namespace.
  const bool prefixed = (eventCount_++ % 2) == 0;
  const std::string p = prefixed ? "csta:" : "";
  const auto monitor = crossRefs_.find(device_);
  const std::string crossRef = monitor == crossRefs_.end() ? "1" : monitor->second;
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + p + std::string(root) +
                  (prefixed ? " xmlns:csta=\"" : " xmlns=\"") + std::string(kCstaNs) + "\">" +
                  el(p, "monitorCrossRefID", crossRef) + body + "</" + p + std::string(root) + ">\n";
  // The body was written with the "csta:" prefix; the default form drops it.
  if (!prefixed) {
    std::string plain;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (x.compare(i, 5, "csta:") == 0 && i > 0 && (x[i - 1] == '<' || x[i - 1] == '/')) {
        i += 4;
        continue;
      }
      plain.push_back(x[i]);
    }
    x.swap(plain);
  }
  return Frame(kEventInvokeId, x);
}

void CallSim::Schedule(int delayMs, std::function<void()> action) {
  timers_.emplace_back([this, delayMs, action = std::move(action)] {
    std::unique_lock lock(lock_);
    if (wake_.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return stopping_; })) return;
    lock.unlock();
    action();
  });
}

void CallSim::AtCallDeviceLocked(const Call& call) {
  if (!call.at.empty()) device_ = call.at;
}

void CallSim::FarEndAnswersLocked(const std::string& callId, std::vector<std::string>& out) {
  auto it = calls_.find(callId);
  if (it == calls_.end()) return;
  AtCallDeviceLocked(it->second);
  const std::string p = "csta:";
  out.push_back(
      Event("EstablishedEvent", connection(p, "establishedConnection", callId, it->second.other) +
                                    deviceEl(p, "answeringDevice", it->second.other, it->second.otherName) +
                                    deviceEl(p, "callingDevice", device_) +
                                    deviceEl(p, "calledDevice", it->second.other) +
                                    el(p, "localConnectionInfo", "connected") + el(p, "cause", "normal")));
}

bool CallSim::OnRequest(std::uint32_t id, const std::string& root, const Field& field,
                        std::vector<std::string>& out) {
  std::vector<std::string> answer;
  if (!Answer(id, root, field, answer)) return false;
  std::lock_guard lock(lock_);
  if (options_.holdAnswers && isControl(root)) {
    heldAnswers_.insert(heldAnswers_.end(), answer.begin(), answer.end());
    ++heldRequests_;
  } else {
    out.insert(out.end(), answer.begin(), answer.end());
  }
  return true;
}

std::size_t CallSim::ReleaseAnswers() {
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    out.swap(heldAnswers_);
  }
  if (!out.empty()) broadcast_(out);
  return out.size();
}

std::size_t CallSim::HeldRequests() {
  std::lock_guard lock(lock_);
  return heldRequests_;
}

bool CallSim::Answer(std::uint32_t id, const std::string& root, const Field& field,
                     std::vector<std::string>& out) {
  const bool control = isControl(root);
  if (root == "MonitorStart") {
    std::lock_guard lock(lock_);
    device_ = pbxName(field("deviceObject"));
    return false;  // answered as always
  }
  if (root == "SnapshotDevice") {
    std::lock_guard lock(lock_);
    device_ = pbxName(field("snapshotObject"));
    if (options_.refuseSnapshot) {
      out.push_back(Frame(id, CstaErrorCode("requestIncompatibleWithObject")));
      return true;
    }
    std::string info;
    for (const auto& [callId, call] : calls_) {
      if (!call.ringingAt.empty()) continue;  // not at the monitored device
      if (!call.at.empty() && call.at != device_) continue;
      info += "<snapshotDeviceResponseInfo><connectionIdentifier><callID>" + callId + "</callID><deviceID>" +
              device_ + "</deviceID></connectionIdentifier><localCallState><compoundCallState>" +
              "<localConnectionState>" + call.local +
              "</localConnectionState></compoundCallState></localCallState></snapshotDeviceResponseInfo>";
    }
    out.push_back(
        Frame(id, response("SnapshotDeviceResponse", "<crossRefIDorSnapshotData><snapshotData>" + info +
                                                         "</snapshotData></crossRefIDorSnapshotData>")));
    return true;
  }
  if (root == "GetForwarding" || root == "GetDoNotDisturb") {
    std::lock_guard lock(lock_);
    device_ = pbxName(field("device"));
    if (root == "GetDoNotDisturb") {
      out.push_back(Frame(id, response("GetDoNotDisturbResponse", std::string("<doNotDisturbOn>") +
                                                                      (dnd_[device_] ? "true" : "false") +
                                                                      "</doNotDisturbOn>")));
      return true;
    }
    std::string list;
    for (const auto& [type, to] : forwarding_[device_]) {
      list += "<forwardListItem><forwardingType>" + type +
              "</forwardingType><forwardStatus>true</forwardStatus>"
              "<forwardDN>" +
              to + "</forwardDN></forwardListItem>";
    }
    out.push_back(
        Frame(id, response("GetForwardingResponse", "<forwardingList>" + list + "</forwardingList>")));
    return true;
  }
  if (!control && root != "MakeCall" && root != "ClearConnection") return false;
  std::unique_lock lock(lock_);
  const std::string p = "csta:";
  // A request acts at the device it names.
  for (std::string_view name :
       {"deviceID", "heldCall/deviceID", "device", "requestingDevice", "newDestination"}) {
    if (root == "DirectedPickupCall" && name == "deviceID") continue;  // the colleague's
    if (root == "ClearConnection") break;                              // may name the far end
    const std::string named = pbxName(field(name));
    if (named.empty()) continue;
    if (root != "GroupPickupCall" || name == "newDestination") device_ = named;
    break;
  }
  if (control && options_.silentControl) return true;
  if (control && options_.refuseControl) {
    out.push_back(Frame(id, CstaErrorCode("invalidCallState")));
    return true;
  }
  if (root == "MakeCall") {
    const std::string callId = NewCallId();
    const std::string me = pbxName(field("callingDevice"));
    const std::string called = field("calledDirectoryNumber");
    device_ = me;
    if (options_.noCallIds) {
      out.push_back(Frame(id, MakeCallResponse("", me, called)));
      return true;
    }
    calls_[callId] = {called, options_.farName, false};
    calls_[callId].at = device_;
    out.push_back(Frame(id, MakeCallResponse(callId, me, called)));
    out.push_back(Event("ServiceInitiatedEvent", connection(p, "initiatedConnection", callId, me) +
                                                     deviceEl(p, "initiatingDevice", me) +
                                                     el(p, "localConnectionInfo", "initiated") +
                                                     el(p, "cause", "makeCall")));
    out.push_back(
        Event("OriginatedEvent", connection(p, "originatedConnection", callId, me) +
                                     deviceEl(p, "callingDevice", me) + deviceEl(p, "calledDevice", called) +
                                     el(p, "localConnectionInfo", "connected") + el(p, "cause", "makeCall")));
    if (!options_.failCause.empty()) {
      out.push_back(Event("FailedEvent",
                          connection(p, "failedConnection", callId, called) +
                              deviceEl(p, "failingDevice", called) + deviceEl(p, "callingDevice", me) +
                              deviceEl(p, "calledDevice", called) + el(p, "localConnectionInfo", "fail") +
                              el(p, "cause", options_.failCause)));
      return true;
    }
    out.push_back(
        Event("DeliveredEvent", connection(p, "connection", callId, called) +
                                    deviceEl(p, "alertingDevice", called, options_.farName) +
                                    deviceEl(p, "callingDevice", me) + deviceEl(p, "calledDevice", called) +
                                    el(p, "localConnectionInfo", "connected") + el(p, "cause", "newCall")));
    if (options_.answerDelayMs == 0) {
      FarEndAnswersLocked(callId, out);
    } else if (options_.answerDelayMs > 0) {
      Schedule(options_.answerDelayMs, [this, callId] { FarEndAnswers(callId); });
    }
    return true;
  }
  if (root == "DirectedPickupCall" || root == "GroupPickupCall") {
    const std::string from = pbxName(field("callToBePickedUp/deviceID"));
    const std::string group = field("pickupGroup");
    auto ringing = calls_.begin();
    for (; ringing != calls_.end(); ++ringing) {
      const Call& c = ringing->second;
      if (!c.ringingAt.empty() && (root == "DirectedPickupCall" ? c.ringingAt == from : c.group == group))
        break;
    }
    if (ringing == calls_.end()) {
      out.push_back(Frame(id, CstaErrorCode("noCallToPickUp")));
      return true;
    }
    Call& c = ringing->second;
    c.ringingAt.clear();
    c.at = device_;
    c.local = "connected";
    out.push_back(Frame(
        id, response(root + "Response", "<pickedCall><callID>" + ringing->first + "</callID><deviceID>" +
                                            device_ + "</deviceID></pickedCall>")));
    out.push_back(Event("EstablishedEvent", connection(p, "establishedConnection", ringing->first, device_) +
                                                deviceEl(p, "answeringDevice", device_) +
                                                deviceEl(p, "callingDevice", c.other, c.otherName, true) +
                                                deviceEl(p, "calledDevice", from.empty() ? device_ : from) +
                                                el(p, "localConnectionInfo", "connected") +
                                                el(p, "cause", "callPickup")));
    return true;
  }
  if (root == "SetForwarding") {
    out.push_back(Frame(id, response("SetForwardingResponse")));
    ForwardingLocked(field("forwardingType"), field("activateForward") == "true", field("forwardDN"), out);
    return true;
  }
  if (root == "SetDoNotDisturb") {
    out.push_back(Frame(id, response("SetDoNotDisturbResponse")));
    DoNotDisturbLocked(field("doNotDisturbOn") == "true", out);
    return true;
  }
  if (root == "ReconnectCall" && options_.refuseReconnect) {
    out.push_back(Frame(id, CstaErrorCode("invalidFeature")));
    return true;
  }
  if (root == "TransferCall" || root == "ConferenceCall" || root == "AlternateCall" ||
      root == "ReconnectCall") {
    TwoCallRequestLocked(id, root, field("heldCall/callID"), field("activeCall/callID"), out);
    return true;
  }
  const std::string callId = field("callID");
  const std::string deviceId = pbxName(field("deviceID"));
  auto it = calls_.find(callId);
  if (root == "ClearConnection") {
    out.push_back(Frame(id, ClearConnectionResponse()));
    if (callId.empty()) return true;  // nothing an event could name
    if (it != calls_.end()) AtCallDeviceLocked(it->second);
    out.push_back(Event("ConnectionClearedEvent", connection(p, "droppedConnection", callId, deviceId) +
                                                      deviceEl(p, "releasingDevice", deviceId) +
                                                      el(p, "localConnectionInfo", "null") +
                                                      el(p, "cause", "normalClearing")));
    if (deviceId == device_) {
      calls_.erase(callId);
    } else if (auto conf = calls_.find(callId); conf != calls_.end()) {
      auto& parties = conf->second.parties;
      parties.erase(std::remove(parties.begin(), parties.end(), deviceId), parties.end());
    }
    return true;
  }
  if (it == calls_.end()) {
    out.push_back(Frame(id, CstaErrorCode("invalidCallID")));
    return true;
  }
  Call& call = it->second;
  if (root == "AnswerCall" || root == "RetrieveCall") call.local = "connected";
  if (root == "HoldCall") call.local = "hold";
  if (root == "DialDigits") {
    const std::string number = field("dialingSequence");
    call.other = number;
    out.push_back(Frame(id, response("DialDigitsResponse")));
    out.push_back(Event("OriginatedEvent",
                        connection(p, "originatedConnection", callId, device_) +
                            deviceEl(p, "callingDevice", device_) + deviceEl(p, "calledDevice", number) +
                            el(p, "localConnectionInfo", "connected") + el(p, "cause", "normal")));
    out.push_back(Event("DeliveredEvent",
                        connection(p, "connection", callId, number) +
                            deviceEl(p, "alertingDevice", number, options_.farName) +
                            deviceEl(p, "callingDevice", device_) + deviceEl(p, "calledDevice", number) +
                            el(p, "localConnectionInfo", "connected") + el(p, "cause", "newCall")));
    return true;
  }
  if (root == "GenerateDigits") {
    out.push_back(Frame(id, response("GenerateDigitsResponse")));
    return true;
  }
  if (root == "AnswerCall") {
    out.push_back(Frame(id, response("AnswerCallResponse")));
    out.push_back(
        Event("EstablishedEvent", connection(p, "establishedConnection", callId, device_) +
                                      deviceEl(p, "answeringDevice", device_) +
                                      deviceEl(p, "callingDevice", call.other, call.otherName, true) +
                                      deviceEl(p, "calledDevice", device_) +
                                      el(p, "localConnectionInfo", "connected") + el(p, "cause", "normal")));
  } else if (root == "HoldCall") {
    out.push_back(Frame(id, response("HoldCallResponse")));
    out.push_back(Event("HeldEvent", connection(p, "heldConnection", callId, device_) +
                                         deviceEl(p, "holdingDevice", device_) +
                                         el(p, "localConnectionInfo", "hold") + el(p, "cause", "normal")));
  } else if (root == "RetrieveCall") {
    out.push_back(Frame(id, response("RetrieveCallResponse")));
    out.push_back(Event("RetrievedEvent", connection(p, "retrievedConnection", callId, device_) +
                                              deviceEl(p, "retrievingDevice", device_) +
                                              el(p, "localConnectionInfo", "connected") +
                                              el(p, "cause", "normal")));
  } else if (root == "SingleStepTransferCall") {
    const std::string target = field("transferredTo");
    const std::string newCall = NewCallId();
    out.push_back(Frame(id, response("SingleStepTransferCallResponse", "<transferredCall><callID>" + newCall +
                                                                           "</callID><deviceID>" + target +
                                                                           "</deviceID></transferredCall>")));
    out.push_back(Event("TransferedEvent",
                        connection(p, "primaryOldCall", callId, device_) +
                            deviceEl(p, "transferringDevice", device_) +
                            deviceEl(p, "transferredToDevice", target) +
                            el(p, "transferredConnections",
                               el(p, "connectionListItem", connection(p, "newConnection", newCall, target))) +
                            el(p, "localConnectionInfo", "null") + el(p, "cause", "singleStepTransfer")));
    calls_.erase(it);
  } else if (root == "DeflectCall") {
    const std::string target = field("newDestination");
    out.push_back(Frame(id, response("DeflectCallResponse")));
    out.push_back(Event("DivertedEvent",
                        connection(p, "connection", callId, device_) +
                            deviceEl(p, "divertingDevice", device_) + deviceEl(p, "newDestination", target) +
                            deviceEl(p, "callingDevice", call.other, call.otherName, true) +
                            el(p, "localConnectionInfo", "null") + el(p, "cause", "redirected")));
    calls_.erase(it);
  }
  return true;
}

void CallSim::TwoCallRequestLocked(std::uint32_t id, const std::string& root, const std::string& heldId,
                                   const std::string& activeId, std::vector<std::string>& out) {
  auto held = calls_.find(heldId);
  auto active = calls_.find(activeId);
  if (held == calls_.end() || active == calls_.end() || heldId == activeId) {
    out.push_back(Frame(id, CstaErrorCode("invalidCallID")));
    return;
  }
  const std::string p = "csta:";
  const std::string oldCalls =
      connection(p, "primaryOldCall", heldId, device_) + connection(p, "secondaryOldCall", activeId, device_);
  if (root == "AlternateCall") {
    held->second.local = "connected";
    active->second.local = "hold";
    out.push_back(Frame(id, response("AlternateCallResponse")));
    out.push_back(Event("HeldEvent", connection(p, "heldConnection", activeId, device_) +
                                         deviceEl(p, "holdingDevice", device_) +
                                         el(p, "localConnectionInfo", "hold") + el(p, "cause", "alternate")));
    out.push_back(Event("RetrievedEvent", connection(p, "retrievedConnection", heldId, device_) +
                                              deviceEl(p, "retrievingDevice", device_) +
                                              el(p, "localConnectionInfo", "connected") +
                                              el(p, "cause", "alternate")));
    return;
  }
  if (root == "ReconnectCall") {
    // The active call is cleared at our device, then the held one comes back.
    held->second.local = "connected";
    out.push_back(Frame(id, response("ReconnectCallResponse")));
    out.push_back(Event("ConnectionClearedEvent", connection(p, "droppedConnection", activeId, device_) +
                                                      deviceEl(p, "releasingDevice", device_) +
                                                      el(p, "localConnectionInfo", "null") +
                                                      el(p, "cause", "normalClearing")));
    out.push_back(Event("RetrievedEvent", connection(p, "retrievedConnection", heldId, device_) +
                                              deviceEl(p, "retrievingDevice", device_) +
                                              el(p, "localConnectionInfo", "connected") +
                                              el(p, "cause", "normal")));
    calls_.erase(active);
    return;
  }
  const std::string newCall = NewCallId();
  const std::string other = active->second.other;
  if (root == "TransferCall") {
    out.push_back(Frame(
        id, response("TransferCallResponse", "<transferredCall><callID>" + newCall + "</callID><deviceID>" +
                                                 other + "</deviceID></transferredCall>")));
    out.push_back(Event("TransferedEvent",
                        oldCalls + deviceEl(p, "transferringDevice", device_) +
                            deviceEl(p, "transferredToDevice", other) +
                            el(p, "transferredConnections",
                               el(p, "connectionListItem", connection(p, "newConnection", newCall, other))) +
                            el(p, "localConnectionInfo", "null") + el(p, "cause", "transfer")));
    calls_.erase(held);
    calls_.erase(active);
    return;
  }
  out.push_back(Frame(
      id, response("ConferenceCallResponse", "<conferenceCall><callID>" + newCall + "</callID><deviceID>" +
                                                 device_ + "</deviceID></conferenceCall>")));
  Call conference = held->second;
  if (conference.parties.empty()) conference.parties.push_back(conference.other);
  conference.parties.push_back(other);
  std::string parties = el(p, "connectionListItem", connection(p, "newConnection", newCall, device_));
  for (const std::string& party : conference.parties)
    parties += el(p, "connectionListItem", connection(p, "newConnection", newCall, party));
  out.push_back(Event("ConferencedEvent",
                      oldCalls + deviceEl(p, "conferencingDevice", device_) +
                          deviceEl(p, "addedParty", other) + el(p, "conferenceConnections", parties) +
                          el(p, "localConnectionInfo", "connected") + el(p, "cause", "conference")));
  conference.local = "connected";
  calls_.erase(held);
  calls_.erase(active);
  calls_[newCall] = conference;
}

std::string CallSim::LocalState(const std::string& callId) {
  std::lock_guard lock(lock_);
  auto it = calls_.find(callId);
  return it == calls_.end() ? std::string() : it->second.local;
}

std::string CallSim::IncomingCall(const std::string& from, const std::string& name, const std::string& at) {
  std::vector<std::string> out;
  std::string callId;
  {
    std::lock_guard lock(lock_);
    if (!at.empty()) device_ = at;
    callId = NewCallId();
    calls_[callId] = {from, name, true, "alerting"};
    calls_[callId].at = device_;
    const std::string p = "csta:";
    out.push_back(
        Event("DeliveredEvent",
              connection(p, "connection", callId, device_) + deviceEl(p, "alertingDevice", device_) +
                  deviceEl(p, "callingDevice", from, name, true) + deviceEl(p, "calledDevice", device_) +
                  el(p, "localConnectionInfo", "alerting") + el(p, "cause", "newCall")));
  }
  broadcast_(out);
  return callId;
}

std::string CallSim::DeskPhoneCall(const std::string& number, const std::string& at) {
  std::vector<std::string> out;
  std::string callId;
  {
    std::lock_guard lock(lock_);
    if (!at.empty()) device_ = at;
    callId = NewCallId();
    calls_[callId] = {number, options_.farName, false};
    calls_[callId].at = device_;
    const std::string p = "csta:";
    out.push_back(Event("ServiceInitiatedEvent", connection(p, "initiatedConnection", callId, device_) +
                                                     deviceEl(p, "initiatingDevice", device_) +
                                                     el(p, "localConnectionInfo", "initiated") +
                                                     el(p, "cause", "newCall")));
    out.push_back(Event("OriginatedEvent",
                        connection(p, "originatedConnection", callId, device_) +
                            deviceEl(p, "callingDevice", device_) + deviceEl(p, "calledDevice", number) +
                            el(p, "localConnectionInfo", "connected") + el(p, "cause", "normal")));
    out.push_back(Event("DeliveredEvent",
                        connection(p, "connection", callId, number) +
                            deviceEl(p, "alertingDevice", number, options_.farName) +
                            deviceEl(p, "callingDevice", device_) + deviceEl(p, "calledDevice", number) +
                            el(p, "localConnectionInfo", "connected") + el(p, "cause", "newCall")));
  }
  broadcast_(out);
  return callId;
}

std::string CallSim::FailedCall(const std::string& number, const std::string& cause) {
  std::vector<std::string> out;
  std::string callId;
  {
    std::lock_guard lock(lock_);
    callId = NewCallId();
    calls_[callId] = {number, {}, false};
    calls_[callId].at = device_;
    const std::string p = "csta:";
    out.push_back(Event("ServiceInitiatedEvent", connection(p, "initiatedConnection", callId, device_) +
                                                     deviceEl(p, "initiatingDevice", device_) +
                                                     el(p, "cause", "newCall")));
    out.push_back(Event("FailedEvent", connection(p, "failedConnection", callId, number) +
                                           deviceEl(p, "failingDevice", number) +
                                           deviceEl(p, "callingDevice", device_) +
                                           deviceEl(p, "calledDevice", number) +
                                           el(p, "localConnectionInfo", "fail") + el(p, "cause", cause)));
  }
  broadcast_(out);
  return callId;
}

std::string CallSim::CallOrLast(const std::string& callId) { return callId.empty() ? last_ : callId; }

void CallSim::FarEndAnswers(const std::string& callId) {
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    FarEndAnswersLocked(CallOrLast(callId), out);
  }
  if (!out.empty()) broadcast_(out);
}

void CallSim::FarEndHangsUp(const std::string& callId) {
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    const std::string id = CallOrLast(callId);
    auto it = calls_.find(id);
    if (it == calls_.end()) return;
    AtCallDeviceLocked(it->second);
    const std::string p = "csta:";
    out.push_back(Event("ConnectionClearedEvent", connection(p, "droppedConnection", id, it->second.other) +
                                                      deviceEl(p, "releasingDevice", it->second.other) +
                                                      el(p, "localConnectionInfo", "null") +
                                                      el(p, "cause", "normalClearing")));
    // The PBX then releases the monitored device's side as well.
    out.push_back(Event("ConnectionClearedEvent", connection(p, "droppedConnection", id, device_) +
                                                      deviceEl(p, "releasingDevice", device_) +
                                                      el(p, "localConnectionInfo", "null") +
                                                      el(p, "cause", "normalClearing")));
    calls_.erase(it);
  }
  broadcast_(out);
}

void CallSim::PartyLeaves(const std::string& conferenceId, const std::string& party) {
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    auto it = calls_.find(conferenceId);
    if (it == calls_.end()) return;
    AtCallDeviceLocked(it->second);
    auto& parties = it->second.parties;
    parties.erase(std::remove(parties.begin(), parties.end(), party), parties.end());
    const std::string p = "csta:";
    out.push_back(Event("ConnectionClearedEvent", connection(p, "droppedConnection", conferenceId, party) +
                                                      deviceEl(p, "releasingDevice", party) +
                                                      el(p, "localConnectionInfo", "connected") +
                                                      el(p, "cause", "normalClearing")));
  }
  broadcast_(out);
}

void CallSim::EndCallUnseen(const std::string& callId) {
  std::lock_guard lock(lock_);
  calls_.erase(CallOrLast(callId));
}

std::string CallSim::AddCallUnseen(const std::string& other, const std::string& localState) {
  std::lock_guard lock(lock_);
  const std::string callId = NewCallId();
  calls_[callId] = {other, {}, localState == "alerting", localState};
  calls_[callId].at = device_;
  return callId;
}

void CallSim::ForwardingLocked(const std::string& type, bool on, const std::string& destination,
                               std::vector<std::string>& out) {
  if (on) {
    forwarding_[device_][type] = destination;
  } else {
    forwarding_[device_].erase(type);
  }
  const std::string p = "csta:";
  out.push_back(Event("ForwardingEvent", deviceEl(p, "device", device_) + el(p, "forwardingType", type) +
                                             el(p, "forwardStatus", on ? "true" : "false") +
                                             (on ? el(p, "forwardTo", destination) : std::string())));
}

void CallSim::DoNotDisturbLocked(bool on, std::vector<std::string>& out) {
  dnd_[device_] = on;
  out.push_back(Event("DoNotDisturbEvent", deviceEl("csta:", "device", device_) +
                                               el("csta:", "doNotDisturbOn", on ? "true" : "false")));
}

void CallSim::PhoneSetsForwarding(const std::string& type, bool on, const std::string& destination) {
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    ForwardingLocked(type, on, destination, out);
  }
  broadcast_(out);
}

void CallSim::PhoneSetsDoNotDisturb(bool on) {
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    DoNotDisturbLocked(on, out);
  }
  broadcast_(out);
}

std::string CallSim::DeskPhoneOffHook() {
  std::vector<std::string> out;
  std::string callId;
  {
    std::lock_guard lock(lock_);
    callId = NewCallId();
    calls_[callId] = Call({}, options_.farName, false, "initiated");
    calls_[callId].at = device_;
    const std::string p = "csta:";
    out.push_back(Event("ServiceInitiatedEvent", connection(p, "initiatedConnection", callId, device_) +
                                                     deviceEl(p, "initiatingDevice", device_) +
                                                     el(p, "localConnectionInfo", "initiated") +
                                                     el(p, "cause", "newCall")));
  }
  broadcast_(out);
  return callId;
}

std::string CallSim::RingColleague(const std::string& colleague, const std::string& group,
                                   const std::string& from) {
  std::lock_guard lock(lock_);
  const std::string callId = NewCallId();
  Call c{from, {}, true, "alerting"};
  c.ringingAt = colleague;
  c.group = group;
  calls_[callId] = c;
  calls_[callId].at = device_;
  return callId;
}

void CallSim::SendUnknownEvent() {
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    out.push_back(Event("CallInformationEvent", connection("csta:", "connection", last_, device_) +
                                                    el("csta:", "accountInfo", "4711")));
  }
  broadcast_(out);
}

void CallSim::SendMalformedEvent() {
  std::vector<std::string> out = {
      Frame(kEventInvokeId,
            "<DeliveredEvent><connection><deviceID>201</deviceID></connection></DeliveredEvent>"),
      Frame(kEventInvokeId, "<csta:EstablishedEvent xmlns:csta=\"x\"><csta:establishedConnection><callID>"),
      Frame(kEventInvokeId, "\x01\x02 not xml <<<>>>"),
  };
  broadcast_(out);
}

}  // namespace qv::pbxsim
