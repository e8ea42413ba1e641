#include "session/csta_requests.h"

#include "session/csta_profile.h"
#include "session/pbx_link.h"
#include "session/xml_line.h"
#include "xml/xml_node.h"

namespace qv {

namespace {

constexpr std::string_view kCstaDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
constexpr std::string_view kSessionDeclaration = "<?xml version=\"1.0\"?>";

}  // namespace

std::string StartApplicationSessionXml(std::string_view domain, std::string_view user,
                                       std::string_view password) {
  std::string x;
  x.reserve(1024 + domain.size() + user.size() + password.size());
  appendLine(x, kSessionDeclaration);
  appendLine(x, "<StartApplicationSession xmlns=\"", ApplicationSessionNamespace(), "\" xmlns:xsi=\"",
             kXmlSchemaInstanceNamespace, "\">");
  appendLine(x, " <applicationInfo>");
  appendLine(x, "  <applicationID>Quorvel ONE TAPI service provider</applicationID>");
  appendLine(x, "  <applicationSpecificInfo>");
  appendLine(x, "   <tns:SessionLoginInfo xmlns:tns=\"", kLoginNamespace, "\">");
  appendLine(x, "    <tns:userName>", escapeXml(user), "</tns:userName>");
  appendLine(x, "    <tns:password>", escapeXml(password), "</tns:password>");
  appendLine(x, "    <tns:domain>", escapeXml(domain), "</tns:domain>");
  appendLine(x, "    <tns:sessionCleanupDelay>60</tns:sessionCleanupDelay>");
  appendLine(x, "   </tns:SessionLoginInfo>");
  appendLine(x, "  </applicationSpecificInfo>");
  appendLine(x, " </applicationInfo>");
  appendLine(x, " <requestedProtocolVersions>");
  appendLine(x, "  <protocolVersion>", kCstaEdition3, "</protocolVersion>");
  appendLine(x, "  <protocolVersion>", kCstaEdition4, "</protocolVersion>");
  appendLine(x, "  <protocolVersion>", kCstaEdition5, "</protocolVersion>");
  appendLine(x, " </requestedProtocolVersions>");
  appendLine(x, " <requestedSessionDuration>1800</requestedSessionDuration>");
  appendLine(x, "</StartApplicationSession>");
  return x;
}

std::string ResetApplicationSessionTimerXml(std::string_view sessionId) {
  std::string x;
  appendLine(x, kSessionDeclaration);
  appendLine(x, "<ResetApplicationSessionTimer xmlns=\"", ApplicationSessionNamespace(), "\" xmlns:xsi=\"",
             kXmlSchemaInstanceNamespace, "\">");
  appendLine(x, " <sessionID>", escapeXml(sessionId), "</sessionID>");
  appendLine(x, " <requestedSessionDuration>1800</requestedSessionDuration>");
  appendLine(x, "</ResetApplicationSessionTimer>");
  return x;
}

std::string MakeCallXml(std::string_view callingDevice, std::string_view calledNumber,
                        std::string_view autoOriginate) {
  std::string x;
  x.reserve(256 + callingDevice.size() + calledNumber.size());
  appendLine(x, kCstaDeclaration);
  appendLine(x, "<MakeCall xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<callingDevice>", escapeXml(callingDevice), "</callingDevice>");
  appendLine(x, "<calledDirectoryNumber>", escapeXml(calledNumber), "</calledDirectoryNumber>");
  if (!autoOriginate.empty()) appendLine(x, "<autoOriginate>", escapeXml(autoOriginate), "</autoOriginate>");
  appendLine(x, "</MakeCall>");
  return x;
}

std::string ClearConnectionXml(std::string_view callId, std::string_view deviceId) {
  std::string x;
  appendLine(x, kCstaDeclaration);
  appendLine(x, "<ClearConnection xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<connectionToBeCleared>");
  appendLine(x, "<callID>", escapeXml(callId), "</callID>");
  appendLine(x, "<deviceID>", escapeXml(deviceId), "</deviceID>");
  appendLine(x, "</connectionToBeCleared>");
  appendLine(x, "</ClearConnection>");
  return x;
}

std::string MonitorStartXml(std::string_view device) {
  std::string x;
  appendLine(x, kCstaDeclaration);
  appendLine(x, "<MonitorStart xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<monitorObject>");
  appendLine(x, "<deviceObject>", escapeXml(device), "</deviceObject>");
  appendLine(x, "</monitorObject>");
  appendLine(x, "<monitorType>device</monitorType>");
  appendLine(x, "<requestedMonitorMediaClass>");
  appendLine(x, "<voice>true</voice>");
  appendLine(x, "<im>true</im>");
  appendLine(x, "</requestedMonitorMediaClass>");
  appendLine(x, "</MonitorStart>");
  return x;
}

std::string MonitorStopXml(std::string_view crossRefId) {
  std::string x;
  appendLine(x, kCstaDeclaration);
  appendLine(x, "<MonitorStop xmlns=\"", kCstaNamespace, "\">");
  appendLine(x, "<monitorCrossRefID>", escapeXml(crossRefId), "</monitorCrossRefID>");
  appendLine(x, "</MonitorStop>");
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
  return pbxLink().SendSessionRequest(MonitorStartXml(device)).invokeId;
}

void SendMonitorStop(std::string_view crossRefId) {
  pbxLink().SendSessionRequest(MonitorStopXml(crossRefId));
}

}  // namespace qv
