#pragma once
// The provider's side of the session's one way up: request outcomes become
// TAPI completions (through the delivery queue), a MakeCall's identifiers go
// into its call slot.
#include "session/session_events.h"

namespace qv {

class ProviderSessionEvents final : public SessionEvents {
 public:
  void RequestCompleted(std::uint32_t requestId, RequestOutcome outcome) override;
  void CallIdentified(std::uint32_t requestId, const std::string& callId,
                      const std::string& deviceId) override;
  void CallEventReceived(const CallEvent& event) override;
  void LinkStateChanged(bool up) override;
  void LineMonitorChanged(int line, bool running) override;
  void ForwardingReported(const ForwardingReport& report) override;
  void DeviceSnapshot(int line, bool answered, bool linkLost,
                      const std::vector<SnapshotCall>& calls) override;
  void FramesBegin() override;
  void FramesEnd() override;
};

// The one sink of the process, registered with SetSessionEvents at
// TSPI_providerInit.
ProviderSessionEvents& providerSessionEvents();

}  // namespace qv
