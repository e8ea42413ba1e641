#pragma once
// What the simulated PBX writes: responses and events in the shapes a real
// PBX uses (default namespaces and prefixes, pretty-printed and on one line).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv::pbxsim {

// durationText: the actualSessionDuration text; nothing leaves the element out.
std::string LoginPosResponse(std::string_view sessionId, const std::optional<std::string>& durationText);
std::string LoginNegResponse();
std::string KeepAlivePosResponse(const std::optional<std::string>& durationText);
std::string MonitorStartResponse(std::string_view crossRefId);
std::string MonitorStopResponse();
std::string MakeCallResponse(std::string_view callId, std::string_view deviceId, std::string_view called);
std::string ClearConnectionResponse();
std::string CstaErrorCode(std::string_view operation);
std::string DeliveredEvent(std::string_view crossRefId, std::string_view callId, std::string_view device,
                           std::string_view called);
std::string EstablishedEvent(std::string_view crossRefId, std::string_view callId, std::string_view device,
                             std::string_view called);
std::string ConnectionClearedEvent(std::string_view crossRefId, std::string_view callId,
                                   std::string_view device);

// Frame around a message: two zero bytes, 16-bit length, the invoke id as a
// 32-bit number or, once SetAsciiInvokeIds(true), as four ASCII digits.
std::string Frame(std::uint32_t invokeId, std::string_view xml);
// The simulator's header format for the whole process (--invoke-id).
void SetAsciiInvokeIds(bool ascii);
bool AsciiInvokeIds();

}  // namespace qv::pbxsim
