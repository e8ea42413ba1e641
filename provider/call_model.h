#pragma once
// The first-party call model of the line (registry value `callevents`):
// the calls on the user's device, keyed by the PBX's callID, and what TAPI
// is told about them. Pure bookkeeping: events and requests go in, the
// LINE_NEWCALL/LINE_CALLSTATE/LINE_CALLINFO messages to send come out. The
// caller guards it (callTableLock) and delivers the messages.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "session/call_event.h"
#include "session/device_snapshot.h"

namespace qv {

struct CtiCall {
  bool used = false;          // TAPI knows this call (placed by it or announced to it)
  bool madeByTapi = false;    // TSPI_lineMakeCall
  bool replyPending = false;  // the MakeCall's completion is not yet queued
  bool failed = false;        // the MakeCall failed: no events will come
  bool outgoing = false;
  std::string callId;
  std::string ourDeviceId;  // our connection's device as the PBX names it
  DWORD state = 0;          // 0: nothing reported yet
  DWORD mode = 0;
  DWORD origin = 0;
  DWORD reason = LINECALLREASON_DIRECT;
  CallParty caller;
  CallParty called;
  CallParty connected;
  bool consultation = false;     // created by TSPI_lineSetupTransfer
  int partner = -1;              // the other call of a consultation pair
  bool isConference = false;     // the conference call of TSPI_lineCompleteTransfer
  int conference = -1;           // a party's conference call
  int joining = -1;              // a consultation call's conference, until it is added
  bool joined = false;           // a party of a conference the PBX reported
  bool removing = false;         // TSPI_lineRemoveFromConference sent for this party
  bool pickup = false;           // TSPI_linePickup: placed like a MakeCall, incoming once picked
  bool seen = false;             // an event named it since the connection was lost
  std::uint32_t generation = 0;  // changes whenever the slot starts or ends a call
  // TSPI_lineDrop of a call without a callID: no event will end it, the
  // positive answer to this request does.
  std::uint32_t dropRequest = 0;
};

struct CtiMessage {
  enum class Kind : std::uint8_t { kNewCall, kCallState, kCallInfo };
  Kind kind = Kind::kCallState;
  int slot = 0;
  std::uint32_t generation = 0;
  DWORD param1 = 0;  // state, or the LINECALLINFOSTATE bits
  DWORD param2 = 0;  // state mode
};

// The features TAPI may use in a state (LINECALLFEATURE_*).
DWORD CallFeaturesInState(DWORD state);
// LINEDISCONNECTMODE_* for a FailedEvent's cause.
DWORD DisconnectModeForCause(std::string_view cause);
// LINECALLREASON_* for a new call's cause and redirection.
DWORD CallReasonFor(const CallEvent& event);
// Short name of a LINECALLSTATE_* value, for the log.
const char* CallStateName(DWORD state);

class CallModel {
 public:
  // The user's extension and the PBX domain name the monitored device;
  // `where` ends the model's log lines (which line of several it is).
  void Reset(std::string ourNumber, std::string domain, std::string where = {});

  // Claims a free call-table slot for a call TAPI did not place; -1 when
  // none is free.
  using ClaimSlot = std::function<int()>;

  std::vector<CtiMessage> OnEvent(const CallEvent& event, const ClaimSlot& claim);
  // TSPI_lineMakeCall took `slot`.
  void OnCallPlaced(int slot);
  // The MakeCall's response named the call.
  void OnCallIdentified(int slot, const std::string& callId, const std::string& deviceId);
  // The MakeCall's completion was queued; events held back for it follow.
  std::vector<CtiMessage> OnMakeCallCompleted(int slot, bool success, const ClaimSlot& claim);
  // The connection is gone (or the provider shuts down): every call still up
  // ends (its state is unknown now).
  std::vector<CtiMessage> OnLinkDown(bool shuttingDown = false);
  // The connection is gone but may come back: the calls keep their state
  // until the PBX's snapshot of the device is read.
  void OnLinkLost();
  // The snapshot after the reconnection: calls still there move to the
  // reported state, calls gone end, calls TAPI has not seen are announced.
  std::vector<CtiMessage> OnSnapshot(const std::vector<SnapshotCall>& calls, const ClaimSlot& claim);
  // The PBX accepted the drop of a call no event can name (dropRequest).
  std::vector<CtiMessage> OnDropAnswered(std::uint32_t requestId);
  // TAPI closed the call (or refused to take it): the slot is free.
  void OnClosed(int slot);

  // Consultation and conference (call_relations.cpp).
  // TSPI_lineSetupTransfer: `consult` is the new call TAPI created for `held`.
  void OnConsultationSetUp(int held, int consult);
  // The hold of the consultation's first call was answered: the new call
  // has dial tone, or (on failure) is gone without a message.
  std::vector<CtiMessage> OnConsultationHeld(int consult, bool success);
  // TSPI_lineDial on the consultation call: it is placed as a MakeCall.
  void OnConsultationDialled(int consult);
  // TSPI_linePickup took `slot` for the call it picks up.
  void OnPickupPlaced(int slot);
  // TSPI_lineDrop of a consultation call not dialled yet: it ends here.
  std::vector<CtiMessage> OnUndialledDropped(int consult);
  // TSPI_lineCompleteTransfer in conference mode: `conference` is TAPI's new call.
  void OnConferenceSetUp(int conference, int held, int active);
  // The ConferenceCall was refused: the conference call is gone.
  void OnConferenceFailed(int conference);
  // TSPI_lineSetupConference: `first` becomes a party of TAPI's new
  // `conference` call, and `consult` is the call to add to it.
  void OnConferenceSetupStarted(int conference, int first, int consult);
  // TSPI_linePrepareAddToConference: `consult` is TAPI's new call to add.
  void OnConferencePrepared(int conference, int consult);
  // The HoldCall of either was answered: the conference waits on hold and
  // the consultation has dial tone; on failure the calls TAPI created are
  // gone without a message.
  std::vector<CtiMessage> OnConferenceHeld(int consult, bool success);
  // TSPI_lineAddToConference: the consultation joins when the PBX reports
  // the conference, and stays as it is if the PBX refuses.
  void OnAddToConference(int consult);
  void OnAddToConferenceFailed(int consult);
  // TSPI_lineRemoveFromConference was sent, and answered: the party ends
  // (if no event ended it already).
  void OnPartyRemoving(int party);
  std::vector<CtiMessage> OnPartyRemoved(int party);

  const CtiCall& Call(int slot) const { return calls_[static_cast<std::size_t>(slot)]; }
  CtiCall& Call(int slot) { return calls_[static_cast<std::size_t>(slot)]; }
  bool IsOurs(std::string_view deviceId) const;
  // Both identifiers name the same number.
  static bool SameDevice(std::string_view a, std::string_view b);
  // The live call with this PBX callID, or -1.
  int Find(std::string_view callId) const;
  std::size_t WaitingEvents() const { return waiting_.size(); }

  // Events held back while a MakeCall waits for its answer.
  static constexpr std::size_t kMaxWaitingEvents = 32;
  // Call ids of calls not announced (no free slot), remembered so their
  // later events are not logged again.
  static constexpr std::size_t kMaxIgnoredCalls = 16;

 private:
  void Apply(int slot, const CallEvent& e, std::vector<CtiMessage>& out);
  int Announce(const CallEvent& e, bool outgoing, const ClaimSlot& claim, std::vector<CtiMessage>& out);
  void SetState(int slot, DWORD state, DWORD mode, std::vector<CtiMessage>& out);
  // A call ended: its consultation partner or conference parties follow.
  void Unlink(int slot, std::vector<CtiMessage>& out);
  void Conferenced(int conference, const CallEvent& e, std::vector<CtiMessage>& out);
  // A party of the conference left it (or was removed).
  void PartyLeft(int conference, const CallEvent& e, std::vector<CtiMessage>& out);
  // The consultation call waiting to join the conference, or -1.
  int JoiningCall(int conference) const;
  void Fresh(int slot);
  // A call TAPI created (consultation or conference) in `slot`, on the
  // device of the call `from`.
  CtiCall& NewTapiCall(int slot, int from, bool conference);
  void Info(int slot, DWORD bits, std::vector<CtiMessage>& out);
  bool MakeCallAwaited() const;
  void Ignore(const std::string& callId);
  bool Ignored(std::string_view callId) const;

  std::array<CtiCall, kCallTableSize> calls_{};
  std::string ourNumber_;
  std::string domain_;
  std::string where_;
  std::deque<CallEvent> waiting_;
  std::deque<std::string> ignored_;
  // TAPI closed a call whose MakeCall answer is still to come: once it
  // names the call, its events are not announced as a new call.
  std::array<bool, kCallTableSize> orphaned_{};
};

}  // namespace qv
