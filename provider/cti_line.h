#pragma once
// The call-control line (registry value `callevents` = 1): the call model
// fed by the session's events, its messages handed to TAPI through the
// delivery queue, and the TAPI requests that act on its calls. With the
// value 0 none of this runs and the line answers as it always has.
//
// Lock order: the model lives under callTableLock (after sessionLock, before
// the delivery queue's leaf lock). TAPI is only called from the delivery
// thread with no lock held; requests are submitted with no lock held.
#include <string>
#include <vector>

#include "platform/tapi.h"
#include "session/call_event.h"
#include "provider/cti_line_state.h"
#include "provider/forward_list.h"
#include "session/device_snapshot.h"
#include "session/forwarding.h"
#include "session/session_events.h"
#include "session/settings.h"

namespace qv {

// TSPI_providerInit (before the session starts) and TSPI_providerShutdown
// (after it stopped).
void StartCtiLine(const ProviderSettings& settings);
void StopCtiLine();

// From the session's sink, on the session's threads.
void CtiCallEventReceived(const CallEvent& event);
void CtiLinkStateChanged(bool up);
// The answer to the SnapshotDevice sent after a reconnection, for a listed
// line's position (-1: the single line).
void CtiDeviceSnapshot(int position, bool answered, bool linkLost, const std::vector<SnapshotCall>& calls);
// A listed line's monitor started (after each login): it reads its
// forwarding if open, and its snapshot if it kept calls across a loss.
void CtiLineMonitorChanged(int position, bool running);
// TSPI_lineOpen of a listed line (no lock held).
void CtiLineOpened(HDRVLINE hdLine);
// A listed line was removed while running: its calls are forgotten.
void CtiLineRemovedLocked(int position);
// The MakeCall in `slot` was named by the PBX (callTableLock held by the caller).
void CtiCallIdentifiedLocked(CallSlot* slot, const std::string& callId, const std::string& deviceId);
// A request's completion was queued (callTableLock held).
void CtiRequestCompletedLocked(std::uint32_t requestId, bool success);
// The MakeCall's completion was queued (callTableLock not held).
void CtiMakeCallCompleted(CallSlot* slot, bool success);

// From TSPI_lineMakeCall with callTableLock held: the slot is a call TAPI places.
void CtiCallPlacedLocked(CallSlot* slot);

// The entry points of the call-control line.
LONG CtiAnswer(DRV_REQUESTID requestId, HDRVCALL hdCall);
LONG CtiDrop(DRV_REQUESTID requestId, HDRVCALL hdCall);
LONG CtiHold(DRV_REQUESTID requestId, HDRVCALL hdCall);
LONG CtiUnhold(DRV_REQUESTID requestId, HDRVCALL hdCall);
LONG CtiBlindTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination);
LONG CtiRedirect(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination);
LONG CtiCloseCall(HDRVCALL hdCall);
LONG CtiSetupTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConsultCall,
                      LPHDRVCALL lphdConsultCall);
LONG CtiDial(DRV_REQUESTID requestId, HDRVCALL hdCall, LPCWSTR destination);
LONG CtiCompleteTransfer(DRV_REQUESTID requestId, HDRVCALL hdCall, HDRVCALL hdConsultCall,
                         HTAPICALL htConfCall, LPHDRVCALL lphdConfCall, DWORD transferMode);
// Conferences (cti_conference.cpp).
LONG CtiSetupConference(DRV_REQUESTID requestId, HDRVCALL hdCall, HTAPICALL htConfCall,
                        LPHDRVCALL lphdConfCall, HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall,
                        DWORD numParties);
LONG CtiPrepareAddToConference(DRV_REQUESTID requestId, HDRVCALL hdConfCall, HTAPICALL htConsultCall,
                               LPHDRVCALL lphdConsultCall);
LONG CtiAddToConference(DRV_REQUESTID requestId, HDRVCALL hdConfCall, HDRVCALL hdConsultCall);
LONG CtiRemoveFromConference(DRV_REQUESTID requestId, HDRVCALL hdCall);
// TSPI_linePickup: the call TAPI created (htCall) is the one picked up.
LONG CtiPickup(DRV_REQUESTID requestId, HDRVLINE hdLine, HTAPICALL htCall, LPHDRVCALL lphdCall,
               LPCWSTR destination, LPCWSTR groupId);
// TSPI_lineGenerateDigits (synchronous: 0 once GenerateDigits is queued);
// null digits cancel the generation in progress.
LONG CtiGenerateDigits(HDRVCALL hdCall, DWORD endToEndId, DWORD digitMode, LPCWSTR digits);
// The answer to a GenerateDigits: LINE_GENERATE DONE or CANCEL; false when
// the request id is not one of those.
bool CtiDigitsPartCompleted(DRV_REQUESTID requestId, bool success);
LONG CtiSwapHold(DRV_REQUESTID requestId, HDRVCALL hdActiveCall, HDRVCALL hdHeldCall);
// TSPI_lineUnhold of a call held beside a consultation or a call to add
// (cti_reconnect.cpp): the other call is dropped as the held one comes
// back; false (nothing done) for any other call.
bool CtiReconnect(DRV_REQUESTID requestId, HDRVCALL hdCall, LONG& result);
// An answer to one of its requests; false when the request id is not one of those.
bool CtiReconnectPartCompleted(DRV_REQUESTID requestId, RequestOutcome outcome);
// A new connection may offer ReconnectCall again; a provider start also
// forgets the requests (callTableLock held).
void CtiReconnectionsResetLocked(bool connectionOnly);
// Every request's outcome (callTableLock held): the calls TAPI created for a
// consultation or a conference live or go with it.
void CtiSetupCompletedLocked(DRV_REQUESTID requestId, bool success);
LONG CtiGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS status);
LONG CtiGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO info);

// The line's calls by kind, for LINEDEVSTATUS and LINEADDRESSSTATUS.
CtiCallCounts CtiCountCalls(HDRVLINE hdLine);
// Logged in and monitoring (a listed line: its monitor runs).
bool CtiInService(HDRVLINE hdLine);
// LINE_LINEDEVSTATE (INSERVICE, OUTOFSERVICE, NUMCALLS) and LINE_ADDRESSSTATE
// (NUMCALLS, FORWARD) are sent for the states asked for here.
void CtiSetStatusMessages(HDRVLINE hdLine, DWORD lineStates, DWORD addressStates);

// Forwarding and do-not-disturb (cti_forwarding.cpp).
LONG CtiForward(DRV_REQUESTID requestId, HDRVLINE hdLine, const LINEFORWARDLIST* list,
                LPHDRVCALL lphdConsultCall);
// The line's state as last reported or accepted.
ForwardState CtiForwardState(HDRVLINE hdLine);
void CtiResetForwardingLocked();  // provider start, callTableLock held
// GetForwarding and GetDoNotDisturb of the line's device, after each login.
void CtiReadForwarding(const CtiLine& line);
void CtiForwardingReported(const ForwardingReport& report);
// A SetForwarding or SetDoNotDisturb of a TSPI_lineForward was answered;
// false when the request id is not one of those.
bool CtiForwardPartCompleted(DRV_REQUESTID requestId, bool success);
// TSPI_lineClose: the line's TSPI_lineForward requests still under way, for
// the closer to complete (callTableLock held).
std::vector<DRV_REQUESTID> CtiCloseForwardsLocked(HDRVLINE hdLine);
// LINE_ADDRESSSTATE for address 0, if TAPI asked for it (callTableLock held).
void CtiQueueAddressStateLocked(CtiLine& line, DWORD state);

// Keeps the units "0"-"9", "*" and "#" of a TAPI address.
std::string DialledDigits(LPCWSTR destination);

}  // namespace qv
