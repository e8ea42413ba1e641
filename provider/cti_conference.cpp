// Conferences built step by step: TSPI_lineSetupConference holds the first
// call and gives TAPI a conference call and a consultation call with dial
// tone; TSPI_lineAddToConference joins the consultation (ConferenceCall);
// TSPI_linePrepareAddToConference holds the conference for the next party;
// TSPI_lineRemoveFromConference clears one party's connection.
#include <mutex>
#include <string>

#include "provider/call_table.h"
#include "provider/capability_answers.h"
#include "provider/closing_requests.h"
#include "provider/cti_call_info.h"
#include "provider/cti_line.h"
#include "provider/cti_requests.h"
#include "provider/entry_trace.h"
#include "session/csta_call_control.h"
#include "session/csta_requests.h"
#include "session/log.h"

namespace qv {

namespace {

// Parties of the conference besides us.
int PartiesLocked(const CallModel& model, int conference) {
  int n = 0;
  for (int i = 0; i < kCallTableSize; ++i) {
    const CtiCall& c = model.Call(i);
    n += c.used && c.conference == conference && c.state != LINECALLSTATE_IDLE ? 1 : 0;
  }
  return n;
}

// The consultation call TAPI created: its slot, claimed on the line of the
// call it belongs to; -1 with the reason logged.
int ClaimConsultationLocked(const char* entry, CtiLine& line, HTAPICALL htCall) {
  const int index = ClaimTapiCallLocked(line, htCall);
  if (index < 0) writeLog(3, std::string(entry) + ": no free call slot for the new call");
  return index;
}

}  // namespace

LONG CtiSetupConference(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConfCall,
                        LPHDRVCALL lphdConfCall, HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall,
                        DWORD numParties) {
  constexpr const char* kEntry = "TSPI_lineSetupConference";
  if (lphdConfCall == nullptr || lphdConsultCall == nullptr)
    return RefuseAtEntry(kEntry, static_cast<LONG>(LINEERR_INVALPOINTER));
  if (numParties > kCtiMaxConference) return RefuseAtEntry(kEntry, static_cast<LONG>(LINEERR_CONFERENCEFULL));
  // A conference starts from a call: hdCall null (SETUPCONFNULL) is not offered.
  Target t;
  if (LONG rc = Check(kEntry, requestId, hdCall, LINECALLFEATURE_SETUPCONF, t)) return rc;
  {
    std::lock_guard lock(callTableLock);
    const CallRef first = KnownCallLocked(hdCall);
    if (!first) {
      RequestFinishedLocked(requestId);
      return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    }
    CtiLine& line = *first.line;
    const int conf = ClaimConsultationLocked(kEntry, line, htConfCall);
    const int consult = conf >= 0 ? ClaimConsultationLocked(kEntry, line, htConsultCall) : -1;
    if (consult < 0) {
      if (conf >= 0) line.Slot(conf).inUse = false;
      RequestFinishedLocked(requestId);
      return static_cast<LONG>(LINEERR_CALLUNAVAIL);
    }
    line.model.OnConferenceSetupStarted(conf, first.index, consult);
    NoteCallSetupLocked(
        {&line, requestId, consult, line.model.Call(consult).generation, SetupKind::kConferenceSetup});
    *lphdConfCall = line.Handle(conf);
    *lphdConsultCall = line.Handle(consult);
    writeLog(4, "CTI: conference from call " + t.callId + " in slot " + std::to_string(conf) +
                    ", consultation in slot " + std::to_string(consult) + OnLine(line));
  }
  return Submit(RequestKind::kConferenceHold, requestId, HoldCallXml(t.callId, t.deviceId));
}

LONG CtiPrepareAddToConference(DRV_REQUESTID requestId, HDRVCALL hdConfCall, HTAPICALL htConsultCall,
                               LPHDRVCALL lphdConsultCall) {
  constexpr const char* kEntry = "TSPI_linePrepareAddToConference";
  if (lphdConsultCall == nullptr) return RefuseAtEntry(kEntry, static_cast<LONG>(LINEERR_INVALPOINTER));
  Target t;
  if (LONG rc = Check(kEntry, requestId, hdConfCall, LINECALLFEATURE_PREPAREADDCONF, t)) return rc;
  {
    std::lock_guard lock(callTableLock);
    const CallRef conf = KnownCallLocked(hdConfCall);
    LONG refusal = 0;
    if (!conf) {
      refusal = static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    } else if (PartiesLocked(conf.line->model, conf.index) + 1 >= static_cast<int>(kCtiMaxConference)) {
      writeLog(
          3, std::string(kEntry) + ": the conference has " + std::to_string(kCtiMaxConference) + " parties");
      refusal = static_cast<LONG>(LINEERR_CONFERENCEFULL);
    }
    const int consult = refusal == 0 ? ClaimConsultationLocked(kEntry, *conf.line, htConsultCall) : -1;
    if (refusal == 0 && consult < 0) refusal = static_cast<LONG>(LINEERR_CALLUNAVAIL);
    if (refusal != 0) {
      RequestFinishedLocked(requestId);
      return refusal;
    }
    CtiLine& line = *conf.line;
    line.model.OnConferencePrepared(conf.index, consult);
    NoteCallSetupLocked(
        {&line, requestId, consult, line.model.Call(consult).generation, SetupKind::kConferencePrepare});
    *lphdConsultCall = line.Handle(consult);
  }
  return Submit(RequestKind::kPrepareConferenceHold, requestId, HoldCallXml(t.callId, t.deviceId));
}

LONG CtiAddToConference(DRV_REQUESTID requestId, HDRVCALL hdConfCall, HDRVCALL hdConsultCall) {
  constexpr const char* kEntry = "TSPI_lineAddToConference";
  ProviderEntryTrace(kEntry);
  std::string heldId, activeId, deviceId;
  {
    std::lock_guard lock(callTableLock);
    CallRef conf, consult;
    if (!CallPairLocked(hdConfCall, hdConsultCall, conf, consult) || !conf.call().isConference)
      return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    CtiLine& line = *conf.line;
    const CtiCall& added = consult.call();
    if (added.joining != conf.index) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    if ((ReportedCallFeatures(added) & LINECALLFEATURE_ADDTOCONF) == 0 || added.conference >= 0)
      return RefuseInState(kEntry, added);
    // The call on hold at the PBX: the conference, or the first call of one
    // being set up.
    heldId = conf.call().callId;
    for (int i = 0; i < kCallTableSize && heldId.empty(); ++i) {
      const CtiCall& c = line.model.Call(i);
      if (c.used && c.conference == conf.index) heldId = c.callId;
    }
    if (heldId.empty()) return RefuseInState(kEntry, conf.call());
    activeId = added.callId;
    deviceId = added.ourDeviceId;
    RequestOpenedLocked(consult.slot(), requestId);
    line.model.OnAddToConference(consult.index);
    NoteCallSetupLocked({&line, requestId, consult.index, added.generation, SetupKind::kConferenceAdd});
  }
  return Submit(RequestKind::kAddToConference, requestId, ConferenceCallXml(heldId, activeId, deviceId));
}

LONG CtiRemoveFromConference(DRV_REQUESTID requestId, HDRVCALL hdCall) {
  constexpr const char* kEntry = "TSPI_lineRemoveFromConference";
  Target t;
  if (LONG rc = Check(kEntry, requestId, hdCall, LINECALLFEATURE_REMOVEFROMCONF, t)) return rc;
  {
    std::lock_guard lock(callTableLock);
    const CallRef party = KnownCallLocked(hdCall);
    if (!party || party.call().conference < 0) {
      RequestFinishedLocked(requestId);
      return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    }
    const CtiCall& c = party.call();
    const CallParty& who = c.connected.Present() ? c.connected : c.outgoing ? c.called : c.caller;
    // The party's connection in the conference's call.
    t.callId = party.line->model.Call(c.conference).callId;
    t.deviceId = who.deviceId;
    party.line->model.OnPartyRemoving(party.index);
    NoteCallSetupLocked({party.line, requestId, party.index, c.generation, SetupKind::kConferenceRemove});
  }
  return Submit(RequestKind::kRemoveFromConference, requestId, ClearConnectionXml(t.callId, t.deviceId));
}

void CtiConferenceStepCompletedLocked(const CallSetup& setup, bool success) {
  CtiLine& line = *setup.line;
  CallModel& model = line.model;
  switch (setup.kind) {
    case SetupKind::kConferenceSetup:
    case SetupKind::kConferencePrepare: {
      const int conf = model.Call(setup.slot).joining;
      const bool created = conf >= 0 && model.Call(conf).callId.empty();
      QueueLocked(line, model.OnConferenceHeld(setup.slot, success));
      if (success) return;
      line.Slot(setup.slot).inUse = false;
      if (created) line.Slot(conf).inUse = false;
      return;
    }
    case SetupKind::kConferenceAdd:
      if (!success) model.OnAddToConferenceFailed(setup.slot);
      return;
    case SetupKind::kConferenceRemove:
      if (success)
        QueueLocked(line, model.OnPartyRemoved(setup.slot));
      else
        model.Call(setup.slot).removing = false;
      return;
    default:
      return;
  }
}

}  // namespace qv
