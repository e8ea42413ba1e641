#pragma once
// A SessionEvents sink for the session tests: every report becomes one line
// of a journal, in the order it came.
#include <mutex>
#include <string>
#include <vector>

#include "session/call_event.h"
#include "session/session_events.h"

namespace qv::test {

inline const char* OutcomeName(RequestOutcome outcome) {
  switch (outcome) {
    case RequestOutcome::kSuccess:
      return "success";
    case RequestOutcome::kRefused:
      return "refused";
    case RequestOutcome::kNotSent:
      return "not sent";
    case RequestOutcome::kLinkLost:
      return "link lost";
    case RequestOutcome::kTimedOut:
      return "timed out";
    case RequestOutcome::kShutdown:
      return "shutdown";
  }
  return "?";
}

class RecordingEvents final : public SessionEvents {
 public:
  void RequestCompleted(std::uint32_t requestId, RequestOutcome outcome) override {
    Add("completed " + std::to_string(requestId) + " " + OutcomeName(outcome));
  }
  void CallIdentified(std::uint32_t requestId, const std::string& callId,
                      const std::string& deviceId) override {
    Add("identified " + std::to_string(requestId) + " " + callId + " " + deviceId);
  }
  void CallEventReceived(const CallEvent& event) override { Add("event " + event.eventName); }
  void LinkStateChanged(bool up) override { Add(up ? "link up" : "link down"); }
  void LineMonitorChanged(int line, bool running) override {
    Add("line " + std::to_string(line) + (running ? " monitored" : " not monitored"));
  }

  std::vector<std::string> Journal() {
    std::lock_guard lock(lock_);
    return journal_;
  }
  void Clear() {
    std::lock_guard lock(lock_);
    journal_.clear();
  }

 private:
  void Add(std::string line) {
    std::lock_guard lock(lock_);
    journal_.push_back(std::move(line));
  }
  std::mutex lock_;
  std::vector<std::string> journal_;
};

}  // namespace qv::test
