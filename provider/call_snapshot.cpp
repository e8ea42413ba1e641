// The line's calls across a reconnection (see call_reconcile.h).
#include "provider/call_model.h"
#include "provider/call_reconcile.h"
#include "session/log.h"

namespace qv {

namespace {

DWORD ModeFor(DWORD state) {
  switch (state) {
    case LINECALLSTATE_CONNECTED:
      return LINECONNECTEDMODE_ACTIVE;
    case LINECALLSTATE_OFFERING:
      return LINEOFFERINGMODE_ACTIVE;
    case LINECALLSTATE_DIALTONE:
      return LINEDIALTONEMODE_NORMAL;
    case LINECALLSTATE_DISCONNECTED:
      return LINEDISCONNECTMODE_UNKNOWN;
    default:
      return 0;
  }
}

}  // namespace

void CallModel::OnLinkLost() {
  waiting_.clear();
  for (int i = 0; i < kCallTableSize; ++i) {
    CtiCall& c = Call(i);
    c.seen = false;
    if (!c.used || c.state == 0 || c.state == LINECALLSTATE_IDLE || c.callId.empty()) continue;
    writeLog(1, "CTI: connection lost, call " + c.callId + " kept in state " + CallStateName(c.state) +
                    " until the PBX's snapshot" + where_);
  }
}

std::vector<CtiMessage> CallModel::OnSnapshot(const std::vector<SnapshotCall>& calls,
                                              const ClaimSlot& claim) {
  std::vector<CtiMessage> out;
  std::vector<KnownCall> ours;
  for (int i = 0; i < kCallTableSize; ++i) {
    const CtiCall& c = Call(i);
    if (!c.used || c.state == 0 || c.state == LINECALLSTATE_IDLE || c.callId.empty() || c.replyPending)
      continue;
    ours.push_back({i, c.callId, c.state, !c.outgoing, c.seen});
  }
  std::size_t moved = 0, endedCalls = 0, announced = 0;
  for (const Reconciled& r : ReconcileCalls(ours, calls)) {
    switch (r.kind) {
      case Reconciled::Kind::kMove:
        ++moved;
        SetState(r.slot, r.state, ModeFor(r.state), out);
        break;
      case Reconciled::Kind::kEnd:
        ++endedCalls;
        writeLog(1, "CTI: call " + Call(r.slot).callId + " is gone after the reconnection, ended" + where_);
        SetState(r.slot, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_UNKNOWN, out);
        SetState(r.slot, LINECALLSTATE_IDLE, 0, out);
        break;
      case Reconciled::Kind::kAnnounce: {
        if (Ignored(r.callId)) break;
        const int slot = claim ? claim() : -1;
        if (slot < 0 || slot >= kCallTableSize || Call(slot).used) {
          writeLog(1, "CTI: all " + std::to_string(kCallTableSize) + " call slots in use, call " + r.callId +
                          " not reported" + where_);
          Ignore(r.callId);
          break;
        }
        ++announced;
        Fresh(slot);
        CtiCall& c = Call(slot);
        c.used = true;
        c.seen = true;
        c.outgoing = !r.incoming;
        c.origin = r.incoming ? LINECALLORIGIN_INBOUND : LINECALLORIGIN_OUTBOUND;
        c.callId = r.callId;
        c.ourDeviceId = ourNumber_;
        writeLog(3, "CTI: new call " + r.callId + " in slot " + std::to_string(slot) +
                        " from the PBX's snapshot" + where_);
        out.push_back({CtiMessage::Kind::kNewCall, slot, c.generation, 0, 0});
        SetState(slot, r.state, ModeFor(r.state), out);
        break;
      }
    }
  }
  writeLog(3, "CTI: snapshot after the reconnection: " + std::to_string(calls.size()) +
                  " calls at the PBX, " + std::to_string(moved) + " changed, " + std::to_string(endedCalls) +
                  " ended, " + std::to_string(announced) + " new" + where_);
  return out;
}

}  // namespace qv
