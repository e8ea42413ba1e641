#include "session/csta_requests.h"

#include "session/pbx_link.h"

namespace qv {

namespace {

// Appends the pieces followed by CR LF.
template <typename... Pieces>
void line(std::string& out, const Pieces&... pieces) {
  (out.append(pieces), ...);
  out.append("\r\n");
}

constexpr std::string_view kCstaDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
constexpr std::string_view kSessionDeclaration = "<?xml version=\"1.0\"?>";

}  // namespace

std::string StartApplicationSessionXml(std::string_view domain, std::string_view user,
                                       std::string_view password) {
  std::string x;
  x.reserve(1024 + domain.size() + user.size() + password.size());
  line(x, kSessionDeclaration);
  line(x, "<StartApplicationSession xmlns=\"", kApplicationSessionNamespace, "\" xmlns:xsi=\"",
       kXmlSchemaInstanceNamespace, "\">");
  line(x, " <applicationInfo>");
  line(x, "  <applicationID>Quorvel ONE TAPI service provider</applicationID>");
  line(x, "  <applicationSpecificInfo>");
  line(x, "   <tns:SessionLoginInfo xmlns:tns=\"", kLoginNamespace, "\">");
  line(x, "    <tns:userName>", user, "</tns:userName>");
  line(x, "    <tns:password>", password, "</tns:password>");
  line(x, "    <tns:domain>", domain, "</tns:domain>");
  line(x, "    <tns:sessionCleanupDelay>60</tns:sessionCleanupDelay>");
  line(x, "   </tns:SessionLoginInfo>");
  line(x, "  </applicationSpecificInfo>");
  line(x, " </applicationInfo>");
  line(x, " <requestedProtocolVersions>");
  line(x, "  <protocolVersion>", kCstaEdition3, "</protocolVersion>");
  line(x, "  <protocolVersion>", kCstaEdition4, "</protocolVersion>");
  line(x, "  <protocolVersion>", kCstaEdition5, "</protocolVersion>");
  line(x, " </requestedProtocolVersions>");
  line(x, " <requestedSessionDuration>1800</requestedSessionDuration>");
  line(x, "</StartApplicationSession>");
  return x;
}

std::string ResetApplicationSessionTimerXml(std::string_view sessionId) {
  std::string x;
  line(x, kSessionDeclaration);
  line(x, "<ResetApplicationSessionTimer xmlns=\"", kApplicationSessionNamespace, "\" xmlns:xsi=\"",
       kXmlSchemaInstanceNamespace, "\">");
  line(x, " <sessionID>", sessionId, "</sessionID>");
  line(x, " <requestedSessionDuration>1800</requestedSessionDuration>");
  line(x, "</ResetApplicationSessionTimer>");
  return x;
}

std::string MakeCallXml(std::string_view callingDevice, std::string_view calledNumber,
                        std::string_view autoOriginate) {
  std::string x;
  x.reserve(256 + callingDevice.size() + calledNumber.size());
  line(x, kCstaDeclaration);
  line(x, "<MakeCall xmlns=\"", kCstaNamespace, "\">");
  line(x, "<callingDevice>", callingDevice, "</callingDevice>");
  line(x, "<calledDirectoryNumber>", calledNumber, "</calledDirectoryNumber>");
  if (!autoOriginate.empty()) line(x, "<autoOriginate>", autoOriginate, "</autoOriginate>");
  line(x, "</MakeCall>");
  return x;
}

std::string ClearConnectionXml(std::string_view callId, std::string_view deviceId) {
  std::string x;
  line(x, kCstaDeclaration);
  line(x, "<ClearConnection xmlns=\"", kCstaNamespace, "\">");
  line(x, "<connectionToBeCleared>");
  line(x, "<callID>", callId, "</callID>");
  line(x, "<deviceID>", deviceId, "</deviceID>");
  line(x, "</connectionToBeCleared>");
  line(x, "</ClearConnection>");
  return x;
}

std::string MonitorStartXml(std::string_view device) {
  std::string x;
  line(x, kCstaDeclaration);
  line(x, "<MonitorStart xmlns=\"", kCstaNamespace, "\">");
  line(x, "<monitorObject>");
  line(x, "<deviceObject>", device, "</deviceObject>");
  line(x, "</monitorObject>");
  line(x, "<monitorType>device</monitorType>");
  line(x, "<requestedMonitorMediaClass>");
  line(x, "<voice>true</voice>");
  line(x, "<im>true</im>");
  line(x, "</requestedMonitorMediaClass>");
  line(x, "</MonitorStart>");
  return x;
}

std::uint32_t SendStartApplicationSession(std::string_view domain, std::string_view user,
                                          std::string_view password) {
  return pbxLink().SendRequest(StartApplicationSessionXml(domain, user, password)).invokeId;
}

std::uint32_t SendResetApplicationSessionTimer(std::string_view sessionId) {
  return pbxLink().SendRequest(ResetApplicationSessionTimerXml(sessionId)).invokeId;
}

std::uint32_t SendMonitorStart(std::string_view device) {
  return pbxLink().SendRequest(MonitorStartXml(device)).invokeId;
}

}  // namespace qv
