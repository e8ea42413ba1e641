#include "provider/call_model.h"

#include <utility>

#include "session/device_identifier.h"
#include "session/log.h"

namespace qv {

namespace {

constexpr DWORD kStatesBeforeAnswer[] = {0, LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                         LINECALLSTATE_PROCEEDING};

bool beforeAnswer(DWORD state) {
  for (DWORD s : kStatesBeforeAnswer) {
    if (s == state) return true;
  }
  return false;
}

bool ended(DWORD state) { return state == LINECALLSTATE_IDLE; }

bool sameParty(const CallParty& a, const CallParty& b) {
  return a.deviceId == b.deviceId && a.name == b.name && a.restricted == b.restricted &&
         a.notKnown == b.notKnown;
}

// "sip:201@office" / "tel:201" -> "201@office" / "201".
std::string_view withoutScheme(std::string_view id) {
  for (std::string_view scheme : {"sip:", "sips:", "tel:"}) {
    if (id.substr(0, scheme.size()) == scheme) return id.substr(scheme.size());
  }
  return id;
}

}  // namespace

DWORD CallFeaturesInState(DWORD state) {
  switch (state) {
    case LINECALLSTATE_OFFERING:
      return LINECALLFEATURE_ANSWER | LINECALLFEATURE_REDIRECT | LINECALLFEATURE_DROP;
    case LINECALLSTATE_CONNECTED:
      return LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_DROP |
             LINECALLFEATURE_GENERATEDIGITS;
    case LINECALLSTATE_ONHOLD:
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
      return LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP;
    case LINECALLSTATE_DIALTONE:
    case LINECALLSTATE_DIALING:
    case LINECALLSTATE_PROCEEDING:
    case LINECALLSTATE_RINGBACK:
    case LINECALLSTATE_DISCONNECTED:
    case LINECALLSTATE_ONHOLDPENDCONF:
      return LINECALLFEATURE_DROP;
    default:
      return 0;
  }
}

DWORD DisconnectModeForCause(std::string_view cause) {
  struct Row {
    std::string_view cause;
    DWORD mode;
  };
  // ECMA-269 event causes.
  static constexpr Row kRows[] = {
      {"busy", LINEDISCONNECTMODE_BUSY},
      {"trunksBusy", LINEDISCONNECTMODE_BUSY},
      {"doNotDisturb", LINEDISCONNECTMODE_BUSY},
      {"invalidNumberFormat", LINEDISCONNECTMODE_BADADDRESS},
      {"invalidDeviceID", LINEDISCONNECTMODE_BADADDRESS},
      {"destNotObtainable", LINEDISCONNECTMODE_UNREACHABLE},
      {"networkNotObtainable", LINEDISCONNECTMODE_UNREACHABLE},
      {"reorderTone", LINEDISCONNECTMODE_UNREACHABLE},
      {"noAvailableAgents", LINEDISCONNECTMODE_UNREACHABLE},
      {"networkCongestion", LINEDISCONNECTMODE_CONGESTION},
      {"resourcesNotAvailable", LINEDISCONNECTMODE_CONGESTION},
      {"callNotAnswered", LINEDISCONNECTMODE_UNREACHABLE},
  };
  for (const Row& r : kRows) {
    if (r.cause == cause) return r.mode;
  }
  return LINEDISCONNECTMODE_UNKNOWN;
}

DWORD CallReasonFor(const CallEvent& e) {
  struct Row {
    std::string_view cause;
    DWORD reason;
  };
  static constexpr Row kRows[] = {
      {"callForwardImmediate", LINECALLREASON_FWDUNCOND},
      {"callForwardBusy", LINECALLREASON_FWDBUSY},
      {"callForwardNoAnswer", LINECALLREASON_FWDNOANSWER},
      {"callForward", LINECALLREASON_FWDUNCOND},
      {"redirected", LINECALLREASON_REDIRECT},
      {"transfer", LINECALLREASON_TRANSFER},
      {"singleStepTransfer", LINECALLREASON_TRANSFER},
      {"callPickup", LINECALLREASON_PICKUP},
      {"parkedCall", LINECALLREASON_PARKED},
  };
  for (const Row& r : kRows) {
    if (r.cause == e.cause) return r.reason;
  }
  return e.lastRedirection.Present() ? LINECALLREASON_REDIRECT : LINECALLREASON_DIRECT;
}

const char* CallStateName(DWORD state) {
  switch (state) {
    case LINECALLSTATE_IDLE:
      return "IDLE";
    case LINECALLSTATE_OFFERING:
      return "OFFERING";
    case LINECALLSTATE_DIALTONE:
      return "DIALTONE";
    case LINECALLSTATE_DIALING:
      return "DIALING";
    case LINECALLSTATE_RINGBACK:
      return "RINGBACK";
    case LINECALLSTATE_CONNECTED:
      return "CONNECTED";
    case LINECALLSTATE_PROCEEDING:
      return "PROCEEDING";
    case LINECALLSTATE_ONHOLD:
      return "ONHOLD";
    case LINECALLSTATE_DISCONNECTED:
      return "DISCONNECTED";
    case LINECALLSTATE_ONHOLDPENDTRANSFER:
      return "ONHOLDPENDTRANSFER";
    case LINECALLSTATE_CONFERENCED:
      return "CONFERENCED";
    case LINECALLSTATE_ONHOLDPENDCONF:
      return "ONHOLDPENDCONF";
    default:
      return "?";
  }
}

void CallModel::Reset(std::string ourNumber, std::string domain, std::string where) {
  for (CtiCall& c : calls_) {
    std::uint32_t generation = c.generation + 1;
    c = CtiCall{};
    c.generation = generation;
  }
  ourNumber_ = std::move(ourNumber);
  domain_ = std::move(domain);
  where_ = std::move(where);
  waiting_.clear();
  ignored_.clear();
  orphaned_.fill(false);
}

bool CallModel::IsOurs(std::string_view raw) const {
  if (ourNumber_.empty()) return false;
  const std::string number = ParseDeviceIdentifier(withoutScheme(raw)).number;
  std::string_view id = number;
  if (id == ourNumber_) return true;
  std::size_t at = id.find('@');
  return at != std::string_view::npos && id.substr(0, at) == ourNumber_ &&
         (domain_.empty() || id.substr(at + 1) == domain_);
}

bool CallModel::SameDevice(std::string_view a, std::string_view b) {
  auto number = [](std::string_view raw) {
    std::string n = ParseDeviceIdentifier(withoutScheme(raw)).number;
    const std::size_t at = n.find('@');
    if (at != std::string::npos) n.resize(at);
    return n;
  };
  const std::string x = number(a);
  return !x.empty() && x == number(b);
}

int CallModel::Find(std::string_view callId) const {
  if (callId.empty()) return -1;
  for (int i = 0; i < kCallTableSize; ++i) {
    const CtiCall& c = calls_[static_cast<std::size_t>(i)];
    if (c.used && !ended(c.state) && c.callId == callId) return i;
  }
  return -1;
}

bool CallModel::MakeCallAwaited() const {
  for (int i = 0; i < kCallTableSize; ++i) {
    const CtiCall& c = Call(i);
    if ((c.used && c.madeByTapi && c.replyPending) || orphaned_[static_cast<std::size_t>(i)]) return true;
  }
  return false;
}

void CallModel::Ignore(const std::string& callId) {
  if (Ignored(callId)) return;
  if (ignored_.size() >= kMaxIgnoredCalls) ignored_.pop_front();
  ignored_.push_back(callId);
}

bool CallModel::Ignored(std::string_view callId) const {
  for (const std::string& id : ignored_) {
    if (id == callId) return true;
  }
  return false;
}

void CallModel::SetState(int slot, DWORD state, DWORD mode, std::vector<CtiMessage>& out) {
  CtiCall& c = Call(slot);
  if (c.state == state && c.mode == mode) return;
  if (ended(c.state)) return;
  c.state = state;
  c.mode = mode;
  out.push_back({CtiMessage::Kind::kCallState, slot, c.generation, state, mode});
  if (ended(state)) Unlink(slot, out);
}

void CallModel::Info(int slot, DWORD bits, std::vector<CtiMessage>& out) {
  if (bits == 0) return;
  const CtiCall& c = Call(slot);
  // A new call's identities are read with its first query; no message needed.
  for (const CtiMessage& m : out) {
    if (m.kind == CtiMessage::Kind::kNewCall && m.slot == slot && m.generation == c.generation) return;
  }
  out.push_back({CtiMessage::Kind::kCallInfo, slot, c.generation, bits, 0});
}

int CallModel::Announce(const CallEvent& e, bool outgoing, const ClaimSlot& claim,
                        std::vector<CtiMessage>& out) {
  if (Ignored(e.callId)) return -1;
  int slot = claim ? claim() : -1;
  if (slot < 0 || slot >= kCallTableSize || Call(slot).used) {
    writeLog(1, "CTI: all " + std::to_string(kCallTableSize) + " call slots in use, call " + e.callId +
                    (outgoing ? "" : " from " + e.calling.deviceId) + " not reported" + where_);
    Ignore(e.callId);
    return -1;
  }
  CtiCall& c = Call(slot);
  std::uint32_t generation = c.generation + 1;
  c = CtiCall{};
  c.generation = generation;
  c.used = true;
  c.outgoing = outgoing;
  c.callId = e.callId;
  c.ourDeviceId = IsOurs(e.deviceId) ? e.deviceId : ourNumber_;
  if (outgoing) {
    c.origin = LINECALLORIGIN_OUTBOUND;
    c.called = e.called;
  } else {
    c.caller = e.calling;
    c.called = e.called.Present() ? e.called : e.subject;
    c.reason = CallReasonFor(e);
    switch (e.calling.scope) {
      case PartyScope::kInternal:
        c.origin = LINECALLORIGIN_INTERNAL;
        break;
      case PartyScope::kExternal:
        c.origin = LINECALLORIGIN_EXTERNAL;
        break;
      default:
        c.origin = LINECALLORIGIN_INBOUND;
        break;
    }
  }
  writeLog(3, std::string("CTI: new ") + (outgoing ? "outgoing" : "incoming") + " call " + e.callId +
                  " in slot " + std::to_string(slot) + where_);
  out.push_back({CtiMessage::Kind::kNewCall, slot, c.generation, 0, 0});
  return slot;
}

std::vector<CtiMessage> CallModel::OnEvent(const CallEvent& e, const ClaimSlot& claim) {
  std::vector<CtiMessage> out;
  if (e.kind == CallEventKind::kOther || e.callId.empty()) return out;
  int slot = Find(e.callId);
  if (slot < 0 && (e.kind == CallEventKind::kTransferred || e.kind == CallEventKind::kConferenced))
    slot = Find(e.secondaryCallId);
  // Events of a call TAPI is placing wait until TAPI has heard how its
  // MakeCall ended; so do events no call claims while a MakeCall's answer
  // (which names its call) is still to come.
  bool hold = slot >= 0 ? Call(slot).replyPending : MakeCallAwaited();
  if (hold) {
    if (waiting_.size() >= kMaxWaitingEvents) {
      writeLog(1,
               "CTI: too many events before the MakeCall answer, " + waiting_.front().eventName + " dropped");
      waiting_.pop_front();
    }
    waiting_.push_back(e);
    return out;
  }
  if (slot >= 0) {
    Apply(slot, e, out);
    return out;
  }
  // A call the line does not know yet: only those on our device matter.
  const std::string& actor = e.subject.Present() ? e.subject.deviceId : e.deviceId;
  switch (e.kind) {
    case CallEventKind::kServiceInitiated:
    case CallEventKind::kOriginated:
      if (IsOurs(e.deviceId) || IsOurs(actor) || IsOurs(e.calling.deviceId))
        slot = Announce(e, true, claim, out);
      break;
    case CallEventKind::kDelivered:
      if (IsOurs(actor))
        slot = Announce(e, false, claim, out);
      else if (IsOurs(e.calling.deviceId))
        slot = Announce(e, true, claim, out);
      break;
    case CallEventKind::kEstablished:
    case CallEventKind::kFailed:
      if (IsOurs(e.calling.deviceId))
        slot = Announce(e, true, claim, out);
      else if (IsOurs(actor) || IsOurs(e.deviceId))
        slot = Announce(e, false, claim, out);
      break;
    default:
      break;
  }
  if (slot >= 0) Apply(slot, e, out);
  return out;
}

void CallModel::Apply(int slot, const CallEvent& e, std::vector<CtiMessage>& out) {
  CtiCall& c = Call(slot);
  c.seen = true;
  const std::string& actor = e.subject.Present() ? e.subject.deviceId : e.deviceId;
  if (IsOurs(e.deviceId)) c.ourDeviceId = e.deviceId;
  DWORD info = 0;
  auto setParty = [&](CallParty& field, const CallParty& value, DWORD bit) {
    if (!value.Present() || sameParty(field, value)) return;
    field = value;
    info |= bit;
  };
  switch (e.kind) {
    case CallEventKind::kServiceInitiated:
      // A call TAPI placed is already dialling; the desk phone's starts with dial tone.
      if (!c.madeByTapi && c.state == 0) SetState(slot, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, out);
      break;
    case CallEventKind::kOriginated:
      setParty(c.called, e.called, LINECALLINFOSTATE_CALLEDID);
      if (beforeAnswer(c.state)) {
        if (c.state != LINECALLSTATE_DIALING) SetState(slot, LINECALLSTATE_DIALING, 0, out);
        SetState(slot, LINECALLSTATE_PROCEEDING, 0, out);
      }
      break;
    case CallEventKind::kDelivered:
      if (IsOurs(actor)) {
        // Our own device rings: an offered call, or the prompt of a call we place.
        if (!c.outgoing) {
          setParty(c.caller, e.calling, LINECALLINFOSTATE_CALLERID);
          SetState(slot, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE, out);
        }
      } else {
        setParty(c.called, e.called.Present() ? e.called : e.subject, LINECALLINFOSTATE_CALLEDID);
        if (beforeAnswer(c.state)) SetState(slot, LINECALLSTATE_RINGBACK, 0, out);
      }
      break;
    case CallEventKind::kEstablished:
      if (IsOurs(actor)) {
        // We answered: connected to whoever placed the call.
        const CallParty& other = c.outgoing ? (e.called.Present() ? e.called : c.called)
                                            : (e.calling.Present() ? e.calling : c.caller);
        setParty(c.connected, other, LINECALLINFOSTATE_CONNECTEDID);
      } else {
        setParty(c.connected, e.subject.Present() ? e.subject : e.called, LINECALLINFOSTATE_CONNECTEDID);
      }
      SetState(slot, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, out);
      break;
    case CallEventKind::kHeld:
      // Either call of a consultation pair waits on hold for the transfer; a
      // conference waits for the call to add, and the first call of one
      // being set up is its party from now on.
      if (IsOurs(e.deviceId) || (e.deviceId.empty() && IsOurs(actor))) {
        DWORD held = c.partner >= 0 ? LINECALLSTATE_ONHOLDPENDTRANSFER : LINECALLSTATE_ONHOLD;
        if (c.isConference && JoiningCall(slot) >= 0) held = LINECALLSTATE_ONHOLDPENDCONF;
        if (c.conference >= 0 && !c.joined && JoiningCall(c.conference) >= 0)
          held = LINECALLSTATE_CONFERENCED;
        SetState(slot, held, 0, out);
      }
      break;
    case CallEventKind::kRetrieved:
      if (IsOurs(e.deviceId) || (e.deviceId.empty() && IsOurs(actor)))
        SetState(slot, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, out);
      break;
    case CallEventKind::kConnectionCleared:
      if (IsOurs(e.deviceId) || (e.deviceId.empty() && IsOurs(actor))) {
        SetState(slot, LINECALLSTATE_IDLE, 0, out);
      } else if (c.isConference) {
        PartyLeft(slot, e, out);  // the conference goes on without them
      } else if (c.state != LINECALLSTATE_DISCONNECTED) {
        SetState(slot, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, out);
      }
      break;
    case CallEventKind::kFailed:
      SetState(slot, LINECALLSTATE_DISCONNECTED, DisconnectModeForCause(e.cause), out);
      break;
    case CallEventKind::kDiverted:
      if (IsOurs(actor) || (IsOurs(e.deviceId) && !IsOurs(e.target.deviceId))) {
        // The call left our device for another destination.
        SetState(slot, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_FORWARDED, out);
        SetState(slot, LINECALLSTATE_IDLE, 0, out);
      } else {
        setParty(c.connected, e.target, LINECALLINFOSTATE_CONNECTEDID);
        setParty(c.called, e.target, LINECALLINFOSTATE_CALLEDID);
      }
      break;
    case CallEventKind::kTransferred:
      if (IsOurs(actor)) {
        // We handed the call on: both of our old calls are gone.
        SetState(slot, LINECALLSTATE_IDLE, 0, out);
        int other = e.callId == c.callId ? Find(e.secondaryCallId) : Find(e.callId);
        if (other >= 0 && other != slot) SetState(other, LINECALLSTATE_IDLE, 0, out);
      } else {
        if (!e.newCallId.empty() && e.newCallId != c.callId) {
          c.callId = e.newCallId;
          info |= LINECALLINFOSTATE_CALLID;
        }
        if (!IsOurs(e.target.deviceId)) setParty(c.connected, e.target, LINECALLINFOSTATE_CONNECTEDID);
      }
      break;
    case CallEventKind::kConferenced: {
      if (c.isConference || c.conference >= 0) {
        Conferenced(c.isConference ? slot : c.conference, e, out);
        break;
      }
      int other = e.callId == c.callId ? Find(e.secondaryCallId) : Find(e.callId);
      if (other >= 0 && other != slot) SetState(other, LINECALLSTATE_IDLE, 0, out);
      if (!e.newCallId.empty() && e.newCallId != c.callId) {
        c.callId = e.newCallId;
        info |= LINECALLINFOSTATE_CALLID;
      }
      if (!IsOurs(e.target.deviceId)) setParty(c.connected, e.target, LINECALLINFOSTATE_CONNECTEDID);
      SetState(slot, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, out);
      break;
    }
    case CallEventKind::kOther:
      break;
  }
  if (!ended(c.state) || info != 0) Info(slot, info, out);
}

void CallModel::OnCallPlaced(int slot) {
  CtiCall& c = Call(slot);
  std::uint32_t generation = c.generation + 1;
  c = CtiCall{};
  c.generation = generation;
  c.used = true;
  c.madeByTapi = true;
  c.replyPending = true;
  c.outgoing = true;
  c.origin = LINECALLORIGIN_OUTBOUND;
  c.ourDeviceId = ourNumber_;
}

void CallModel::OnCallIdentified(int slot, const std::string& callId, const std::string& deviceId) {
  if (orphaned_[static_cast<std::size_t>(slot)]) Ignore(callId.substr(0, 128));
  CtiCall& c = Call(slot);
  if (!c.used || !c.madeByTapi) return;
  c.callId = callId.substr(0, 128);
  if (!deviceId.empty()) c.ourDeviceId = deviceId.substr(0, 128);
}

std::vector<CtiMessage> CallModel::OnMakeCallCompleted(int slot, bool success, const ClaimSlot& claim) {
  std::vector<CtiMessage> out;
  orphaned_[static_cast<std::size_t>(slot)] = false;
  CtiCall& c = Call(slot);
  if (c.used && c.madeByTapi && c.replyPending) {
    c.replyPending = false;
    if (success && c.pickup) {
      // The picked-up call's state comes with its events.
    } else if (success) {
      SetState(slot, LINECALLSTATE_DIALING, 0, out);
      // Without a callID no event can be tied to the call: the PBX took it,
      // so it is under way until the PBX (or TAPI) ends it.
      if (c.callId.empty()) SetState(slot, LINECALLSTATE_PROCEEDING, 0, out);
    } else {
      c.failed = true;
      c.callId.clear();
    }
  }
  std::deque<CallEvent> held;
  held.swap(waiting_);
  for (const CallEvent& e : held) {
    std::vector<CtiMessage> more = OnEvent(e, claim);
    out.insert(out.end(), more.begin(), more.end());
  }
  return out;
}

std::vector<CtiMessage> CallModel::OnLinkDown(bool shuttingDown) {
  std::vector<CtiMessage> out;
  waiting_.clear();
  for (int i = 0; i < kCallTableSize; ++i) {
    CtiCall& c = Call(i);
    if (!c.used || ended(c.state) || c.replyPending || c.state == 0) continue;
    writeLog(1, std::string(shuttingDown ? "CTI: provider shutting down" : "CTI: connection lost") +
                    ", call " + c.callId + " ended" + where_);
    SetState(i, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN, out);
    SetState(i, LINECALLSTATE_IDLE, 0, out);
  }
  return out;
}

std::vector<CtiMessage> CallModel::OnDropAnswered(std::uint32_t requestId) {
  std::vector<CtiMessage> out;
  for (int i = 0; i < kCallTableSize; ++i) {
    CtiCall& c = Call(i);
    if (!c.used || c.dropRequest != requestId || requestId == 0) continue;
    c.dropRequest = 0;
    SetState(i, LINECALLSTATE_IDLE, 0, out);
  }
  return out;
}

void CallModel::OnClosed(int slot) {
  CtiCall& c = Call(slot);
  if (c.used && c.madeByTapi && c.replyPending) orphaned_[static_cast<std::size_t>(slot)] = true;
  // Later events of a call TAPI has let go of do not make it a new one.
  if (c.used && !c.callId.empty() && !ended(c.state)) Ignore(c.callId);
  if (c.partner >= 0) Call(c.partner).partner = -1;
  for (CtiCall& party : calls_) {
    if (c.isConference && party.conference == slot) party.conference = -1;
  }
  Fresh(slot);
}

}  // namespace qv
