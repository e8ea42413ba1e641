#include "provider/cti_line.h"

#include <mutex>
#include <vector>

#include "provider/call_model.h"
#include "provider/call_table.h"
#include "provider/closing_requests.h"
#include "provider/cti_call_info.h"
#include "provider/cti_mode.h"
#include "provider/entry_trace.h"
#include "provider/line_set.h"
#include "provider/provider_state.h"
#include "provider/tapi_delivery.h"
#include "session/call_event_report.h"
#include "session/csta_call_control.h"
#include "session/csta_events.h"
#include "session/csta_requests.h"
#include "session/log.h"
#include "session/pbx_requests.h"
#include "session/session.h"

namespace qv {

namespace {

// Guarded by callTableLock.
CallModel model;
bool running = false;

int IndexOf(const CallSlot* slot) { return static_cast<int>(slot - callTable.data()); }

int ClaimSlotLocked() {
  // Without an open line TAPI cannot take a new call.
  if (lineRecord.eventProc == nullptr) return -1;
  for (int i = 0; i < kCallTableSize; ++i) {
    CallSlot& s = callTable[static_cast<std::size_t>(i)];
    if (s.inUse || s.makeCallPending || model.Call(i).used) continue;
    s.inUse = true;
    s.htCall = nullptr;
    s.callId.clear();
    s.deviceId.clear();
    return i;
  }
  return -1;
}

// On the delivery thread: the message reaches TAPI only if the call is still
// the one it was queued for, with TAPI's handle as it is now.
void Deliver(const CtiMessage& m) {
  LINEEVENT proc = nullptr;
  HTAPILINE htLine = nullptr;
  HTAPICALL htCall = nullptr;
  const auto hdCall = reinterpret_cast<DWORD_PTR>(&callTable[static_cast<std::size_t>(m.slot)]);
  {
    std::lock_guard lock(callTableLock);
    const CtiCall& c = model.Call(m.slot);
    if (!running || !c.used || c.generation != m.generation) return;
    htCall = callTable[static_cast<std::size_t>(m.slot)].htCall;
    if (m.kind != CtiMessage::Kind::kNewCall && htCall == nullptr) return;
    proc = lineRecord.eventProc;
    htLine = lineRecord.htLine;
  }
  if (proc == nullptr) return;
  switch (m.kind) {
    case CtiMessage::Kind::kNewCall: {
      HTAPICALL given = nullptr;
      proc(htLine, nullptr, LINE_NEWCALL, hdCall, reinterpret_cast<DWORD_PTR>(&given), 0);
      std::lock_guard lock(callTableLock);
      CtiCall& c = model.Call(m.slot);
      if (c.generation != m.generation) return;
      if (given == nullptr) {
        // TAPI could not take the call: it is dropped from the line.
        writeLog(1, "CTI: TAPI did not take call " + c.callId + ", not reported");
        model.OnClosed(m.slot);
        callTable[static_cast<std::size_t>(m.slot)].inUse = false;
        return;
      }
      callTable[static_cast<std::size_t>(m.slot)].htCall = given;
      return;
    }
    case CtiMessage::Kind::kCallState:
      proc(htLine, htCall, LINE_CALLSTATE, m.param1, m.param2, LINEMEDIAMODE_INTERACTIVEVOICE);
      return;
    case CtiMessage::Kind::kCallInfo:
      proc(htLine, htCall, LINE_CALLINFO, m.param1, 0, 0);
      return;
  }
}

void QueueLocked(const std::vector<CtiMessage>& messages) {
  for (const CtiMessage& m : messages) {
    if (m.kind == CtiMessage::Kind::kCallState) {
      writeLog(4, "CTI: call " + model.Call(m.slot).callId + " in slot " + std::to_string(m.slot) + " " +
                      CallStateName(m.param1) + " mode " + std::to_string(m.param2));
    }
    QueueTapiCall([m] { Deliver(m); });
  }
}

CallModel::ClaimSlot Claimer() {
  return [] { return ClaimSlotLocked(); };
}

struct Target {
  std::string callId;
  std::string deviceId;
};

// Checks the call and its state under the lock; the request itself is
// submitted after, with no lock held.
LONG Check(const char* entry, DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD feature, Target& target) {
  ProviderEntryTrace(entry);
  std::lock_guard lock(callTableLock);
  CallSlot* slot = SlotFromHandle(hdCall);
  if (slot == nullptr || !slot->inUse) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  const CtiCall& c = model.Call(IndexOf(slot));
  if (!c.used) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  if ((ReportedCallFeatures(c) & feature) == 0) {
    writeLog(3, std::string(entry) + ": not possible in state " + CallStateName(ReportedCallState(c)));
    return static_cast<LONG>(LINEERR_INVALCALLSTATE);
  }
  target.callId = c.callId;
  target.deviceId = c.ourDeviceId;
  RequestOpenedLocked(*slot, requestId);
  return 0;
}

LONG Submit(RequestKind kind, DRV_REQUESTID requestId, std::string xml) {
  SubmitRequest(kind, requestId, std::move(xml));
  return static_cast<LONG>(requestId);
}

using CallRequestXml = std::string (*)(std::string_view callId, std::string_view deviceId);
using DestinationRequestXml = std::string (*)(std::string_view callId, std::string_view deviceId,
                                              std::string_view destination);

// A request about one call in a state that offers the feature.
LONG SubmitForCall(const char* entry, DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD feature,
                   RequestKind kind, CallRequestXml xml) {
  Target t;
  if (LONG rc = Check(entry, requestId, hdCall, feature, t)) return rc;
  return Submit(kind, requestId, xml(t.callId, t.deviceId));
}

// A request that sends the call on to a dialled number; a destination
// without digits is refused before the call is looked at.
LONG SubmitToDestination(const char* entry, DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination,
                         DWORD feature, RequestKind kind, DestinationRequestXml xml) {
  const std::string number = DialledDigits(destination);
  if (number.empty()) {
    ProviderEntryTrace(entry);
    return static_cast<LONG>(LINEERR_INVALADDRESS);
  }
  Target t;
  if (LONG rc = Check(entry, requestId, hdCall, feature, t)) return rc;
  return Submit(kind, requestId, xml(t.callId, t.deviceId, number));
}

}  // namespace

std::string DialledDigits(LPCWSTR destination) {
  std::string number;
  if (destination == nullptr) return number;
  for (const WCHAR* p = destination; *p != 0; ++p) {
    auto unit = static_cast<std::uint16_t>(*p);
    if ((unit >= '0' && unit <= '9') || unit == '*' || unit == '#') number.push_back(static_cast<char>(unit));
  }
  return number;
}

void StartCtiLine(const ProviderSettings& settings) {
  // Listed lines have no call model of their own yet: they answer as the
  // single line does without call events.
  const bool callEvents = settings.callevents && !LinesListed();
  if (settings.callevents && !callEvents) writeLog(1, "CTI: callevents is not applied to a list of lines");
  LatchCtiMode(callEvents);
  SetCallEventsWanted(callEvents);
  std::lock_guard lock(callTableLock);
  model.Reset(settings.username, settings.domain);
  ResetRequestRecordsLocked();
  running = callEvents;
}

void StopCtiLine() {
  std::lock_guard lock(callTableLock);
  running = false;
}

void CtiCallEventReceived(const CallEvent& event) {
  std::lock_guard lock(callTableLock);
  if (!running) return;
  if (event.kind == CallEventKind::kOther) {
    writeLog(5, "CTI: " + event.eventName + " not acted on");
    return;
  }
  writeLog(4, "CTI: " + DescribeCallEvent(event));
  QueueLocked(model.OnEvent(event, Claimer()));
}

void CtiLinkStateChanged(bool up) {
  if (up) return;
  std::lock_guard lock(callTableLock);
  if (!running) return;
  QueueLocked(model.OnLinkDown(SessionStopping()));
}

void CtiCallIdentifiedLocked(int slot, const std::string& callId, const std::string& deviceId) {
  if (running) model.OnCallIdentified(slot, callId, deviceId);
}

void CtiMakeCallCompleted(int slot, bool success) {
  std::lock_guard lock(callTableLock);
  if (!running) return;
  QueueLocked(model.OnMakeCallCompleted(slot, success, Claimer()));
}

void CtiCallPlacedLocked(int slot) {
  if (running) model.OnCallPlaced(slot);
}

LONG CtiAnswer(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  return SubmitForCall("TSPI_lineAnswer", requestId, hdCall, LINECALLFEATURE_ANSWER, RequestKind::kAnswerCall,
                       AnswerCallXml);
}

LONG CtiDrop(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  Target t;
  if (LONG rc = Check("TSPI_lineDrop", requestId, hdCall, LINECALLFEATURE_DROP, t)) return rc;
  if (t.callId.empty()) {
    // The PBX sent no callID for this call: it is cleared by its device,
    // and only the answer says that it is gone.
    std::lock_guard lock(callTableLock);
    if (CallSlot* slot = SlotFromHandle(hdCall)) model.Call(IndexOf(slot)).dropRequest = requestId;
  }
  return Submit(RequestKind::kClearConnection, requestId, ClearConnectionXml(t.callId, t.deviceId));
}

void CtiRequestCompletedLocked(std::uint32_t requestId, bool success) {
  if (running && success) QueueLocked(model.OnDropAnswered(requestId));
}

LONG CtiHold(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  return SubmitForCall("TSPI_lineHold", requestId, hdCall, LINECALLFEATURE_HOLD, RequestKind::kHoldCall,
                       HoldCallXml);
}

LONG CtiUnhold(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  return SubmitForCall("TSPI_lineUnhold", requestId, hdCall, LINECALLFEATURE_UNHOLD,
                       RequestKind::kRetrieveCall, RetrieveCallXml);
}

LONG CtiBlindTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination) {
  return SubmitToDestination("TSPI_lineBlindTransfer", requestId, hdCall, destination,
                             LINECALLFEATURE_BLINDTRANSFER, RequestKind::kSingleStepTransferCall,
                             SingleStepTransferCallXml);
}

LONG CtiRedirect(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination) {
  return SubmitToDestination("TSPI_lineRedirect", requestId, hdCall, destination, LINECALLFEATURE_REDIRECT,
                             RequestKind::kDeflectCall, DeflectCallXml);
}

LONG CtiCloseCall(HDRVCALL hdCall) {
  ProviderEntryTrace("TSPI_lineCloseCall");
  Target t;
  bool clear = false;
  std::vector<DRV_REQUESTID> closed;
  {
    std::lock_guard lock(callTableLock);
    CallSlot* slot = SlotFromHandle(hdCall);
    if (slot == nullptr || !slot->inUse) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const int index = IndexOf(slot);
    const CtiCall& c = model.Call(index);
    // A call still up is dropped with its handle (by its device when the PBX
    // gave no callID); an idle one needs nothing.
    clear = c.used && (!c.callId.empty() || c.madeByTapi) && c.state != 0 && c.state != LINECALLSTATE_IDLE;
    t.callId = c.callId;
    t.deviceId = c.ourDeviceId;
    model.OnClosed(index);
    slot->inUse = false;
    closed = CloseRequestsLocked(*slot);
  }
  if (clear) SubmitRequest(RequestKind::kClearConnection, 0, ClearConnectionXml(t.callId, t.deviceId));
  CompleteClosedRequests(closed);
  return 0;
}

LONG CtiGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS status) {
  ProviderEntryTrace("TSPI_lineGetCallStatus");
  std::lock_guard lock(callTableLock);
  CallSlot* slot = SlotFromHandle(hdCall);
  if (slot == nullptr || !slot->inUse || !model.Call(IndexOf(slot)).used)
    return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  return FillCtiCallStatus(status, model.Call(IndexOf(slot)));
}

LONG CtiGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO info) {
  ProviderEntryTrace("TSPI_lineGetCallInfo");
  std::lock_guard lock(callTableLock);
  CallSlot* slot = SlotFromHandle(hdCall);
  if (slot == nullptr || !slot->inUse || !model.Call(IndexOf(slot)).used)
    return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  return FillCtiCallInfo(info, model.Call(IndexOf(slot)));
}

}  // namespace qv
