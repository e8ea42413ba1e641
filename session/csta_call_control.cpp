#include "session/csta_call_control.h"

#include <utility>

#include "session/csta_profile.h"
#include "session/csta_requests.h"
#include "session/xml_line.h"
#include "xml/xml_node.h"

namespace qv {

namespace {

// <Root xmlns=..><connectionElement><callID/><deviceID/></connectionElement>[extra]</Root>
std::string connectionRequest(std::string_view root, std::string_view connectionElement,
                              std::string_view callId, std::string_view deviceId,
                              std::string_view extraElement = {}, std::string_view extraValue = {}) {
  std::string x;
  x.reserve(256 + callId.size() + deviceId.size() + extraValue.size());
  appendLine(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  appendLine(x, "<", root, " xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<", connectionElement, ">");
  appendLine(x, "<callID>", escapeXml(callId), "</callID>");
  appendLine(x, "<deviceID>", escapeXml(deviceId), "</deviceID>");
  appendLine(x, "</", connectionElement, ">");
  if (!extraElement.empty())
    appendLine(x, "<", extraElement, ">", escapeXml(extraValue), "</", extraElement, ">");
  appendLine(x, "</", root, ">");
  return x;
}

// <Root xmlns=..><heldCall>..</heldCall><activeCall>..</activeCall></Root>
std::string twoCallRequest(std::string_view root, std::string_view heldCallId, std::string_view activeCallId,
                           std::string_view deviceId) {
  std::string x;
  x.reserve(320 + heldCallId.size() + activeCallId.size() + 2 * deviceId.size());
  appendLine(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  appendLine(x, "<", root, " xmlns=\"", CstaRequestNamespace(), "\">");
  for (auto [element, callId] : {std::pair{std::string_view("heldCall"), heldCallId},
                                 std::pair{std::string_view("activeCall"), activeCallId}}) {
    appendLine(x, "<", element, ">");
    appendLine(x, "<callID>", escapeXml(callId), "</callID>");
    appendLine(x, "<deviceID>", escapeXml(deviceId), "</deviceID>");
    appendLine(x, "</", element, ">");
  }
  appendLine(x, "</", root, ">");
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

std::string TransferCallXml(std::string_view heldCallId, std::string_view activeCallId,
                            std::string_view deviceId) {
  return twoCallRequest("TransferCall", heldCallId, activeCallId, deviceId);
}

std::string ConferenceCallXml(std::string_view heldCallId, std::string_view activeCallId,
                              std::string_view deviceId) {
  return twoCallRequest("ConferenceCall", heldCallId, activeCallId, deviceId);
}

std::string AlternateCallXml(std::string_view heldCallId, std::string_view activeCallId,
                             std::string_view deviceId) {
  return twoCallRequest("AlternateCall", heldCallId, activeCallId, deviceId);
}

std::string ReconnectCallXml(std::string_view heldCallId, std::string_view activeCallId,
                             std::string_view deviceId) {
  return twoCallRequest("ReconnectCall", heldCallId, activeCallId, deviceId);
}

std::string GenerateDigitsXml(std::string_view callId, std::string_view deviceId, std::string_view digits) {
  return connectionRequest("GenerateDigits", "connectionToSendDigits", callId, deviceId, "charactersToSend",
                           digits);
}

std::string DialDigitsXml(std::string_view callId, std::string_view deviceId, std::string_view digits) {
  return connectionRequest("DialDigits", "connectionToBeExtended", callId, deviceId, "dialingSequence",
                           digits);
}

std::string DirectedPickupCallXml(std::string_view ringingDevice, std::string_view ourDevice) {
  std::string x;
  appendLine(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  appendLine(x, "<DirectedPickupCall xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<callToBePickedUp>");
  appendLine(x, "<deviceID>", escapeXml(ringingDevice), "</deviceID>");
  appendLine(x, "</callToBePickedUp>");
  appendLine(x, "<requestingDevice>", escapeXml(ourDevice), "</requestingDevice>");
  appendLine(x, "</DirectedPickupCall>");
  return x;
}

std::string GroupPickupCallXml(std::string_view group, std::string_view ourDevice) {
  std::string x;
  appendLine(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  appendLine(x, "<GroupPickupCall xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<newDestination>", escapeXml(ourDevice), "</newDestination>");
  appendLine(x, "<pickupGroup>", escapeXml(group), "</pickupGroup>");
  appendLine(x, "</GroupPickupCall>");
  return x;
}

}  // namespace qv
