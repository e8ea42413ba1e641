#pragma once
// pbxsim's calls (option --calls): the device monitor's events and the
// answers to call-control requests a PBX would send, and calls a test (or a
// command on standard input) starts from the PBX's side. Events alternate
// between the `csta:` prefix and the default namespace.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qv::pbxsim {

struct CallOptions {
  int answerDelayMs = 0;  // far end answers a MakeCall after this long; < 0: never
  std::string failCause;  // a MakeCall's far end fails with this cause ("busy", ...)
  std::string farName = "Far End";
  bool refuseControl = false;    // call-control requests get CSTAErrorCode
  bool silentControl = false;    // call-control requests get no answer at all
  bool refuseSnapshot = false;   // SnapshotDevice gets CSTAErrorCode
  bool noCallIds = false;        // a MakeCall's answer names no call and no events follow
  bool refuseReconnect = false;  // ReconnectCall is not offered: CSTAErrorCode
  // Call-control answers (and their events) wait until ReleaseAnswers.
  bool holdAnswers = false;
};

class CallSim {
 public:
  // broadcast: frames (already framed) to every open connection, recorded.
  explicit CallSim(std::function<void(const std::vector<std::string>&)> broadcast);
  ~CallSim();
  CallSim(const CallSim&) = delete;
  CallSim& operator=(const CallSim&) = delete;

  void SetOptions(const CallOptions& options);
  // Text of the request's first element of a local name.
  using Field = std::function<std::string(std::string_view)>;
  // True when the request is one of the call model's; `out` gets the
  // framed answer and events.
  bool OnRequest(std::uint32_t invokeId, const std::string& root, const Field& field,
                 std::vector<std::string>& out);
  // Sends the answers held back (CallOptions::holdAnswers), in order;
  // returns how many frames.
  std::size_t ReleaseAnswers();
  // Call-control requests held back so far.
  std::size_t HeldRequests();

  // Driven from tests and standard input; each returns the call's id.
  // `at`: the device the call is at (else the current one, see device()).
  std::string IncomingCall(const std::string& from, const std::string& name, const std::string& at = {});
  std::string DeskPhoneCall(const std::string& number, const std::string& at = {});
  // The monitored device's connection state of a call ("alerting",
  // "connected", "hold", ...); empty once the call is gone.
  std::string LocalState(const std::string& callId);
  // The desk phone goes off-hook and waits with dial tone.
  std::string DeskPhoneOffHook();
  std::string FailedCall(const std::string& number, const std::string& cause);
  void FarEndAnswers(const std::string& callId = {});
  void FarEndHangsUp(const std::string& callId = {});
  // One far end of a conference hangs up; the conference goes on.
  void PartyLeaves(const std::string& conferenceId, const std::string& party);
  // Changes while no connection is there to hear of them: a call that ends,
  // a call that starts at the device ("alerting", "connected", "hold").
  void EndCallUnseen(const std::string& callId);
  std::string AddCallUnseen(const std::string& other, const std::string& localState);
  // Forwarding and do-not-disturb changed on the desk phone; forwarding
  // types as ECMA-323 names them ("forwardImmediate", "forwardBusy", "forwardNoAns").
  void PhoneSetsForwarding(const std::string& type, bool on, const std::string& destination);
  void PhoneSetsDoNotDisturb(bool on);
  // A call ringing at a colleague's device (in a pickup group), to be picked up.
  std::string RingColleague(const std::string& colleague, const std::string& group, const std::string& from);
  void SendUnknownEvent();
  void SendMalformedEvent();
  // The device calls from the PBX's side start at: the last monitored one
  // (MonitorStart) or the one asked for here, e.g. "201". Requests act on
  // the device they name.
  std::string device();
  void UseDevice(const std::string& device);
  // The PBX named a device's monitor: its events carry that cross reference
  // (without one, "1").
  void MonitorStarted(const std::string& device, const std::string& crossRef);
  std::string lastCallId();

 private:
  struct Call {
    Call(std::string other_ = {}, std::string otherName_ = {}, bool incoming_ = false,
         std::string local_ = "connected")
        : other(std::move(other_)),
          otherName(std::move(otherName_)),
          incoming(incoming_),
          local(std::move(local_)) {}
    std::string other;      // the far end's number
    std::string otherName;  // and name
    bool incoming = false;
    std::string local;                 // the monitored device's connection state
    std::string ringingAt;             // a colleague's device it rings at, not ours
    std::string group;                 // and that device's pickup group
    std::string at;                    // the monitored device it is a call of
    std::vector<std::string> parties;  // a conference's far ends
  };
  bool Answer(std::uint32_t invokeId, const std::string& root, const Field& field,
              std::vector<std::string>& out);
  std::string Event(std::string_view root, const std::string& body);
  // What the far end does happens at the device the call is at.
  void AtCallDeviceLocked(const Call& call);
  std::string NewCallId();
  void Schedule(int delayMs, std::function<void()> action);
  // TransferCall, ConferenceCall, AlternateCall and ReconnectCall: a held and an
  // active call of the device.
  void TwoCallRequestLocked(std::uint32_t id, const std::string& root, const std::string& heldId,
                            const std::string& activeId, std::vector<std::string>& out);
  void ForwardingLocked(const std::string& type, bool on, const std::string& destination,
                        std::vector<std::string>& out);
  void DoNotDisturbLocked(bool on, std::vector<std::string>& out);
  void FarEndAnswersLocked(const std::string& callId, std::vector<std::string>& out);
  std::string CallOrLast(const std::string& callId);

  std::function<void(const std::vector<std::string>&)> broadcast_;
  std::mutex lock_;
  std::condition_variable wake_;
  CallOptions options_;
  std::map<std::string, Call> calls_;
  // By device: forwarding type -> destination (those on), do-not-disturb.
  std::map<std::string, std::map<std::string, std::string>> forwarding_;
  std::map<std::string, bool> dnd_;
  std::string device_ = "201";
  std::map<std::string, std::string> crossRefs_;  // device -> monitor
  std::string last_;
  int nextCall_ = 5000;
  int eventCount_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> timers_;
  std::vector<std::string> heldAnswers_;
  std::size_t heldRequests_ = 0;
};

}  // namespace qv::pbxsim
