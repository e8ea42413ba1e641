#include "provider/cti_line.h"

#include <mutex>
#include <vector>

#include "platform/ticks.h"
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
#include "session/device_snapshot.h"
#include "session/log.h"
#include "session/pbx_requests.h"
#include "session/session.h"
#include "session/settings.h"

namespace qv {

namespace {

// Guarded by callTableLock.
CallModel model;
// A TSPI_lineGenerateDigits whose GenerateDigits is still unanswered.
struct DigitGeneration {
  DRV_REQUESTID part = 0;  // the request id of its GenerateDigits
  int slot = -1;
  std::uint32_t generation = 0;
  DWORD endToEndId = 0;
  bool ended = false;  // LINE_GENERATE already queued; the answer is only swallowed
};
std::vector<DigitGeneration> digitGenerations;
// Far above what TAPI hands out, and apart from the forwarding parts.
DRV_REQUESTID nextDigitPart = 0x7E000000;
bool running = false;

// A request whose outcome decides the fate of a call TAPI created for it.
struct CallSetup {
  DRV_REQUESTID requestId = 0;
  int slot = -1;
  std::uint32_t generation = 0;  // the call TAPI created, unless closed meanwhile
  bool conference = false;       // ConferenceCall, else the consultation's HoldCall
};
std::vector<CallSetup> setups;
// The connection was lost with calls kept: the next login reads the snapshot.
bool linkWasLost = false;
// Logged in and monitoring.
bool linkUp = false;
// What TSPI_lineSetStatusMessages asked for.
DWORD lineStateMessages = 0;
DWORD addressStateMessages = 0;
CtiCallCounts lastCounts;

CtiCallCounts CountCallsLocked() {
  CtiCallCounts n;
  for (int i = 0; i < kCallTableSize; ++i) {
    const CtiCall& c = model.Call(i);
    if (!c.used || !callTable[static_cast<std::size_t>(i)].inUse) continue;
    switch (ReportedCallState(c)) {
      case LINECALLSTATE_IDLE:
        break;
      case LINECALLSTATE_ONHOLD:
        ++n.onHold;
        break;
      case LINECALLSTATE_ONHOLDPENDTRANSFER:
      case LINECALLSTATE_ONHOLDPENDCONF:
        ++n.onHoldPending;
        break;
      case LINECALLSTATE_CONFERENCED:
        break;  // counted as its conference call
      default:
        ++n.active;
        break;
    }
  }
  return n;
}

// On the delivery thread, with nothing held: a status message TAPI asked for.
void DeliverStatus(DWORD message, DWORD state) {
  LINEEVENT proc = nullptr;
  HTAPILINE htLine = nullptr;
  {
    std::lock_guard lock(callTableLock);
    if (!running) return;
    const DWORD asked = message == LINE_LINEDEVSTATE ? lineStateMessages : addressStateMessages;
    if ((asked & state) == 0) return;
    proc = lineRecord.eventProc;
    htLine = lineRecord.htLine;
  }
  if (proc == nullptr) return;
  if (message == LINE_LINEDEVSTATE) {
    proc(htLine, nullptr, LINE_LINEDEVSTATE, state, 0, 0);
  } else {
    proc(htLine, nullptr, LINE_ADDRESSSTATE, 0, state, 0);  // address 0
  }
}

// After the calls changed: NUMCALLS where the counts did.
void NoteCountsLocked() {
  const CtiCallCounts now = CountCallsLocked();
  if (now.active == lastCounts.active && now.onHold == lastCounts.onHold &&
      now.onHoldPending == lastCounts.onHoldPending)
    return;
  lastCounts = now;
  if ((lineStateMessages & LINEDEVSTATE_NUMCALLS) != 0)
    QueueTapiCall([] { DeliverStatus(LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS); });
  if ((addressStateMessages & LINEADDRESSSTATE_NUMCALLS) != 0)
    QueueTapiCall([] { DeliverStatus(LINE_ADDRESSSTATE, LINEADDRESSSTATE_NUMCALLS); });
}

}  // namespace

void CtiQueueAddressStateLocked(DWORD state) {
  if ((addressStateMessages & state) != 0)
    QueueTapiCall([state] { DeliverStatus(LINE_ADDRESSSTATE, state); });
}

namespace {

void NoteLinkLocked(bool up) {
  if (linkUp == up) return;
  linkUp = up;
  const DWORD state = up ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE;
  if ((lineStateMessages & state) != 0) QueueTapiCall([state] { DeliverStatus(LINE_LINEDEVSTATE, state); });
}

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

// On the delivery thread: only the call it was generated on hears of it.
void DeliverGenerate(int slot, std::uint32_t generation, DWORD term, DWORD endToEndId) {
  LINEEVENT proc = nullptr;
  HTAPILINE htLine = nullptr;
  HTAPICALL htCall = nullptr;
  {
    std::lock_guard lock(callTableLock);
    const CtiCall& c = model.Call(slot);
    if (!running || !c.used || c.generation != generation) return;
    htCall = callTable[static_cast<std::size_t>(slot)].htCall;
    proc = lineRecord.eventProc;
    htLine = lineRecord.htLine;
  }
  if (proc != nullptr && htCall != nullptr)
    proc(htLine, htCall, LINE_GENERATE, term, endToEndId, tickCount32());
}

void EndGenerationLocked(DigitGeneration& g, DWORD term) {
  if (g.ended) return;
  g.ended = true;
  const int slot = g.slot;
  const std::uint32_t generation = g.generation;
  const DWORD id = g.endToEndId;
  QueueTapiCall([slot, generation, term, id] { DeliverGenerate(slot, generation, term, id); });
}

// A call that left CONNECTED stops its digits.
void CancelStaleGenerationsLocked() {
  for (DigitGeneration& g : digitGenerations) {
    const CtiCall& c = model.Call(g.slot);
    if (!g.ended && (c.generation != g.generation || c.state != LINECALLSTATE_CONNECTED))
      EndGenerationLocked(g, LINEGENERATETERM_CANCEL);
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
  if (!messages.empty()) {
    NoteCountsLocked();
    CancelStaleGenerationsLocked();
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

// Claims a slot for a call TAPI created itself (consultation, conference).
int ClaimTapiCallLocked(HTAPICALL htCall) {
  const int index = ClaimSlotLocked();
  if (index >= 0) callTable[static_cast<std::size_t>(index)].htCall = htCall;
  return index;
}

// The call behind a handle TAPI knows, or -1.
int KnownCallLocked(HDRVCALL hdCall) {
  CallSlot* slot = SlotFromHandle(hdCall);
  if (slot == nullptr || !slot->inUse || !model.Call(IndexOf(slot)).used) return -1;
  return IndexOf(slot);
}

LONG RefuseInState(const char* entry, const CtiCall& c) {
  writeLog(3, std::string(entry) + ": not possible in state " + CallStateName(ReportedCallState(c)));
  return static_cast<LONG>(LINEERR_INVALCALLSTATE);
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
  CtiResetForwardingLocked();
  setups.clear();
  digitGenerations.clear();
  linkWasLost = false;
  linkUp = false;
  lineStateMessages = 0;
  addressStateMessages = 0;
  lastCounts = {};
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
  std::string device;
  {
    std::lock_guard lock(callTableLock);
    if (!running) return;
    NoteLinkLocked(up);
    if (!up) {
      if (SessionStopping()) {
        QueueLocked(model.OnLinkDown(true));
      } else {
        model.OnLinkLost();
        linkWasLost = true;
      }
      return;
    }
    if (linkWasLost) {
      linkWasLost = false;
      const ProviderSettings settings = SettingsSnapshot();
      device = settings.username + "@" + settings.domain;
    }
  }
  CtiReadForwarding();
  if (device.empty()) return;
  // Queued behind the MonitorStart; nobody waits for its outcome but the line.
  SubmitRequest(RequestKind::kSnapshotDevice, 0, SnapshotDeviceXml(device));
}

void CtiDeviceSnapshot(bool answered, bool linkLost, const std::vector<SnapshotCall>& calls) {
  std::lock_guard lock(callTableLock);
  if (!running) return;
  if (answered) {
    QueueLocked(model.OnSnapshot(calls, Claimer()));
    return;
  }
  // The next connection asks again.
  if (linkLost) {
    linkWasLost = true;
    return;
  }
  writeLog(1, "CTI: no snapshot of the device from the PBX, its calls end");
  QueueLocked(model.OnLinkDown(false));
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
  {
    std::lock_guard lock(callTableLock);
    const int index = KnownCallLocked(hdCall);
    const CtiCall* c = index >= 0 ? &model.Call(index) : nullptr;
    if (c != nullptr && c->consultation && c->callId.empty() && !c->replyPending &&
        c->state == LINECALLSTATE_DIALTONE) {
      // The PBX has no call yet: nothing to clear.
      ProviderEntryTrace("TSPI_lineDrop");
      QueueCompletion(requestId, 0);
      QueueLocked(model.OnUndialledDropped(index));
      return static_cast<LONG>(requestId);
    }
  }
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

void CtiSetupCompletedLocked(DRV_REQUESTID requestId, bool success) {
  for (auto it = setups.begin(); it != setups.end(); ++it) {
    if (it->requestId != requestId) continue;
    const CallSetup setup = *it;
    setups.erase(it);
    if (!running || model.Call(setup.slot).generation != setup.generation) return;
    CallSlot& slot = callTable[static_cast<std::size_t>(setup.slot)];
    if (setup.conference) {
      if (!success) {
        model.OnConferenceFailed(setup.slot);
        slot.inUse = false;
      }
      return;
    }
    QueueLocked(model.OnConsultationHeld(setup.slot, success));
    if (!success) slot.inUse = false;
    return;
  }
}

LONG CtiSetupTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConsultCall,
                      LPHDRVCALL lphdConsultCall) {
  constexpr const char* kEntry = "TSPI_lineSetupTransfer";
  Target t;
  if (LONG rc = Check(kEntry, requestId, hdCall, LINECALLFEATURE_SETUPTRANSFER, t)) return rc;
  {
    std::lock_guard lock(callTableLock);
    const int held = KnownCallLocked(hdCall);
    const int consult = held >= 0 && lphdConsultCall != nullptr ? ClaimTapiCallLocked(htConsultCall) : -1;
    if (consult < 0) {
      // Refused at once: the request is not TAPI's to wait for.
      RequestFinishedLocked(requestId);
      if (lphdConsultCall == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
      if (held < 0) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
      writeLog(3, std::string(kEntry) + ": no free call slot for the consultation call");
      return static_cast<LONG>(LINEERR_CALLUNAVAIL);
    }
    model.OnConsultationSetUp(held, consult);
    setups.push_back({requestId, consult, model.Call(consult).generation, false});
    *lphdConsultCall = reinterpret_cast<HDRVCALL>(&callTable[static_cast<std::size_t>(consult)]);
    writeLog(4, "CTI: consultation for call " + t.callId + " in slot " + std::to_string(consult));
  }
  return Submit(RequestKind::kConsultationHold, requestId, HoldCallXml(t.callId, t.deviceId));
}

LONG CtiDial(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination) {
  constexpr const char* kEntry = "TSPI_lineDial";
  ProviderEntryTrace(kEntry);
  const std::string number = DialledDigits(destination);
  const ProviderSettings settings = SettingsSnapshot();
  const std::string callingDevice = settings.username + "@" + settings.domain;
  std::string deskCallId, deskDevice;
  {
    std::lock_guard lock(callTableLock);
    const int index = KnownCallLocked(hdCall);
    if (index < 0) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const CtiCall& c = model.Call(index);
    if ((ReportedCallFeatures(c) & LINECALLFEATURE_DIAL) == 0) return RefuseInState(kEntry, c);
    if (number.empty()) return static_cast<LONG>(LINEERR_INVALADDRESS);
    if (!c.consultation) {
      // The desk phone has dial tone: the PBX extends its call.
      RequestOpenedLocked(callTable[static_cast<std::size_t>(index)], requestId);
      deskCallId = c.callId;
      deskDevice = c.ourDeviceId;
    }
  }
  if (!deskCallId.empty()) {
    writeLog(5, std::string(kEntry) + " " + number + " on call " + deskCallId);
    return Submit(RequestKind::kDialDigits, requestId, DialDigitsXml(deskCallId, deskDevice, number));
  }
  {
    std::lock_guard lock(callTableLock);
    const int index = KnownCallLocked(hdCall);
    if (index < 0 || !model.Call(index).consultation) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    CallSlot& slot = callTable[static_cast<std::size_t>(index)];
    slot.deviceId = callingDevice;
    slot.callId.clear();
    slot.makeCallRequestId = requestId;
    slot.makeCallPending = true;
    RequestOpenedLocked(slot, requestId);
    model.OnConsultationDialled(index);
    writeLog(5, std::string(kEntry) + " to " + number + " in slot " + std::to_string(index));
  }
  // The PBX keeps the first call on hold while the consultation is placed.
  return Submit(RequestKind::kMakeCall, requestId,
                MakeCallXml(callingDevice, number, settings.autooriginate ? "doNotPrompt" : ""));
}

LONG CtiCompleteTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HDRVCALL hdConsultCall,
                         HTAPICALL htConfCall, LPHDRVCALL lphdConfCall, DWORD transferMode) {
  constexpr const char* kEntry = "TSPI_lineCompleteTransfer";
  ProviderEntryTrace(kEntry);
  if (transferMode != LINETRANSFERMODE_TRANSFER && transferMode != LINETRANSFERMODE_CONFERENCE)
    return static_cast<LONG>(LINEERR_INVALTRANSFERMODE);
  const bool conference = transferMode == LINETRANSFERMODE_CONFERENCE;
  if (conference && lphdConfCall == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  std::string heldId, activeId, deviceId;
  {
    std::lock_guard lock(callTableLock);
    const int first = KnownCallLocked(hdCall);
    const int second = KnownCallLocked(hdConsultCall);
    if (first < 0 || second < 0 || first == second) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const CtiCall& a = model.Call(first);
    const CtiCall& b = model.Call(second);
    if ((ReportedCallFeatures(a) & LINECALLFEATURE_COMPLETETRANSF) == 0) return RefuseInState(kEntry, a);
    if ((ReportedCallFeatures(b) & LINECALLFEATURE_COMPLETETRANSF) == 0 || a.partner != second)
      return RefuseInState(kEntry, b);
    // After a swap either handle may be the one on hold.
    const bool firstHeld = a.state == LINECALLSTATE_ONHOLDPENDTRANSFER;
    const int held = firstHeld ? first : second;
    const int active = firstHeld ? second : first;
    if (model.Call(held).state != LINECALLSTATE_ONHOLDPENDTRANSFER) return RefuseInState(kEntry, b);
    heldId = model.Call(held).callId;
    activeId = model.Call(active).callId;
    deviceId = model.Call(held).ourDeviceId;
    RequestOpenedLocked(callTable[static_cast<std::size_t>(held)], requestId);
    if (conference) {
      const int conf = ClaimTapiCallLocked(htConfCall);
      if (conf < 0) {
        writeLog(3, std::string(kEntry) + ": no free call slot for the conference call");
        return static_cast<LONG>(LINEERR_CALLUNAVAIL);
      }
      model.OnConferenceSetUp(conf, held, active);
      setups.push_back({requestId, conf, model.Call(conf).generation, true});
      *lphdConfCall = reinterpret_cast<HDRVCALL>(&callTable[static_cast<std::size_t>(conf)]);
    }
  }
  if (conference)
    return Submit(RequestKind::kConferenceCall, requestId, ConferenceCallXml(heldId, activeId, deviceId));
  return Submit(RequestKind::kTransferCall, requestId, TransferCallXml(heldId, activeId, deviceId));
}

LONG CtiSwapHold(DRV_REQUESTID requestId, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall) {
  constexpr const char* kEntry = "TSPI_lineSwapHold";
  ProviderEntryTrace(kEntry);
  std::string heldId, activeId, deviceId;
  {
    std::lock_guard lock(callTableLock);
    const int active = KnownCallLocked(hdActiveCall);
    const int held = KnownCallLocked(hdHeldCall);
    if (active < 0 || held < 0 || active == held) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const CtiCall& a = model.Call(active);
    const CtiCall& h = model.Call(held);
    if (a.state != LINECALLSTATE_CONNECTED || (ReportedCallFeatures(a) & LINECALLFEATURE_SWAPHOLD) == 0)
      return RefuseInState(kEntry, a);
    if (h.state != LINECALLSTATE_ONHOLDPENDTRANSFER || a.partner != held) return RefuseInState(kEntry, h);
    heldId = h.callId;
    activeId = a.callId;
    deviceId = a.ourDeviceId;
    RequestOpenedLocked(callTable[static_cast<std::size_t>(active)], requestId);
  }
  return Submit(RequestKind::kAlternateCall, requestId, AlternateCallXml(heldId, activeId, deviceId));
}

CtiCallCounts CtiCountCalls() {
  std::lock_guard lock(callTableLock);
  return CountCallsLocked();
}

bool CtiInService() {
  std::lock_guard lock(callTableLock);
  return linkUp;
}

void CtiSetStatusMessages(DWORD lineStates, DWORD addressStates) {
  std::lock_guard lock(callTableLock);
  lineStateMessages = lineStates;
  addressStateMessages = addressStates;
}

LONG CtiPickup(DRV_REQUESTID requestId, HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR destination,
               LPCWSTR groupId) {
  constexpr const char* kEntry = "TSPI_linePickup";
  ProviderEntryTrace(kEntry);
  const std::string ringing = DialledDigits(destination);
  const std::string group = DialledDigits(groupId);
  if (ringing.empty() && group.empty()) return static_cast<LONG>(LINEERR_INVALADDRESS);
  if (lphdCall == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  const ProviderSettings settings = SettingsSnapshot();
  const std::string ours = settings.username + "@" + settings.domain;
  {
    std::lock_guard lock(callTableLock);
    const int index = ClaimTapiCallLocked(htCall);
    if (index < 0) {
      writeLog(3, std::string(kEntry) + ": no free call slot for the picked-up call");
      return static_cast<LONG>(LINEERR_CALLUNAVAIL);
    }
    CallSlot& slot = callTable[static_cast<std::size_t>(index)];
    slot.deviceId = ours;
    slot.makeCallRequestId = requestId;
    slot.makeCallPending = true;
    RequestOpenedLocked(slot, requestId);
    // Named by the pickup's answer and completed like a MakeCall.
    model.OnPickupPlaced(index);
    *lphdCall = reinterpret_cast<HDRVCALL>(&slot);
    writeLog(5, std::string(kEntry) + (ringing.empty() ? " group " + group : " from " + ringing) +
                    " in slot " + std::to_string(index));
  }
  if (!ringing.empty())
    return Submit(RequestKind::kDirectedPickupCall, requestId, DirectedPickupCallXml(ringing, ours));
  return Submit(RequestKind::kGroupPickupCall, requestId, GroupPickupCallXml(group, ours));
}

LONG CtiGenerateDigits(HDRVCALL hdCall, DWORD endToEndId, DWORD digitMode, LPCWSTR digits) {
  constexpr const char* kEntry = "TSPI_lineGenerateDigits";
  ProviderEntryTrace(kEntry);
  std::string text;
  for (const WCHAR* p = digits; p != nullptr && *p != 0 && text.size() < 64; ++p) {
    const auto unit = static_cast<std::uint16_t>(*p);
    if ((unit >= '0' && unit <= '9') || unit == '*' || unit == '#' || (unit >= 'A' && unit <= 'D'))
      text.push_back(static_cast<char>(unit));
  }
  std::string callId, deviceId;
  DRV_REQUESTID part = 0;
  {
    std::lock_guard lock(callTableLock);
    const int index = KnownCallLocked(hdCall);
    if (index < 0) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const CtiCall& c = model.Call(index);
    if (digits != nullptr) {
      if (digitMode != LINEDIGITMODE_DTMF) return static_cast<LONG>(LINEERR_INVALDIGITMODE);
      if (c.state != LINECALLSTATE_CONNECTED || c.callId.empty()) return RefuseInState(kEntry, c);
      if (text.empty()) return static_cast<LONG>(LINEERR_INVALPARAM);
    }
    // A new request, or none (null digits), ends the one in progress.
    for (DigitGeneration& g : digitGenerations) {
      if (g.slot == index) EndGenerationLocked(g, LINEGENERATETERM_CANCEL);
    }
    if (digits == nullptr) return 0;
    part = nextDigitPart;
    nextDigitPart = nextDigitPart >= 0x7EFFFFF0 ? 0x7E000000 : nextDigitPart + 1;
    digitGenerations.push_back({part, index, c.generation, endToEndId, false});
    callId = c.callId;
    deviceId = c.ourDeviceId;
  }
  // Synchronous for TAPI: its end comes as LINE_GENERATE.
  SubmitRequest(RequestKind::kGenerateDigits, part, GenerateDigitsXml(callId, deviceId, text));
  return 0;
}

bool CtiDigitsPartCompleted(DRV_REQUESTID requestId, bool success) {
  std::lock_guard lock(callTableLock);
  for (auto it = digitGenerations.begin(); it != digitGenerations.end(); ++it) {
    if (it->part != requestId) continue;
    if (running) EndGenerationLocked(*it, success ? LINEGENERATETERM_DONE : LINEGENERATETERM_CANCEL);
    digitGenerations.erase(it);
    return true;
  }
  return false;
}

}  // namespace qv
