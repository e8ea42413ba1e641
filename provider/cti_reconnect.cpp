// Returning to the call held for a consultation: TSPI_lineUnhold of that call
// while the other call of the pair (or the call to add to a conference) is up
// drops the other call and retrieves the held one. One ReconnectCall where
// the PBX offers it; once the PBX refused it, ClearConnection of the other
// call then RetrieveCall of the held one, for the rest of the connection.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "provider/call_table.h"
#include "provider/closing_requests.h"
#include "provider/cti_call_info.h"
#include "provider/cti_line.h"
#include "provider/cti_requests.h"
#include "provider/entry_trace.h"
#include "provider/tapi_delivery.h"
#include "session/csta_call_control.h"
#include "session/csta_requests.h"
#include "session/log.h"

namespace qv {

namespace {

enum class Step : std::uint8_t { kReconnect, kClear, kRetrieve };

// Guarded by callTableLock.
struct Reconnection {
  DRV_REQUESTID tapiRequest = 0;
  DRV_REQUESTID part = 0;  // the request under way
  Step step = Step::kReconnect;
  CtiLine* line = nullptr;
  int held = -1;
  std::uint32_t generation = 0;  // the held call's
  std::string heldId;
  std::string activeId;
  std::string deviceId;
};
std::vector<Reconnection> reconnections;
// Far above what TAPI hands out, and apart from the digit and forwarding parts.
DRV_REQUESTID nextPart = 0x7D000000;
// The PBX refused ReconnectCall on the current connection.
bool reconnectRefused = false;

struct Part {
  RequestKind kind;
  DRV_REQUESTID id;
  std::string xml;
};

Part NextPartLocked(Reconnection& r, Step step) {
  r.step = step;
  r.part = nextPart;
  nextPart = nextPart >= 0x7DFFFFF0 ? 0x7D000000 : nextPart + 1;
  switch (step) {
    case Step::kReconnect:
      return {RequestKind::kReconnectCall, r.part, ReconnectCallXml(r.heldId, r.activeId, r.deviceId)};
    case Step::kClear:
      return {RequestKind::kClearConnection, r.part, ClearConnectionXml(r.activeId, r.deviceId)};
    case Step::kRetrieve:
      break;
  }
  return {RequestKind::kRetrieveCall, r.part, RetrieveCallXml(r.heldId, r.deviceId)};
}

// The call the held one waits beside: its consultation partner, or the
// call to add to the conference it is.
int OtherCallLocked(const CtiLine& line, int held) {
  const CtiCall& c = line.model.Call(held);
  if (c.state == LINECALLSTATE_ONHOLDPENDTRANSFER) return c.partner;
  if (c.state != LINECALLSTATE_ONHOLDPENDCONF || !c.isConference) return -1;
  for (int i = 0; i < kCallTableSize; ++i) {
    if (line.model.Call(i).used && line.model.Call(i).joining == held) return i;
  }
  return -1;
}

}  // namespace

bool CtiReconnect(DRV_REQUESTID requestId, HDRVCALL hdCall, LONG& result) {
  constexpr const char* kEntry = "TSPI_lineUnhold";
  std::optional<Part> part;
  {
    std::lock_guard lock(callTableLock);
    const CallRef ref = KnownCallLocked(hdCall);
    if (!ref) return false;
    CtiLine& line = *ref.line;
    const CtiCall& c = ref.call();
    const int other = OtherCallLocked(line, ref.index);
    if (other < 0 || c.callId.empty() || (ReportedCallFeatures(c) & LINECALLFEATURE_UNHOLD) == 0)
      return false;
    const CtiCall& o = line.model.Call(other);
    if (o.callId.empty()) {
      // Not dialled yet: the PBX only has the held call, which is retrieved
      // as any other; the other call ends here.
      if (o.replyPending) {
        ProviderEntryTrace(kEntry);
        result = RefuseInState(kEntry, o);
        return true;
      }
      QueueLocked(line, line.model.OnUndialledDropped(other));
      return false;
    }
    ProviderEntryTrace(kEntry);
    Reconnection r;
    r.tapiRequest = requestId;
    r.line = &line;
    r.held = ref.index;
    r.generation = c.generation;
    r.heldId = c.callId;
    r.activeId = o.callId;
    r.deviceId = c.ourDeviceId;
    RequestOpenedLocked(ref.slot(), requestId);
    writeLog(5, std::string(kEntry) + " returns to call " + r.heldId + ", call " + r.activeId + " dropped" +
                    OnLine(line));
    part = NextPartLocked(r, reconnectRefused ? Step::kClear : Step::kReconnect);
    reconnections.push_back(std::move(r));
  }
  SubmitRequest(part->kind, part->id, std::move(part->xml));
  result = static_cast<LONG>(requestId);
  return true;
}

bool CtiReconnectPartCompleted(DRV_REQUESTID requestId, RequestOutcome outcome) {
  std::optional<Part> next;
  {
    std::lock_guard lock(callTableLock);
    auto it = reconnections.begin();
    while (it != reconnections.end() && it->part != requestId) ++it;
    if (it == reconnections.end()) return false;
    Reconnection& r = *it;
    const bool success = outcome == RequestOutcome::kSuccess;
    // Closing the held call ends the request; nothing more is sent for it.
    const bool closed = r.line->model.Call(r.held).generation != r.generation;
    const bool refused = r.step == Step::kReconnect && outcome == RequestOutcome::kRefused;
    if (refused && !reconnectRefused) {
      writeLog(3, "TSPI_lineUnhold: the PBX refused ReconnectCall, ClearConnection and RetrieveCall instead");
      reconnectRefused = true;
    }
    bool done = true;
    if (!closed && success && r.step == Step::kClear) {
      next = NextPartLocked(r, Step::kRetrieve);
      done = false;
    } else if (!closed && refused) {
      next = NextPartLocked(r, Step::kClear);
      done = false;
    }
    if (done) {
      const DRV_REQUESTID tapiRequest = r.tapiRequest;
      const bool returned = success && r.step != Step::kClear;
      reconnections.erase(it);
      if (RequestFinishedLocked(tapiRequest))
        QueueCompletion(tapiRequest, returned ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED));
    }
  }
  if (next) SubmitRequest(next->kind, next->id, std::move(next->xml));
  return true;
}

void CtiReconnectionsResetLocked(bool connectionOnly) {
  reconnectRefused = false;
  if (!connectionOnly) reconnections.clear();
}

}  // namespace qv
