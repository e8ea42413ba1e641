// The calls that belong together: a consultation call and the call it was
// set up from, a conference call and its parties. TAPI holds a handle for
// each of them; the PBX knows the pair as two calls of our device and the
// conference as one new call.
#include "provider/call_model.h"
#include "session/log.h"

namespace qv {

void CallModel::Fresh(int slot) {
  CtiCall& c = Call(slot);
  std::uint32_t generation = c.generation + 1;
  c = CtiCall{};
  c.generation = generation;
}

CtiCall& CallModel::NewTapiCall(int slot, int from, bool conference) {
  Fresh(slot);
  CtiCall& c = Call(slot);
  c.used = true;
  c.consultation = !conference;
  c.isConference = conference;
  c.outgoing = true;
  c.origin = conference ? LINECALLORIGIN_CONFERENCE : LINECALLORIGIN_OUTBOUND;
  c.ourDeviceId = Call(from).ourDeviceId;
  return c;
}

void CallModel::OnConsultationSetUp(int held, int consult) {
  NewTapiCall(consult, held, false).partner = held;
  Call(held).partner = consult;
}

std::vector<CtiMessage> CallModel::OnConsultationHeld(int consult, bool success) {
  std::vector<CtiMessage> out;
  CtiCall& c = Call(consult);
  if (!c.used || !c.consultation) return out;
  if (success) {
    SetState(consult, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, out);
    return out;
  }
  // TAPI drops the handle of a consultation that failed to start.
  if (c.partner >= 0) {
    CtiCall& held = Call(c.partner);
    held.partner = -1;
    if (held.state == LINECALLSTATE_ONHOLDPENDTRANSFER) SetState(c.partner, LINECALLSTATE_ONHOLD, 0, out);
  }
  Fresh(consult);
  return out;
}

void CallModel::OnConsultationDialled(int consult) {
  CtiCall& c = Call(consult);
  c.madeByTapi = true;
  c.replyPending = true;
  c.failed = false;
}

void CallModel::OnPickupPlaced(int slot) {
  OnCallPlaced(slot);
  CtiCall& c = Call(slot);
  c.pickup = true;
  c.outgoing = false;
  c.origin = LINECALLORIGIN_INBOUND;
  c.reason = LINECALLREASON_PICKUP;
}

std::vector<CtiMessage> CallModel::OnUndialledDropped(int consult) {
  std::vector<CtiMessage> out;
  SetState(consult, LINECALLSTATE_IDLE, 0, out);
  return out;
}

void CallModel::OnConferenceSetUp(int conference, int held, int active) {
  NewTapiCall(conference, held, true);
  Call(held).conference = conference;
  Call(active).conference = conference;
}

void CallModel::OnConferenceFailed(int conference) {
  for (CtiCall& party : calls_) {
    if (party.conference == conference) party.conference = -1;
  }
  Fresh(conference);
}

void CallModel::Conferenced(int conference, const CallEvent& e, std::vector<CtiMessage>& out) {
  CtiCall& conf = Call(conference);
  const std::string callId = e.newCallId.empty() ? e.callId : e.newCallId.substr(0, 128);
  if (callId != conf.callId) {
    conf.callId = callId;
    writeLog(3, "CTI: conference call " + conf.callId + " in slot " + std::to_string(conference) + where_);
  }
  for (int i = 0; i < kCallTableSize; ++i) {
    CtiCall& party = Call(i);
    if (party.conference != conference || !party.used) continue;
    party.partner = -1;
    party.joining = -1;
    party.joined = true;
    SetState(i, LINECALLSTATE_CONFERENCED, 0, out);
  }
  SetState(conference, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, out);
}

void CallModel::PartyLeft(int conference, const CallEvent& e, std::vector<CtiMessage>& out) {
  for (int i = 0; i < kCallTableSize; ++i) {
    CtiCall& party = Call(i);
    if (!party.used || party.conference != conference || !party.joined) continue;
    const CallParty& who = party.connected.Present() ? party.connected
                           : party.outgoing          ? party.called
                                                     : party.caller;
    if (!SameDevice(who.deviceId, e.deviceId)) continue;
    // A party we removed goes where LINEADDRESSCAPS says; one that left
    // hung up.
    if (!party.removing) SetState(i, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL, out);
    SetState(i, LINECALLSTATE_IDLE, 0, out);
    return;
  }
}

int CallModel::JoiningCall(int conference) const {
  for (int i = 0; i < kCallTableSize; ++i) {
    if (Call(i).used && Call(i).joining == conference) return i;
  }
  return -1;
}

void CallModel::OnConferenceSetupStarted(int conference, int first, int consult) {
  NewTapiCall(conference, first, true);
  Call(first).conference = conference;
  OnConferencePrepared(conference, consult);
}

void CallModel::OnConferencePrepared(int conference, int consult) {
  NewTapiCall(consult, conference, false).joining = conference;
}

std::vector<CtiMessage> CallModel::OnConferenceHeld(int consult, bool success) {
  std::vector<CtiMessage> out;
  CtiCall& c = Call(consult);
  if (!c.used || c.joining < 0) return out;
  const int conference = c.joining;
  const bool established = !Call(conference).callId.empty();
  if (success) {
    for (int i = 0; i < kCallTableSize && !established; ++i) {
      if (Call(i).used && Call(i).conference == conference) SetState(i, LINECALLSTATE_CONFERENCED, 0, out);
    }
    SetState(conference, LINECALLSTATE_ONHOLDPENDCONF, 0, out);
    SetState(consult, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL, out);
    return out;
  }
  // TAPI drops the handles it created for a request that failed.
  if (!established) {
    for (CtiCall& party : calls_) {
      if (party.conference == conference) party.conference = -1;
    }
    Fresh(conference);
  }
  Fresh(consult);
  return out;
}

void CallModel::OnAddToConference(int consult) { Call(consult).conference = Call(consult).joining; }

void CallModel::OnAddToConferenceFailed(int consult) {
  CtiCall& c = Call(consult);
  if (c.used && c.joining >= 0) c.conference = -1;
}

void CallModel::OnPartyRemoving(int party) { Call(party).removing = true; }

std::vector<CtiMessage> CallModel::OnPartyRemoved(int party) {
  std::vector<CtiMessage> out;
  if (Call(party).used && Call(party).removing) SetState(party, LINECALLSTATE_IDLE, 0, out);
  return out;
}

void CallModel::Unlink(int slot, std::vector<CtiMessage>& out) {
  CtiCall& c = Call(slot);
  if (c.partner >= 0) {
    const int other = c.partner;
    c.partner = -1;
    Call(other).partner = -1;
    // The call kept for the transfer is an ordinary held call again.
    if (Call(other).state == LINECALLSTATE_ONHOLDPENDTRANSFER) SetState(other, LINECALLSTATE_ONHOLD, 0, out);
  }
  if (c.joining >= 0) {
    // The call that was to join the conference is gone.
    const int conference = c.joining;
    c.joining = -1;
    CtiCall& conf = Call(conference);
    if (conf.used && conf.callId.empty()) {
      // Set up from a two-party call: that call is just held again.
      for (int i = 0; i < kCallTableSize; ++i) {
        CtiCall& party = Call(i);
        if (!party.used || party.conference != conference) continue;
        party.conference = -1;
        if (party.state == LINECALLSTATE_CONFERENCED) SetState(i, LINECALLSTATE_ONHOLD, 0, out);
      }
      SetState(conference, LINECALLSTATE_IDLE, 0, out);
    } else if (conf.used && conf.state == LINECALLSTATE_ONHOLDPENDCONF) {
      SetState(conference, LINECALLSTATE_ONHOLD, 0, out);
    }
  }
  if (c.isConference) {
    for (int i = 0; i < kCallTableSize; ++i) {
      CtiCall& other = Call(i);
      if (!other.used) continue;
      if (other.joining == slot) {
        // A consultation not added yet goes on as a call of its own.
        other.joining = -1;
        other.conference = -1;
      } else if (other.conference == slot) {
        SetState(i, LINECALLSTATE_IDLE, 0, out);
      }
    }
  }
}

}  // namespace qv
