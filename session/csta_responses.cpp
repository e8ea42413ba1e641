#include "session/csta_responses.h"

#include <algorithm>
#include <limits>

#include "platform/ticks.h"
#include "session/call_event_report.h"
#include "session/csta_pbx_requests.h"
#include "session/csta_profile.h"
#include "session/csta_requests.h"
#include "session/decimal_text.h"
#include "session/line_monitors.h"
#include "session/session_events.h"
#include "session/log.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "session/settings.h"

namespace qv {

namespace {

using Handler = void (*)(SessionState&, std::uint32_t, const XmlNode&);

struct Route {
  std::string_view rootName;
  Handler handler;
};

constexpr Route kRoutes[] = {
    {"StartApplicationSessionPosResponse", OnStartApplicationSessionPosResponse},
    {"ResetApplicationSessionTimerPosResponse", OnResetApplicationSessionTimerPosResponse},
};

}  // namespace

void SessionState::Reset() {
  receiveBuffer.clear();
  messageBuffer.clear();
  messageBuffer.setFormat(CurrentInvokeIdFormat());
  applicationSessionId.clear();
  keepAliveArmed = false;
  keepAliveDeadline = 0;
  keepAliveAnswerDue = false;
  keepAliveAnswerDeadline = 0;
  dropConnection = false;
}

std::uint32_t SessionTicks(const SessionState& state) { return state.ticks ? state.ticks() : tickCount32(); }

std::int32_t parseDecimal(std::string_view text) {
  DecimalScan scan = scanDecimal(text);
  constexpr std::uint64_t kLimit = std::uint64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  if (scan.negative)
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(std::min(scan.magnitude, kLimit)));
  return static_cast<std::int32_t>(std::min(scan.magnitude, kLimit - 1));
}

void ArmKeepAlive(SessionState& state, const std::string& session, std::int32_t seconds) {
  if (!session.empty()) state.applicationSessionId = session;
  // 90 % of the granted time, kept below 2^31 ms so that the signed tick
  // difference still sees the deadline ahead.
  std::uint64_t delay = static_cast<std::uint64_t>(seconds > 0 ? seconds : 0) * 900u;
  if (delay > 0x7FFFFFFFu) delay = 0x7FFFFFFFu;
  state.keepAliveDeadline = SessionTicks(state) + static_cast<std::uint32_t>(delay);
  state.keepAliveArmed = true;
}

void OnStartApplicationSessionPosResponse(SessionState& state, std::uint32_t, const XmlNode& root) {
  pbxLink().LoginAccepted();
  std::string session = findText(root, "sessionID");
  std::int32_t duration = parseDecimal(findText(root, "actualSessionDuration"));
  SetNegotiatedProtocolVersion(findText(root, "actualProtocolVersion"));
  if (duration > 0) {
    ArmKeepAlive(state, session, duration);
    ProviderSettings settings = SettingsSnapshot();
    if (MonitoringLines()) {
      StartLineMonitors(settings.domain);
    } else {
      SendMonitorStart(settings.username + "@" + settings.domain);
    }
  }
  // What the provider asks for on a new connection and what TAPI asked for
  // meanwhile follow the monitor.
  if (duration > 0) {
    if (SessionEvents* events = RegisteredSessionEvents()) events->LinkStateChanged(true);
  }
  pbxLink().OpenSession();
}

void OnResetApplicationSessionTimerPosResponse(SessionState& state, std::uint32_t, const XmlNode& root) {
  state.keepAliveAnswerDue = false;
  std::int32_t duration = parseDecimal(findText(root, "actualSessionDuration"));
  if (duration > 0) ArmKeepAlive(state, std::string(), duration);
}

void DispatchCstaFrame(SessionState& state, std::uint32_t invokeId, std::string_view xml) {
  std::string trace;
  trace.reserve(9 + xml.size());
  trace.append("CSTA Rx: ").append(xml);
  writeLog(5, trace);
  pbxLink().Answered(invokeId);
  XmlNode root = parseXml(xml, true);
  for (const Route& route : kRoutes) {
    if (root.name == route.rootName) {
      route.handler(state, invokeId, root);
      return;
    }
  }
  // Everything else may answer a line's monitor or a request TAPI is
  // waiting for, be a request of the PBX's, or an event.
  if (AnswerLineMonitor(invokeId, root)) return;
  if (AnswerPendingRequest(invokeId, root) || AnswerPbxRequest(invokeId, root)) return;
  ReportCallEvent(root, xml);
}

void ProcessReceivedData(SessionState& state) {
  if (state.dropConnection) {
    // The rest of a stream that could not be cut is meaningless.
    state.receiveBuffer.clear();
    return;
  }
  state.messageBuffer.append(pbxLink().Unwrap(state.receiveBuffer));
  state.receiveBuffer.clear();
  struct Batch {
    SessionEvents* events = RegisteredSessionEvents();
    Batch() {
      if (events != nullptr) events->FramesBegin();
    }
    ~Batch() {
      if (events != nullptr) events->FramesEnd();
    }
  } batch;
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
      case CstaFrameCutter::Status::outOfStep:
        writeLog(1, "CSTA Rx: frame does not start with two zero bytes, dropping the connection");
        state.messageBuffer.clear();
        state.dropConnection = true;
        return;
    }
  }
}

}  // namespace qv
