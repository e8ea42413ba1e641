#pragma once
// The call-control requests of the first-party line (ECMA-323, in the
// namespace and layout of the MakeCall and ClearConnection templates).
// Argument values are escaped, not trimmed.
#include <string>
#include <string_view>

namespace qv {

std::string AnswerCallXml(std::string_view callId, std::string_view deviceId);
std::string HoldCallXml(std::string_view callId, std::string_view deviceId);
std::string RetrieveCallXml(std::string_view callId, std::string_view deviceId);
std::string SingleStepTransferCallXml(std::string_view callId, std::string_view deviceId,
                                      std::string_view transferredTo);
std::string DeflectCallXml(std::string_view callId, std::string_view deviceId,
                           std::string_view newDestination);
// DTMF digits sent on our connection.
std::string GenerateDigitsXml(std::string_view callId, std::string_view deviceId, std::string_view digits);
// The number dialled on a call with dial tone.
std::string DialDigitsXml(std::string_view callId, std::string_view deviceId, std::string_view digits);
// Picking up a call ringing at another device, or in a pickup group, to ours.
std::string DirectedPickupCallXml(std::string_view ringingDevice, std::string_view ourDevice);
std::string GroupPickupCallXml(std::string_view group, std::string_view ourDevice);
// Requests about two calls of our device: the one on hold and the active one.
std::string TransferCallXml(std::string_view heldCallId, std::string_view activeCallId,
                            std::string_view deviceId);
std::string ConferenceCallXml(std::string_view heldCallId, std::string_view activeCallId,
                              std::string_view deviceId);
std::string AlternateCallXml(std::string_view heldCallId, std::string_view activeCallId,
                             std::string_view deviceId);
// Clears the active call and retrieves the held one, in one request.
std::string ReconnectCallXml(std::string_view heldCallId, std::string_view activeCallId,
                             std::string_view deviceId);

}  // namespace qv
