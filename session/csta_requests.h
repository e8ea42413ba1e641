#pragma once
// The requests the provider sends to the PBX. The *Xml builders give the
// exact text. The session's own requests (login, keep-alive, monitor) go out
// through the Send* operations, each returning the invoke id it used; those
// of TAPI's threads go through SubmitRequest (pbx_requests.h).
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qv {

inline constexpr std::string_view kApplicationSessionNamespace =
    "http://www.ecma-international.org/standards/ecma-354/appl_session/";
inline constexpr std::string_view kXmlSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr std::string_view kLoginNamespace = "http://www.quorvel.com/schemas/csta/login";
inline constexpr std::string_view kCstaNamespace =
    "http://www.ecma-international.org/standards/ecma-323/csta/ed6";
inline constexpr std::string_view kCstaEdition3 =
    "http://www.ecma-international.org/standards/ecma-323/csta/ed3";
inline constexpr std::string_view kCstaEdition4 =
    "http://www.ecma-international.org/standards/ecma-323/csta/ed4";
inline constexpr std::string_view kCstaEdition5 =
    "http://www.ecma-international.org/standards/ecma-323/csta/ed5";

// Argument values go in with &, <, >, " and ' escaped; nothing else changes
// (no trimming), so an ordinary value gives the same bytes as written.
std::string StartApplicationSessionXml(std::string_view domain, std::string_view user,
                                       std::string_view password);
std::string ResetApplicationSessionTimerXml(std::string_view sessionId);
std::string MakeCallXml(std::string_view callingDevice, std::string_view calledNumber,
                        std::string_view autoOriginate);
std::string ClearConnectionXml(std::string_view callId, std::string_view deviceId);
std::string MonitorStartXml(std::string_view device);
std::string MonitorStopXml(std::string_view crossRefId);

struct SentRequest {
  std::uint32_t invokeId = 0;
  bool sent = false;  // the whole frame went to the connection
};

// Called with the invoke id before the frame can reach the PBX, so the
// caller can record it before any answer arrives.
using InvokeIdHook = std::function<void(std::uint32_t)>;

std::uint32_t SendStartApplicationSession(std::string_view domain, std::string_view user,
                                          std::string_view password);
std::uint32_t SendResetApplicationSessionTimer(std::string_view sessionId);
std::uint32_t SendMonitorStart(std::string_view device);
// Ends a monitor of the logged-in session; nothing waits for the answer.
void SendMonitorStop(std::string_view crossRefId);

}  // namespace qv
