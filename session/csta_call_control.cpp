#include "session/csta_call_control.h"

#include "session/csta_requests.h"

namespace qv {

namespace {

template <typename... Pieces>
void line(std::string& out, const Pieces&... pieces) {
  (out.append(pieces), ...);
  out.append("\r\n");
}

// <Root xmlns=..><connectionElement><callID/><deviceID/></connectionElement>[extra]</Root>
std::string connectionRequest(std::string_view root, std::string_view connectionElement,
                              std::string_view callId, std::string_view deviceId,
                              std::string_view extraElement = {}, std::string_view extraValue = {}) {
  std::string x;
  x.reserve(256 + callId.size() + deviceId.size() + extraValue.size());
  line(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  line(x, "<", root, " xmlns=\"", kCstaNamespace, "\">");
  line(x, "<", connectionElement, ">");
  line(x, "<callID>", callId, "</callID>");
  line(x, "<deviceID>", deviceId, "</deviceID>");
  line(x, "</", connectionElement, ">");
  if (!extraElement.empty()) line(x, "<", extraElement, ">", extraValue, "</", extraElement, ">");
  line(x, "</", root, ">");
  return x;
}

}  // namespace

std::string AnswerCallXml(std::string_view callId, std::string_view deviceId) {
  return connectionRequest("AnswerCall", "callToBeAnswered", callId, deviceId);
}

std::string HoldCallXml(std::string_view callId, std::string_view deviceId) {
  return connectionRequest("HoldCall", "callToBeHeld", callId, deviceId);
}

std::string RetrieveCallXml(std::string_view callId, std::string_view deviceId) {
  return connectionRequest("RetrieveCall", "callToBeRetrieved", callId, deviceId);
}

std::string SingleStepTransferCallXml(std::string_view callId, std::string_view deviceId,
                                      std::string_view transferredTo) {
  return connectionRequest("SingleStepTransferCall", "activeCall", callId, deviceId, "transferredTo",
                           transferredTo);
}

std::string DeflectCallXml(std::string_view callId, std::string_view deviceId,
                           std::string_view newDestination) {
  return connectionRequest("DeflectCall", "callToBeDiverted", callId, deviceId, "newDestination",
                           newDestination);
}

}  // namespace qv
