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

void CallModel::OnConsultationSetUp(int held, int consult) {
  Fresh(consult);
  CtiCall& c = Call(consult);
  c.used = true;
  c.consultation = true;
  c.outgoing = true;
  c.origin = LINECALLORIGIN_OUTBOUND;
  c.ourDeviceId = Call(held).ourDeviceId;
  c.partner = held;
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
  Fresh(conference);
  CtiCall& c = Call(conference);
  c.used = true;
  c.isConference = true;
  c.outgoing = true;
  c.origin = LINECALLORIGIN_CONFERENCE;
  c.ourDeviceId = Call(held).ourDeviceId;
  Call(held).conference = conference;
  Call(active).conference = conference;
}

void CallModel::OnConferenceFailed(int conference) {
  for (CtiCall& party : calls_) {
    if (party.conference == conference) party.conference = -1;
  }
  Fresh(conference);
}

void CallModel::Conferenced(int slot, const CallEvent& e, std::vector<CtiMessage>& out) {
  const int conference = Call(slot).conference;
  CtiCall& conf = Call(conference);
  conf.callId = e.newCallId.empty() ? e.callId : e.newCallId.substr(0, 128);
  writeLog(3, "CTI: conference call " + conf.callId + " in slot " + std::to_string(conference));
  for (int i = 0; i < kCallTableSize; ++i) {
    CtiCall& party = Call(i);
    if (party.conference != conference) continue;
    party.partner = -1;
    SetState(i, LINECALLSTATE_CONFERENCED, 0, out);
  }
  SetState(conference, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, out);
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
  if (c.isConference) {
    for (int i = 0; i < kCallTableSize; ++i) {
      if (Call(i).conference == slot && Call(i).used) SetState(i, LINECALLSTATE_IDLE, 0, out);
    }
  }
}

}  // namespace qv
