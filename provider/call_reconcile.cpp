#include "provider/call_reconcile.h"

namespace qv {

namespace {

bool oneOf(DWORD state, std::initializer_list<DWORD> states) {
  for (DWORD s : states) {
    if (s == state) return true;
  }
  return false;
}

}  // namespace

DWORD StateForLocalConnection(std::string_view localState, DWORD ours, bool incoming) {
  if (localState == "connected") {
    // An outgoing call is connected at our end while the far end rings.
    if (oneOf(ours, {LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                     LINECALLSTATE_CONNECTED, LINECALLSTATE_CONFERENCED}))
      return ours;
    return LINECALLSTATE_CONNECTED;
  }
  if (localState == "hold") {
    if (oneOf(ours, {LINECALLSTATE_ONHOLD, LINECALLSTATE_ONHOLDPENDTRANSFER, LINECALLSTATE_ONHOLDPENDCONF}))
      return ours;
    return LINECALLSTATE_ONHOLD;
  }
  if (localState == "alerting") return incoming ? static_cast<DWORD>(LINECALLSTATE_OFFERING) : ours;
  if (localState == "initiated") return ours == 0 ? static_cast<DWORD>(LINECALLSTATE_DIALTONE) : ours;
  if (localState == "queued") return ours == 0 ? static_cast<DWORD>(LINECALLSTATE_PROCEEDING) : ours;
  if (localState == "fail") return LINECALLSTATE_DISCONNECTED;
  return 0;  // "null" or nothing the device is part of
}

std::vector<Reconciled> ReconcileCalls(const std::vector<KnownCall>& ours,
                                       const std::vector<SnapshotCall>& snapshot) {
  std::vector<Reconciled> out;
  for (const KnownCall& call : ours) {
    const SnapshotCall* reported = nullptr;
    for (const SnapshotCall& s : snapshot) {
      if (s.callId == call.callId) reported = &s;
    }
    const DWORD state =
        reported != nullptr ? StateForLocalConnection(reported->localState, call.state, call.incoming) : 0;
    if (state == 0) {
      if (!call.seenSinceReconnect) out.push_back({Reconciled::Kind::kEnd, call.slot, {}, 0, false});
    } else if (state != call.state) {
      out.push_back({Reconciled::Kind::kMove, call.slot, {}, state, false});
    }
  }
  for (const SnapshotCall& s : snapshot) {
    bool known = false;
    for (const KnownCall& call : ours) known = known || call.callId == s.callId;
    bool repeated = false;
    for (const Reconciled& r : out)
      repeated = repeated || (r.kind == Reconciled::Kind::kAnnounce && r.callId == s.callId);
    if (known || repeated) continue;
    // A new call ringing at our device is offered; others are our own.
    const bool incoming = s.localState == "alerting";
    const DWORD state = StateForLocalConnection(s.localState, 0, incoming);
    if (state == 0 || state == LINECALLSTATE_DISCONNECTED) continue;
    out.push_back({Reconciled::Kind::kAnnounce, -1, s.callId, state, incoming});
  }
  return out;
}

}  // namespace qv
