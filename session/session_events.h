#pragma once
// The one way up from the session: what the PBX link has to tell the layer
// above (request outcomes, call identities, call events, the link's state).
// The provider registers its sink at start; the session calls it on its own
// threads. A sink only records and queues (it may take the provider's own
// locks, which come after sessionLock in the lock order); it never calls
// TAPI and never blocks.
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct CallEvent;         // session/call_event.h
struct SnapshotCall;      // session/device_snapshot.h
struct ForwardingReport;  // session/forwarding.h

// How a request handed to the session ended.
enum class RequestOutcome : std::uint8_t {
  kSuccess,   // the positive response arrived
  kRefused,   // the PBX answered with CSTAErrorCode
  kNotSent,   // it could not be queued (no connection, queue full, too big for a frame)
  kLinkLost,  // the connection went before the answer came
  kTimedOut,  // no answer within the request deadline
  kShutdown,  // the session stopped
};

class SessionEvents {
 public:
  virtual ~SessionEvents() = default;
  // Exactly once for every request submitted with a non-zero requestId.
  virtual void RequestCompleted(std::uint32_t requestId, RequestOutcome outcome) = 0;
  // A MakeCall was answered: the PBX's identifiers of the new call. Comes
  // before RequestCompleted of the same request.
  virtual void CallIdentified(std::uint32_t requestId, const std::string& callId,
                              const std::string& deviceId) = 0;
  // An event of the device monitor on the user's extension.
  virtual void CallEventReceived(const CallEvent& event) = 0;
  // up: logged in and monitoring; down: the connection is gone.
  virtual void LinkStateChanged(bool up) = 0;
  // A listed line's device monitor started (running) or ended: refused by
  // the PBX, or the connection went. Only with listed lines.
  virtual void LineMonitorChanged(int /*line*/, bool /*running*/) {}
  // The monitored device's forwarding or do-not-disturb as the PBX reports
  // it (GetForwarding, GetDoNotDisturb, ForwardingEvent, DoNotDisturbEvent);
  // the report names the listed line it is about.
  virtual void ForwardingReported(const ForwardingReport& /*report*/) {}
  // The answer to a SnapshotDevice (submitted with request id 0) for the
  // listed line it was submitted for (-1: the single line): the device's
  // calls, or answered false when it was refused, unanswered in time or
  // lost with the link (linkLost).
  virtual void DeviceSnapshot(int /*line*/, bool /*answered*/, bool /*linkLost*/,
                              const std::vector<SnapshotCall>& /*calls*/) {}
  // The frames of one read are reported between these two, on one thread:
  // what they cause may be passed on together.
  virtual void FramesBegin() {}
  virtual void FramesEnd() {}
};

}  // namespace qv
