#pragma once
// What the call-control entry points share (cti_line.cpp, cti_conference.cpp):
// finding TAPI's call, checking its state, queuing the request and the
// messages the model produced. Everything named *Locked wants callTableLock.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/call_model.h"
#include "provider/cti_line_state.h"
#include "session/pbx_requests.h"

namespace qv {

// A call TAPI knows: its line and its slot there.
struct CallRef {
  CtiLine* line = nullptr;
  int index = -1;
  explicit operator bool() const { return line != nullptr; }
  CtiCall& call() const { return line->model.Call(index); }
  CallSlot& slot() const { return line->Slot(index); }
};
CallRef KnownCallLocked(HDRVCALL hdCall);
// Two different calls TAPI knows, of one line (else LINEERR_INVALCALLHANDLE).
bool CallPairLocked(HDRVCALL first, HDRVCALL second, CallRef& a, CallRef& b);

struct Target {
  std::string callId;
  std::string deviceId;
};

// Checks the call and its state under the lock (the request is then open
// on the call); the request itself is submitted after, with no lock held.
LONG Check(const char* entry, DRV_REQUESTID requestId, HDRVCALL hdCall, DWORD feature, Target& target);
LONG Submit(RequestKind kind, DRV_REQUESTID requestId, std::string xml);
// Claims a slot for a call TAPI created itself (consultation, conference).
int ClaimTapiCallLocked(CtiLine& line, HTAPICALL htCall);
LONG RefuseInState(const char* entry, const CtiCall& c);
// Refused before any call is looked at: traced, nothing sent.
LONG RefuseAtEntry(const char* entry, LONG error);
// Queues the model's messages for the delivery thread.
void QueueLocked(CtiLine& line, const std::vector<CtiMessage>& messages);

// A request whose outcome decides the fate of a call TAPI created for it,
// or of a call it acts on.
enum class SetupKind : std::uint8_t {
  kConsultation,       // TSPI_lineSetupTransfer's HoldCall
  kConference,         // TSPI_lineCompleteTransfer's ConferenceCall
  kConferenceSetup,    // TSPI_lineSetupConference's HoldCall
  kConferencePrepare,  // TSPI_linePrepareAddToConference's HoldCall
  kConferenceAdd,      // TSPI_lineAddToConference's ConferenceCall
  kConferenceRemove,   // TSPI_lineRemoveFromConference's ClearConnection
};
struct CallSetup {
  CtiLine* line = nullptr;
  DRV_REQUESTID requestId = 0;
  int slot = -1;
  std::uint32_t generation = 0;  // the call's, unless closed meanwhile
  SetupKind kind = SetupKind::kConsultation;
};
void NoteCallSetupLocked(const CallSetup& setup);
// The answer to a conference step (cti_conference.cpp).
void CtiConferenceStepCompletedLocked(const CallSetup& setup, bool success);

}  // namespace qv
