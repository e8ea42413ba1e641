#pragma once
// Everything the PBX sends: cut into frames, traced, parsed and handed to
// the session's handlers by the local name of the root element; the rest
// goes to the pending requests (pending_requests.h). All of it runs on the
// worker thread with sessionLock held.
#include <cstdint>
#include <string>
#include <string_view>

#include "session/csta_frame.h"
#include "xml/byte_string.h"
#include "xml/xml_node.h"

namespace qv {

// Per-connection state of the application session; guarded by sessionLock.
struct SessionState {
  Bytes receiveBuffer;            // raw bytes from the reader
  CstaFrameCutter messageBuffer;  // plaintext not yet cut into frames
  std::string applicationSessionId;
  bool keepAliveArmed = false;
  std::uint32_t keepAliveDeadline = 0;  // tick value
  bool keepAliveAnswerDue = false;      // a keep-alive waits for its positive answer
  std::uint32_t keepAliveAnswerDeadline = 0;
  bool dropConnection = false;         // the stream cannot be cut any more
  std::uint32_t (*ticks)() = nullptr;  // tick source; null means the system tick count

  // Back to the state of a new connection.
  void Reset();
};

// The session's tick count: the state's tick source, else the system's.
std::uint32_t SessionTicks(const SessionState& state);

void ProcessReceivedData(SessionState& state);
void DispatchCstaFrame(SessionState& state, std::uint32_t invokeId, std::string_view xml);

void OnStartApplicationSessionPosResponse(SessionState& state, std::uint32_t invokeId, const XmlNode& root);
void OnResetApplicationSessionTimerPosResponse(SessionState& state, std::uint32_t invokeId,
                                               const XmlNode& root);

// Stores a non-empty session id and sets the keep-alive deadline to 90 % of
// the granted seconds from now.
void ArmKeepAlive(SessionState& state, const std::string& session, std::int32_t seconds);

// Decimal text as the PBX writes it: leading white space, optional sign,
// digits up to the first non-digit. No digits give 0; values beyond 32 bits
// saturate.
std::int32_t parseDecimal(std::string_view text);

}  // namespace qv
