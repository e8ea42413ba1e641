#include "tools/pbxsim/pbx_messages.h"

#include <atomic>

namespace qv::pbxsim {

namespace {

constexpr std::string_view kSessionNs = "http://www.ecma-international.org/standards/ecma-354/appl_session";
constexpr std::string_view kCstaNs = "http://www.ecma-international.org/standards/ecma-323/csta/ed5";

std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out.append(p);
  return out;
}

}  // namespace

std::string LoginPosResponse(std::string_view sessionId, const std::optional<std::string>& durationText) {
  std::string x =
      cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<StartApplicationSessionPosResponse xmlns=\"",
           kSessionNs, "\">\n  <sessionID>", sessionId,
           "</sessionID>\n  <actualProtocolVersion>"
           "http://www.ecma-international.org/standards/ecma-323/csta/ed5</actualProtocolVersion>\n"});
  if (durationText) x += cat({"  <actualSessionDuration>", *durationText, "</actualSessionDuration>\n"});
  x += "</StartApplicationSessionPosResponse>\n";
  return x;
}

std::string LoginNegResponse() {
  return cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<StartApplicationSessionNegResponse xmlns=\"",
              kSessionNs,
              "\">\n  <errorCode>\n    <definedError>invalidApplicationInfo</definedError>\n  </errorCode>\n"
              "</StartApplicationSessionNegResponse>\n"});
}

std::string KeepAlivePosResponse(const std::optional<std::string>& durationText) {
  std::string x =
      cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?><ns1:ResetApplicationSessionTimerPosResponse "
           "xmlns:ns1=\"",
           kSessionNs, "\">"});
  if (durationText) x += cat({"<ns1:actualSessionDuration>", *durationText, "</ns1:actualSessionDuration>"});
  x += "</ns1:ResetApplicationSessionTimerPosResponse>";
  return x;
}

std::string MonitorStartResponse(std::string_view crossRefId) {
  return cat(
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<csta:MonitorStartResponse xmlns:csta=\"", kCstaNs,
       "\">\r\n\t<csta:monitorCrossRefID>", crossRefId,
       "</csta:monitorCrossRefID>\r\n\t<csta:actualMonitorMediaClass>\r\n\t\t<csta:voice>true</csta:voice>"
       "\r\n\t</csta:actualMonitorMediaClass>\r\n</csta:MonitorStartResponse>\r\n"});
}

std::string MonitorStopResponse() {
  return cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?><MonitorStopResponse xmlns=\"", kCstaNs, "\"/>"});
}

std::string MakeCallResponse(std::string_view callId, std::string_view deviceId, std::string_view called) {
  return cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?><MakeCallResponse xmlns=\"", kCstaNs,
              "\"><callingDevice><callID>", callId, "</callID><deviceID>", deviceId,
              "</deviceID></callingDevice><calledDevice>", called, "</calledDevice></MakeCallResponse>"});
}

std::string ClearConnectionResponse() {
  return cat(
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ClearConnectionResponse xmlns=\"", kCstaNs, "\"/>\n"});
}

std::string CstaErrorCode(std::string_view operation) {
  return cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CSTAErrorCode xmlns=\"", kCstaNs,
              "\">\n  <operation>", operation, "</operation>\n</CSTAErrorCode>\n"});
}

std::string DeliveredEvent(std::string_view crossRefId, std::string_view callId, std::string_view device,
                           std::string_view called) {
  return cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<csta:DeliveredEvent xmlns:csta=\"", kCstaNs,
              "\">\n  <csta:monitorCrossRefID>", crossRefId,
              "</csta:monitorCrossRefID>\n  <csta:connection>\n    <csta:callID>", callId,
              "</csta:callID>\n    <csta:deviceID>", device,
              "</csta:deviceID>\n  </csta:connection>\n  <csta:alertingDevice><csta:deviceIdentifier>",
              called,
              "</csta:deviceIdentifier></csta:alertingDevice>\n  <csta:localConnectionInfo>alerting"
              "</csta:localConnectionInfo>\n  <csta:cause>newCall</csta:cause>\n</csta:DeliveredEvent>\n"});
}

std::string EstablishedEvent(std::string_view crossRefId, std::string_view callId, std::string_view device,
                             std::string_view called) {
  return cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?><EstablishedEvent xmlns=\"", kCstaNs,
              "\"><monitorCrossRefID>", crossRefId, "</monitorCrossRefID><establishedConnection><callID>",
              callId, "</callID><deviceID>", device,
              "</deviceID></establishedConnection><answeringDevice>"
              "<deviceIdentifier>",
              called, "</deviceIdentifier></answeringDevice><cause>normal</cause></EstablishedEvent>"});
}

std::string ConnectionClearedEvent(std::string_view crossRefId, std::string_view callId,
                                   std::string_view device) {
  return cat({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<csta:ConnectionClearedEvent xmlns:csta=\"",
              kCstaNs, "\">\n  <csta:monitorCrossRefID>", crossRefId,
              "</csta:monitorCrossRefID>\n  <csta:droppedConnection>\n    <csta:callID>", callId,
              "</csta:callID>\n    <csta:deviceID>", device,
              "</csta:deviceID>\n  </csta:droppedConnection>\n  <csta:cause>normalClearing</csta:cause>\n"
              "</csta:ConnectionClearedEvent>\n"});
}

namespace {
std::atomic<bool> asciiInvokeIds{false};
}  // namespace

void SetAsciiInvokeIds(bool ascii) { asciiInvokeIds = ascii; }
bool AsciiInvokeIds() { return asciiInvokeIds; }

std::string Frame(std::uint32_t invokeId, std::string_view xml) {
  std::size_t length = xml.size() + 8;
  std::string f;
  f.push_back('\0');
  f.push_back('\0');
  f.push_back(static_cast<char>((length >> 8) & 0xFF));
  f.push_back(static_cast<char>(length & 0xFF));
  if (asciiInvokeIds) {
    const std::string digits = std::to_string(10000 + invokeId % 10000).substr(1);
    f.append(digits);
  } else {
    for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<char>((invokeId >> shift) & 0xFF));
  }
  f.append(xml);
  return f;
}

}  // namespace qv::pbxsim
