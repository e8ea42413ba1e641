#include "provider/cti_line.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ticks.h"
#include "provider/call_model.h"
#include "provider/call_table.h"
#include "provider/closing_requests.h"
#include "provider/cti_call_info.h"
#include "provider/cti_line_state.h"
#include "provider/cti_requests.h"
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

// All guarded by callTableLock.
CtiLine single;
// By position in the list of lines; made on first use, never freed while
// the library is loaded (messages queued for a line point at it).
std::vector<std::unique_ptr<CtiLine>> listed;
std::string domain;
bool running = false;
// The single line is logged in and monitoring.
bool linkUp = false;

// A TSPI_lineGenerateDigits whose GenerateDigits is still unanswered.
struct DigitGeneration {
  CtiLine* line = nullptr;
  DRV_REQUESTID part = 0;  // the request id of its GenerateDigits
  int slot = -1;
  std::uint32_t generation = 0;
  DWORD endToEndId = 0;
  bool ended = false;  // LINE_GENERATE already queued; the answer is only swallowed
};
std::vector<DigitGeneration> digitGenerations;
// Far above what TAPI hands out, and apart from the forwarding parts.
DRV_REQUESTID nextDigitPart = 0x7E000000;

std::vector<CallSetup> setups;
// TSPI_lineDrop of calls without a callID, by request id: the answer ends them.
std::vector<std::pair<DRV_REQUESTID, CtiLine*>> drops;

void ResetLocked(CtiLine& line) {
  line.model.Reset(line.extension, domain, OnLine(line));
  line.snapshotWanted = false;
  line.lastCounts = {};
  line.forwarding = {};
  if (line.record != nullptr) {
    line.record->statusMessages = 0;
    line.record->addressStatusMessages = 0;
  }
}

CtiCallCounts CountCallsLocked(CtiLine& line) {
  CtiCallCounts n;
  for (int i = 0; i < kCallTableSize; ++i) {
    const CtiCall& c = line.model.Call(i);
    if (!c.used || !line.Slot(i).inUse) continue;
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
void DeliverStatus(CtiLine* line, DWORD message, DWORD state) {
  LINEEVENT proc = nullptr;
  HTAPILINE htLine = nullptr;
  {
    std::lock_guard lock(callTableLock);
    if (!running || line->record == nullptr) return;
    const DWORD asked =
        message == LINE_LINEDEVSTATE ? line->record->statusMessages : line->record->addressStatusMessages;
    if ((asked & state) == 0) return;
    proc = line->record->eventProc;
    htLine = line->record->htLine;
  }
  if (proc == nullptr) return;
  if (message == LINE_LINEDEVSTATE) {
    proc(htLine, nullptr, LINE_LINEDEVSTATE, state, 0, 0);
  } else {
    proc(htLine, nullptr, LINE_ADDRESSSTATE, 0, state, 0);  // address 0
  }
}

// After the calls changed: NUMCALLS where the counts did.
void NoteCountsLocked(CtiLine& line) {
  const CtiCallCounts now = CountCallsLocked(line);
  const CtiCallCounts& last = line.lastCounts;
  if (now.active == last.active && now.onHold == last.onHold && now.onHoldPending == last.onHoldPending)
    return;
  line.lastCounts = now;
  CtiLine* l = &line;
  if ((line.record->statusMessages & LINEDEVSTATE_NUMCALLS) != 0)
    QueueTapiCall([l] { DeliverStatus(l, LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS); });
  if ((line.record->addressStatusMessages & LINEADDRESSSTATE_NUMCALLS) != 0)
    QueueTapiCall([l] { DeliverStatus(l, LINE_ADDRESSSTATE, LINEADDRESSSTATE_NUMCALLS); });
}

void BindLocked(CtiLine& line, ListedLine& listedLine) {
  line.record = &listedLine;
  line.slots = &listedLine.slots;
  line.extension = listedLine.extension;
  line.position = static_cast<int>(listedLine.position);
  ResetLocked(line);
}

}  // namespace

CtiLine* CtiLineAtLocked(int position) {
  if (position < 0) return LinesListed() ? nullptr : &single;
  ListedLine* named = ListedLineAt(static_cast<std::size_t>(position));
  if (named == nullptr) return nullptr;
  const auto at = static_cast<std::size_t>(position);
  if (at >= listed.size()) listed.resize(at + 1);
  if (!listed[at]) listed[at] = std::make_unique<CtiLine>();
  CtiLine& line = *listed[at];
  if (line.record != named) BindLocked(line, *named);
  return &line;
}

CtiLine* FindCtiLineLocked(int position) {
  if (position < 0) return LinesListed() ? nullptr : &single;
  const auto at = static_cast<std::size_t>(position);
  if (at >= listed.size() || !listed[at]) return nullptr;
  if (listed[at]->record != ListedLineAt(at)) return nullptr;
  return listed[at].get();
}

CtiLine* CtiLineOfSlotLocked(const CallSlot* slot) {
  if (slot == nullptr) return nullptr;
  if (slot >= callTable.data() && slot < callTable.data() + kCallTableSize) return &single;
  const ListedLine* named = ListedLineOfSlot(slot);
  return named != nullptr ? CtiLineAtLocked(static_cast<int>(named->position)) : nullptr;
}

CtiLine* CtiLineOfHandleLocked(HDRVLINE hdLine) {
  if (!LinesListed()) return &single;
  const ListedLine* named = ListedLineFromHandle(hdLine);
  return named != nullptr ? CtiLineAtLocked(static_cast<int>(named->position)) : nullptr;
}

std::string CtiDevice(const CtiLine& line) { return line.extension + "@" + domain; }

std::string OnLine(const CtiLine& line) {
  return line.Listed() ? " on line " + line.extension : std::string();
}

std::vector<CtiLine*> CtiLinesInUseLocked() {
  std::vector<CtiLine*> lines;
  if (!LinesListed()) lines.push_back(&single);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    if (CtiLine* line = FindCtiLineLocked(static_cast<int>(i))) lines.push_back(line);
  }
  return lines;
}

void CtiQueueAddressStateLocked(CtiLine& line, DWORD state) {
  CtiLine* l = &line;
  if ((line.record->addressStatusMessages & state) != 0)
    QueueTapiCall([l, state] { DeliverStatus(l, LINE_ADDRESSSTATE, state); });
}

namespace {

void NoteLinkLocked(bool up) {
  if (linkUp == up) return;
  linkUp = up;
  const DWORD state = up ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE;
  CtiLine* l = &single;
  if ((single.record->statusMessages & state) != 0)
    QueueTapiCall([l, state] { DeliverStatus(l, LINE_LINEDEVSTATE, state); });
}

int ClaimSlotLocked(CtiLine& line) {
  // Without an open line TAPI cannot take a new call.
  if (line.record->eventProc == nullptr) return -1;
  for (int i = 0; i < kCallTableSize; ++i) {
    CallSlot& s = line.Slot(i);
    if (s.inUse || s.makeCallPending || line.model.Call(i).used) continue;
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
void Deliver(CtiLine* line, const CtiMessage& m) {
  LINEEVENT proc = nullptr;
  HTAPILINE htLine = nullptr;
  HTAPICALL htCall = nullptr;
  const auto hdCall = reinterpret_cast<DWORD_PTR>(line->Handle(m.slot));
  {
    std::lock_guard lock(callTableLock);
    const CtiCall& c = line->model.Call(m.slot);
    if (!running || !c.used || c.generation != m.generation) return;
    htCall = line->Slot(m.slot).htCall;
    if (m.kind != CtiMessage::Kind::kNewCall && htCall == nullptr) return;
    proc = line->record->eventProc;
    htLine = line->record->htLine;
  }
  if (proc == nullptr) return;
  switch (m.kind) {
    case CtiMessage::Kind::kNewCall: {
      HTAPICALL given = nullptr;
      proc(htLine, nullptr, LINE_NEWCALL, hdCall, reinterpret_cast<DWORD_PTR>(&given), 0);
      std::lock_guard lock(callTableLock);
      CtiCall& c = line->model.Call(m.slot);
      if (c.generation != m.generation) return;
      if (given == nullptr) {
        // TAPI could not take the call: it is dropped from the line.
        writeLog(1, "CTI: TAPI did not take call " + c.callId + ", not reported");
        line->model.OnClosed(m.slot);
        line->Slot(m.slot).inUse = false;
        return;
      }
      line->Slot(m.slot).htCall = given;
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
void DeliverGenerate(CtiLine* line, int slot, std::uint32_t generation, DWORD term, DWORD endToEndId) {
  LINEEVENT proc = nullptr;
  HTAPILINE htLine = nullptr;
  HTAPICALL htCall = nullptr;
  {
    std::lock_guard lock(callTableLock);
    const CtiCall& c = line->model.Call(slot);
    if (!running || !c.used || c.generation != generation) return;
    htCall = line->Slot(slot).htCall;
    proc = line->record->eventProc;
    htLine = line->record->htLine;
  }
  if (proc != nullptr && htCall != nullptr)
    proc(htLine, htCall, LINE_GENERATE, term, endToEndId, tickCount32());
}

void EndGenerationLocked(DigitGeneration& g, DWORD term) {
  if (g.ended) return;
  g.ended = true;
  CtiLine* line = g.line;
  const int slot = g.slot;
  const std::uint32_t generation = g.generation;
  const DWORD id = g.endToEndId;
  QueueTapiCall([line, slot, generation, term, id] { DeliverGenerate(line, slot, generation, term, id); });
}

// A call that left CONNECTED stops its digits.
void CancelStaleGenerationsLocked(const CtiLine& line) {
  for (DigitGeneration& g : digitGenerations) {
    if (g.line != &line) continue;
    const CtiCall& c = line.model.Call(g.slot);
    if (!g.ended && (c.generation != g.generation || c.state != LINECALLSTATE_CONNECTED))
      EndGenerationLocked(g, LINEGENERATETERM_CANCEL);
  }
}

}  // namespace

void QueueLocked(CtiLine& line, const std::vector<CtiMessage>& messages) {
  CtiLine* l = &line;
  for (const CtiMessage& m : messages) {
    if (m.kind == CtiMessage::Kind::kCallState) {
      writeLog(4, "CTI: call " + line.model.Call(m.slot).callId + " in slot " + std::to_string(m.slot) + " " +
                      CallStateName(m.param1) + " mode " + std::to_string(m.param2) + OnLine(line));
    }
    QueueTapiCall([l, m] { Deliver(l, m); });
  }
  if (!messages.empty()) {
    NoteCountsLocked(line);
    CancelStaleGenerationsLocked(line);
  }
}

CallModel::ClaimSlot Claimer(CtiLine& line) {
  return [&line] { return ClaimSlotLocked(line); };
}

bool CallPairLocked(HDRVCALL first, HDRVCALL second, CallRef& a, CallRef& b) {
  a = KnownCallLocked(first);
  b = KnownCallLocked(second);
  return a && b && a.line == b.line && a.index != b.index;
}

CallRef KnownCallLocked(HDRVCALL hdCall) {
  CallSlot* slot = SlotFromHandle(hdCall);
  if (slot == nullptr || !slot->inUse) return {};
  CtiLine* line = CtiLineOfSlotLocked(slot);
  if (line == nullptr) return {};
  const int index = line->IndexOf(slot);
  if (!line->model.Call(index).used) return {};
  return {line, index};
}

// Checks the call and its state under the lock; the request itself is
// submitted after, with no lock held.
LONG Check(const char* entry, DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD feature, Target& target) {
  ProviderEntryTrace(entry);
  std::lock_guard lock(callTableLock);
  const CallRef ref = KnownCallLocked(hdCall);
  if (!ref) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  const CtiCall& c = ref.call();
  if ((ReportedCallFeatures(c) & feature) == 0) {
    writeLog(3, std::string(entry) + ": not possible in state " + CallStateName(ReportedCallState(c)));
    return static_cast<LONG>(LINEERR_INVALCALLSTATE);
  }
  target.callId = c.callId;
  target.deviceId = c.ourDeviceId;
  RequestOpenedLocked(ref.slot(), requestId);
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
int ClaimTapiCallLocked(CtiLine& line, HTAPICALL htCall) {
  const int index = ClaimSlotLocked(line);
  if (index >= 0) line.Slot(index).htCall = htCall;
  return index;
}

LONG RefuseAtEntry(const char* entry, LONG error) {
  ProviderEntryTrace(entry);
  return error;
}

LONG RefuseInState(const char* entry, const CtiCall& c) {
  writeLog(3, std::string(entry) + ": not possible in state " + CallStateName(ReportedCallState(c)));
  return static_cast<LONG>(LINEERR_INVALCALLSTATE);
}

namespace {

// Asks the PBX for the device's calls after the connection came back.
void SubmitSnapshot(const CtiLine& line) {
  // Nobody waits for its outcome but the line.
  SubmitRequest(RequestKind::kSnapshotDevice, 0, SnapshotDeviceXml(CtiDevice(line)), line.position);
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
  LatchCtiMode(settings.callevents);
  SetCallEventsWanted(settings.callevents);
  std::lock_guard lock(callTableLock);
  domain = settings.domain;
  single.record = &lineRecord;
  single.slots = &callTable;
  single.extension = settings.username;
  ResetLocked(single);
  // Listed lines are bound again (and so reset) when next used.
  for (auto& line : listed) {
    if (line) line->record = nullptr;
  }
  CtiResetForwardingLocked();
  CtiReconnectionsResetLocked(false);
  setups.clear();
  digitGenerations.clear();
  drops.clear();
  linkUp = false;
  ResetRequestRecordsLocked();
  running = settings.callevents;
}

void StopCtiLine() {
  std::lock_guard lock(callTableLock);
  // Calls kept across a loss that no snapshot settled end with the provider,
  // as those of a link that was up do.
  for (CtiLine* line : running ? CtiLinesInUseLocked() : std::vector<CtiLine*>{}) {
    if (line->snapshotWanted) QueueLocked(*line, line->model.OnLinkDown(true));
  }
  running = false;
}

void CtiCallEventReceived(const CallEvent& event) {
  std::lock_guard lock(callTableLock);
  if (!running) return;
  if (event.kind == CallEventKind::kOther) {
    writeLog(5, "CTI: " + event.eventName + " not acted on");
    return;
  }
  // A listed line follows its calls while TAPI has it open, and those it
  // already knows after that.
  CtiLine* line = FindCtiLineLocked(event.line);
  if (line == nullptr && event.line >= 0) {
    const ListedLine* named = ListedLineAt(static_cast<std::size_t>(event.line));
    if (named != nullptr && named->eventProc != nullptr) line = CtiLineAtLocked(event.line);
  }
  if (line == nullptr) {
    writeLog(5, "CTI: " + event.eventName + " of a line not open, not acted on");
    return;
  }
  writeLog(4, "CTI: " + DescribeCallEvent(event) + OnLine(*line));
  QueueLocked(*line, line->model.OnEvent(event, Claimer(*line)));
}

void CtiLinkStateChanged(bool up) {
  bool snapshot = false;
  {
    std::lock_guard lock(callTableLock);
    if (!running) return;
    if (!LinesListed()) NoteLinkLocked(up);
    if (!up) {
      CtiReconnectionsResetLocked(true);
      const bool stopping = SessionStopping();
      for (CtiLine* line : CtiLinesInUseLocked()) {
        if (stopping) {
          QueueLocked(*line, line->model.OnLinkDown(true));
        } else {
          line->model.OnLinkLost();
          line->snapshotWanted = true;
        }
      }
      return;
    }
    // Listed lines read theirs when their monitors start.
    if (LinesListed()) return;
    snapshot = single.snapshotWanted;
    single.snapshotWanted = false;
  }
  CtiReadForwarding(single);
  // Queued behind the MonitorStart.
  if (snapshot) SubmitSnapshot(single);
}

void CtiLineMonitorChanged(int position, bool monitorRunning) {
  if (!monitorRunning) return;  // the link's loss ends or keeps the calls
  bool snapshot = false;
  bool forwarding = false;
  CtiLine* line = nullptr;
  {
    std::lock_guard lock(callTableLock);
    if (!running) return;
    line = FindCtiLineLocked(position);
    const ListedLine* named = ListedLineAt(static_cast<std::size_t>(position));
    const bool open = named != nullptr && named->eventProc != nullptr;
    if (line == nullptr && open) line = CtiLineAtLocked(position);
    if (line == nullptr) return;
    snapshot = line->snapshotWanted;
    line->snapshotWanted = false;
    forwarding = open;
  }
  if (forwarding) CtiReadForwarding(*line);
  if (snapshot) SubmitSnapshot(*line);
}

void CtiLineOpened(HDRVLINE hdLine) {
  CtiLine* line = nullptr;
  {
    std::lock_guard lock(callTableLock);
    if (!running || !LinesListed()) return;
    const ListedLine* named = ListedLineFromHandle(hdLine);
    // An open line that is in service reads its forwarding now; one that
    // is not yet does so when its monitor starts.
    if (named == nullptr || !named->inService) return;
    line = CtiLineAtLocked(static_cast<int>(named->position));
  }
  if (line != nullptr) CtiReadForwarding(*line);
}

void CtiLineRemovedLocked(int position) {
  if (CtiLine* line = FindCtiLineLocked(position)) ResetLocked(*line);
}

void CtiDeviceSnapshot(int position, bool answered, bool linkLost, const std::vector<SnapshotCall>& calls) {
  std::lock_guard lock(callTableLock);
  if (!running) return;
  CtiLine* line = FindCtiLineLocked(position);
  if (line == nullptr) return;
  if (answered) {
    QueueLocked(*line, line->model.OnSnapshot(calls, Claimer(*line)));
    return;
  }
  // The next connection asks again.
  if (linkLost) {
    line->snapshotWanted = true;
    return;
  }
  writeLog(1, "CTI: no snapshot of the device from the PBX, its calls end" + OnLine(*line));
  QueueLocked(*line, line->model.OnLinkDown(false));
}

void CtiCallIdentifiedLocked(CallSlot* slot, const std::string& callId, const std::string& deviceId) {
  if (!running) return;
  if (CtiLine* line = CtiLineOfSlotLocked(slot))
    line->model.OnCallIdentified(line->IndexOf(slot), callId, deviceId);
}

void CtiMakeCallCompleted(CallSlot* slot, bool success) {
  std::lock_guard lock(callTableLock);
  if (!running) return;
  CtiLine* line = CtiLineOfSlotLocked(slot);
  if (line == nullptr) return;
  QueueLocked(*line, line->model.OnMakeCallCompleted(line->IndexOf(slot), success, Claimer(*line)));
}

void CtiCallPlacedLocked(CallSlot* slot) {
  if (!running) return;
  if (CtiLine* line = CtiLineOfSlotLocked(slot)) line->model.OnCallPlaced(line->IndexOf(slot));
}

LONG CtiAnswer(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  return SubmitForCall("TSPI_lineAnswer", requestId, hdCall, LINECALLFEATURE_ANSWER, RequestKind::kAnswerCall,
                       AnswerCallXml);
}

LONG CtiDrop(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  {
    std::lock_guard lock(callTableLock);
    const CallRef ref = KnownCallLocked(hdCall);
    if (ref) {
      const CtiCall& c = ref.call();
      if (c.consultation && c.callId.empty() && !c.replyPending && c.state == LINECALLSTATE_DIALTONE) {
        // The PBX has no call yet: nothing to clear.
        ProviderEntryTrace("TSPI_lineDrop");
        QueueCompletion(requestId, 0);
        QueueLocked(*ref.line, ref.line->model.OnUndialledDropped(ref.index));
        return static_cast<LONG>(requestId);
      }
    }
  }
  Target t;
  if (LONG rc = Check("TSPI_lineDrop", requestId, hdCall, LINECALLFEATURE_DROP, t)) return rc;
  if (t.callId.empty()) {
    // The PBX sent no callID for this call: it is cleared by its device,
    // and only the answer says that it is gone.
    std::lock_guard lock(callTableLock);
    if (const CallRef ref = KnownCallLocked(hdCall)) {
      ref.call().dropRequest = requestId;
      drops.emplace_back(requestId, ref.line);
    }
  }
  return Submit(RequestKind::kClearConnection, requestId, ClearConnectionXml(t.callId, t.deviceId));
}

void CtiRequestCompletedLocked(std::uint32_t requestId, bool success) {
  for (auto it = drops.begin(); it != drops.end(); ++it) {
    if (it->first != requestId) continue;
    CtiLine* line = it->second;
    drops.erase(it);
    if (running && success) QueueLocked(*line, line->model.OnDropAnswered(requestId));
    return;
  }
}

LONG CtiHold(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  return SubmitForCall("TSPI_lineHold", requestId, hdCall, LINECALLFEATURE_HOLD, RequestKind::kHoldCall,
                       HoldCallXml);
}

LONG CtiUnhold(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  LONG result = 0;
  if (CtiReconnect(requestId, hdCall, result)) return result;
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
    if (CtiLine* line = CtiLineOfSlotLocked(slot)) {
      const int index = line->IndexOf(slot);
      const CtiCall& c = line->model.Call(index);
      // A call still up is dropped with its handle (by its device when the
      // PBX gave no callID); an idle one needs nothing.
      clear = c.used && (!c.callId.empty() || c.madeByTapi) && c.state != 0 && c.state != LINECALLSTATE_IDLE;
      t.callId = c.callId;
      t.deviceId = c.ourDeviceId;
      line->model.OnClosed(index);
    }
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
  const CallRef ref = KnownCallLocked(hdCall);
  if (!ref) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  return FillCtiCallStatus(status, ref.call());
}

LONG CtiGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO info) {
  ProviderEntryTrace("TSPI_lineGetCallInfo");
  std::lock_guard lock(callTableLock);
  const CallRef ref = KnownCallLocked(hdCall);
  if (!ref) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  const LONG rc = FillCtiCallInfo(info, ref.call());
  if (rc == 0 && ref.line->Listed() && info != nullptr)
    info->dwLineDeviceID = ListedLineDeviceId(*static_cast<ListedLine*>(ref.line->record));
  return rc;
}

void NoteCallSetupLocked(const CallSetup& setup) { setups.push_back(setup); }

void CtiSetupCompletedLocked(DRV_REQUESTID requestId, bool success) {
  for (auto it = setups.begin(); it != setups.end(); ++it) {
    if (it->requestId != requestId) continue;
    const CallSetup setup = *it;
    setups.erase(it);
    CtiLine& line = *setup.line;
    if (!running || line.model.Call(setup.slot).generation != setup.generation) return;
    CallSlot& slot = line.Slot(setup.slot);
    switch (setup.kind) {
      case SetupKind::kConsultation:
        QueueLocked(line, line.model.OnConsultationHeld(setup.slot, success));
        if (!success) slot.inUse = false;
        return;
      case SetupKind::kConference:
        if (!success) {
          line.model.OnConferenceFailed(setup.slot);
          slot.inUse = false;
        }
        return;
      default:
        CtiConferenceStepCompletedLocked(setup, success);
        return;
    }
  }
}

LONG CtiSetupTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConsultCall,
                      LPHDRVCALL lphdConsultCall) {
  constexpr const char* kEntry = "TSPI_lineSetupTransfer";
  Target t;
  if (LONG rc = Check(kEntry, requestId, hdCall, LINECALLFEATURE_SETUPTRANSFER, t)) return rc;
  {
    std::lock_guard lock(callTableLock);
    const CallRef held = KnownCallLocked(hdCall);
    const int consult =
        held && lphdConsultCall != nullptr ? ClaimTapiCallLocked(*held.line, htConsultCall) : -1;
    if (consult < 0) {
      // Refused at once: the request is not TAPI's to wait for.
      RequestFinishedLocked(requestId);
      if (lphdConsultCall == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
      if (!held) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
      writeLog(3, std::string(kEntry) + ": no free call slot for the consultation call");
      return static_cast<LONG>(LINEERR_CALLUNAVAIL);
    }
    CtiLine& line = *held.line;
    line.model.OnConsultationSetUp(held.index, consult);
    setups.push_back(
        {&line, requestId, consult, line.model.Call(consult).generation, SetupKind::kConsultation});
    *lphdConsultCall = line.Handle(consult);
    writeLog(4,
             "CTI: consultation for call " + t.callId + " in slot " + std::to_string(consult) + OnLine(line));
  }
  return Submit(RequestKind::kConsultationHold, requestId, HoldCallXml(t.callId, t.deviceId));
}

LONG CtiDial(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination) {
  constexpr const char* kEntry = "TSPI_lineDial";
  ProviderEntryTrace(kEntry);
  const std::string number = DialledDigits(destination);
  const ProviderSettings settings = SettingsSnapshot();
  std::string deskCallId, deskDevice, callingDevice;
  {
    std::lock_guard lock(callTableLock);
    const CallRef ref = KnownCallLocked(hdCall);
    if (!ref) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const CtiCall& c = ref.call();
    if ((ReportedCallFeatures(c) & LINECALLFEATURE_DIAL) == 0) return RefuseInState(kEntry, c);
    if (number.empty()) return static_cast<LONG>(LINEERR_INVALADDRESS);
    if (!c.consultation) {
      // The desk phone has dial tone: the PBX extends its call.
      RequestOpenedLocked(ref.slot(), requestId);
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
    const CallRef ref = KnownCallLocked(hdCall);
    if (!ref || !ref.call().consultation) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    callingDevice = CtiDevice(*ref.line);
    CallSlot& slot = ref.slot();
    slot.deviceId = callingDevice;
    slot.callId.clear();
    slot.makeCallRequestId = requestId;
    slot.makeCallPending = true;
    RequestOpenedLocked(slot, requestId);
    if (ref.line->Listed()) NoteListedMakeCallLocked(requestId, &slot);
    ref.line->model.OnConsultationDialled(ref.index);
    writeLog(5, std::string(kEntry) + " to " + number + " in slot " + std::to_string(ref.index) +
                    OnLine(*ref.line));
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
    CallRef first, second;
    if (!CallPairLocked(hdCall, hdConsultCall, first, second))
      return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    CtiLine& line = *first.line;
    const CtiCall& a = first.call();
    const CtiCall& b = second.call();
    if ((ReportedCallFeatures(a) & LINECALLFEATURE_COMPLETETRANSF) == 0) return RefuseInState(kEntry, a);
    if ((ReportedCallFeatures(b) & LINECALLFEATURE_COMPLETETRANSF) == 0 || a.partner != second.index)
      return RefuseInState(kEntry, b);
    // After a swap either handle may be the one on hold.
    const bool firstHeld = a.state == LINECALLSTATE_ONHOLDPENDTRANSFER;
    const int held = firstHeld ? first.index : second.index;
    const int active = firstHeld ? second.index : first.index;
    if (line.model.Call(held).state != LINECALLSTATE_ONHOLDPENDTRANSFER) return RefuseInState(kEntry, b);
    heldId = line.model.Call(held).callId;
    activeId = line.model.Call(active).callId;
    deviceId = line.model.Call(held).ourDeviceId;
    RequestOpenedLocked(line.Slot(held), requestId);
    if (conference) {
      const int conf = ClaimTapiCallLocked(line, htConfCall);
      if (conf < 0) {
        RequestFinishedLocked(requestId);
        writeLog(3, std::string(kEntry) + ": no free call slot for the conference call");
        return static_cast<LONG>(LINEERR_CALLUNAVAIL);
      }
      line.model.OnConferenceSetUp(conf, held, active);
      setups.push_back({&line, requestId, conf, line.model.Call(conf).generation, SetupKind::kConference});
      *lphdConfCall = line.Handle(conf);
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
    CallRef active, held;
    if (!CallPairLocked(hdActiveCall, hdHeldCall, active, held))
      return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const CtiCall& a = active.call();
    const CtiCall& h = held.call();
    if (a.state != LINECALLSTATE_CONNECTED || (ReportedCallFeatures(a) & LINECALLFEATURE_SWAPHOLD) == 0)
      return RefuseInState(kEntry, a);
    if (h.state != LINECALLSTATE_ONHOLDPENDTRANSFER || a.partner != held.index)
      return RefuseInState(kEntry, h);
    heldId = h.callId;
    activeId = a.callId;
    deviceId = a.ourDeviceId;
    RequestOpenedLocked(active.slot(), requestId);
  }
  return Submit(RequestKind::kAlternateCall, requestId, AlternateCallXml(heldId, activeId, deviceId));
}

CtiCallCounts CtiCountCalls(HDRVLINE hdLine) {
  std::lock_guard lock(callTableLock);
  int position = -1;
  if (LinesListed()) {
    const ListedLine* named = ListedLineFromHandle(hdLine);
    if (named == nullptr) return {};
    position = static_cast<int>(named->position);
  }
  CtiLine* line = FindCtiLineLocked(position);
  return line != nullptr ? CountCallsLocked(*line) : CtiCallCounts{};
}

bool CtiInService(HDRVLINE hdLine) {
  std::lock_guard lock(callTableLock);
  if (!LinesListed()) return linkUp;
  const ListedLine* named = ListedLineFromHandle(hdLine);
  return named != nullptr && named->inService;
}

void CtiSetStatusMessages(HDRVLINE hdLine, DWORD lineStates, DWORD addressStates) {
  std::lock_guard lock(callTableLock);
  LineRecord* record = &lineRecord;
  if (LinesListed()) record = ListedLineFromHandle(hdLine);
  if (record == nullptr) return;
  record->statusMessages = lineStates;
  record->addressStatusMessages = addressStates;
}

LONG CtiPickup(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
               LPCWSTR destination, LPCWSTR groupId) {
  constexpr const char* kEntry = "TSPI_linePickup";
  ProviderEntryTrace(kEntry);
  const std::string ringing = DialledDigits(destination);
  const std::string group = DialledDigits(groupId);
  if (ringing.empty() && group.empty()) return static_cast<LONG>(LINEERR_INVALADDRESS);
  if (lphdCall == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  std::string ours;
  {
    std::lock_guard lock(callTableLock);
    CtiLine* line = CtiLineOfHandleLocked(hdLine);
    if (line == nullptr) return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    ours = CtiDevice(*line);
    const int index = ClaimTapiCallLocked(*line, htCall);
    if (index < 0) {
      writeLog(3, std::string(kEntry) + ": no free call slot for the picked-up call");
      return static_cast<LONG>(LINEERR_CALLUNAVAIL);
    }
    CallSlot& slot = line->Slot(index);
    slot.deviceId = ours;
    slot.makeCallRequestId = requestId;
    slot.makeCallPending = true;
    RequestOpenedLocked(slot, requestId);
    if (line->Listed()) NoteListedMakeCallLocked(requestId, &slot);
    // Named by the pickup's answer and completed like a MakeCall.
    line->model.OnPickupPlaced(index);
    *lphdCall = line->Handle(index);
    writeLog(5, std::string(kEntry) + (ringing.empty() ? " group " + group : " from " + ringing) +
                    " in slot " + std::to_string(index) + OnLine(*line));
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
    const CallRef ref = KnownCallLocked(hdCall);
    if (!ref) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    const CtiCall& c = ref.call();
    if (digits != nullptr) {
      if (digitMode != LINEDIGITMODE_DTMF) return static_cast<LONG>(LINEERR_INVALDIGITMODE);
      if (c.state != LINECALLSTATE_CONNECTED || c.callId.empty()) return RefuseInState(kEntry, c);
      if (text.empty()) return static_cast<LONG>(LINEERR_INVALPARAM);
    }
    // A new request, or none (null digits), ends the one in progress.
    for (DigitGeneration& g : digitGenerations) {
      if (g.line == ref.line && g.slot == ref.index) EndGenerationLocked(g, LINEGENERATETERM_CANCEL);
    }
    if (digits == nullptr) return 0;
    part = nextDigitPart;
    nextDigitPart = nextDigitPart >= 0x7EFFFFF0 ? 0x7E000000 : nextDigitPart + 1;
    digitGenerations.push_back({ref.line, part, ref.index, c.generation, endToEndId, false});
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
