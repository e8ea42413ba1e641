#include "session/csta_responses.h"

#include <limits>

#include "provider/call_table.h"
#include "session/csta_requests.h"
#include "session/log.h"
#include "session/pbx_link.h"
#include "platform/ticks.h"
#include "session/session_timing.h"
#include "session/settings.h"

namespace qv {

namespace {

std::uint32_t now(const SessionState& state) { return state.ticks ? state.ticks() : tickCount32(); }

using Handler = void (*)(SessionState&, std::uint32_t, const XmlNode&);

struct Route {
  std::string_view rootName;
  Handler handler;
};

constexpr Route kRoutes[] = {
    {"StartApplicationSessionPosResponse", OnStartApplicationSessionPosResponse},
    {"ResetApplicationSessionTimerPosResponse", OnResetApplicationSessionTimerPosResponse},
    {"MakeCallResponse", OnMakeCallResponse},
    {"ClearConnectionResponse", OnClearConnectionResponse},
    {"CSTAErrorCode", OnCSTAErrorCode},
};

}  // namespace

void SessionState::Reset() {
  receiveBuffer.clear();
  messageBuffer.clear();
  applicationSessionId.clear();
  keepAliveArmed = false;
  keepAliveDeadline = 0;
  keepAliveAnswerDue = false;
  keepAliveAnswerDeadline = 0;
  dropConnection = false;
}

std::int32_t parseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value >= kLimit ? kLimit - 1 : value);
}

void ArmKeepAlive(SessionState& state, const std::string& session, std::int32_t seconds) {
  if (!session.empty()) state.applicationSessionId = session;
  // 90 % of the granted time, kept below 2^31 ms so that the signed tick
  // difference still sees the deadline ahead.
  std::uint64_t delay = static_cast<std::uint64_t>(seconds > 0 ? seconds : 0) * 900u;
  if (delay > 0x7FFFFFFFu) delay = 0x7FFFFFFFu;
  state.keepAliveDeadline = now(state) + static_cast<std::uint32_t>(delay);
  state.keepAliveArmed = true;
}

void OnStartApplicationSessionPosResponse(SessionState& state, std::uint32_t, const XmlNode& root) {
  std::string session = findText(root, "sessionID");
  std::int32_t duration = parseDecimal(findText(root, "actualSessionDuration"));
  if (duration <= 0) return;
  ArmKeepAlive(state, session, duration);
  ProviderSettings settings = SettingsSnapshot();
  SendMonitorStart(settings.username + "@" + settings.domain);
}

void OnResetApplicationSessionTimerPosResponse(SessionState& state, std::uint32_t, const XmlNode& root) {
  state.keepAliveAnswerDue = false;
  std::int32_t duration = parseDecimal(findText(root, "actualSessionDuration"));
  if (duration > 0) ArmKeepAlive(state, std::string(), duration);
}

void OnMakeCallResponse(SessionState&, std::uint32_t invokeId, const XmlNode& root) {
  SetCallIdentity(invokeId, findText(root, "callingDevice/callID"), findText(root, "callingDevice/deviceID"));
}

void OnClearConnectionResponse(SessionState&, std::uint32_t, const XmlNode&) {}

void OnCSTAErrorCode(SessionState&, std::uint32_t invokeId, const XmlNode& root) {
  // The error itself is visible in the trace; a MakeCall it answers fails.
  (void)findText(root, "operation");
  RejectMakeCall(invokeId);
}

void DispatchCstaFrame(SessionState& state, std::uint32_t invokeId, std::string_view xml) {
  std::string trace;
  trace.reserve(9 + xml.size());
  trace.append("CSTA Rx: ").append(xml);
  writeLog(5, trace);
  XmlNode root = parseXml(xml, true);
  for (const Route& route : kRoutes) {
    if (root.name == route.rootName) {
      route.handler(state, invokeId, root);
      return;
    }
  }
}

void ProcessReceivedData(SessionState& state) {
  if (state.dropConnection) {
    // The rest of a stream that could not be cut is meaningless.
    state.receiveBuffer.clear();
    return;
  }
  state.messageBuffer.append(pbxLink().Unwrap(state.receiveBuffer));
  state.receiveBuffer.clear();
  CstaFrame frame;
  for (;;) {
    switch (state.messageBuffer.next(frame)) {
      case CstaFrameCutter::Status::frame:
        DispatchCstaFrame(state, frame.invokeId, frame.xml);
        continue;
      case CstaFrameCutter::Status::needMore:
        return;
      case CstaFrameCutter::Status::badLength:
        writeLog(1, "CSTA Rx: frame length below 8, dropping the connection");
        state.messageBuffer.clear();
        state.dropConnection = true;
        return;
    }
  }
}

}  // namespace qv
