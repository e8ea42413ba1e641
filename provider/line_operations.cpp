// Placing and clearing calls on the line, and the per-call queries.
#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/closing_requests.h"
#include "provider/cti_line.h"
#include "provider/cti_mode.h"
#include "provider/entry_trace.h"
#include "provider/line_set.h"
#include "provider/provider_state.h"
#include "session/csta_requests.h"
#include "session/log.h"
#include "session/pbx_requests.h"
#include "session/settings.h"

namespace {

// Keeps only the units "0"-"9", "*" and "#"; everything else a dialler may
// write (blanks, "+", brackets, dialling modifiers) is dropped.
std::string DialledNumber(LPCWSTR destination) {
  std::string number;
  for (const WCHAR* p = destination; *p != 0; ++p) {
    auto unit = static_cast<std::uint16_t>(*p);
    if ((unit >= '0' && unit <= '9') || unit == '*' || unit == '#') number.push_back(static_cast<char>(unit));
  }
  return number;
}

template <typename Slots>
qv::CallSlot* FreeSlotLocked(Slots& slots) {
  for (qv::CallSlot& slot : slots) {
    if (!slot.inUse && !slot.makeCallPending) return &slot;
  }
  return nullptr;
}

}  // namespace

extern "C" LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall,
                                          LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                                          LPLINECALLPARAMS const /*lpCallParams*/) {
  if (lpszDestAddress == nullptr) {
    qv::ProviderEntryTrace("TSPI_lineMakeCall");
    return static_cast<LONG>(LINEERR_INVALADDRESS);
  }
  const std::string number = DialledNumber(lpszDestAddress);
  const qv::ProviderSettings settings = qv::SettingsSnapshot();
  // A listed line calls from its own extension, in its own slots.
  qv::ListedLine* line = nullptr;
  if (qv::LinesListed()) {
    line = qv::ListedLineFromHandle(hdLine);
    if (line == nullptr) {
      qv::ProviderEntryTrace("TSPI_lineMakeCall");
      return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    }
  }
  const std::string callingDevice =
      (line != nullptr ? line->extension : settings.username) + "@" + settings.domain;
  {
    std::lock_guard lock(qv::callTableLock);
    qv::CallSlot* slot = line != nullptr ? FreeSlotLocked(line->slots) : FreeSlotLocked(qv::callTable);
    if (slot == nullptr) {
      qv::writeLog(5, "TSPI_lineMakeCall: No free line available");
      return static_cast<LONG>(LINEERR_CALLUNAVAIL);
    }
    slot->htCall = htCall;
    slot->inUse = true;
    slot->deviceId = callingDevice;
    slot->callId.clear();
    slot->makeCallRequestId = dwRequestID;
    slot->makeCallPending = true;
    slot->openRequests.clear();
    qv::RequestOpenedLocked(*slot, dwRequestID);
    ++qv::callsMade;
    if (line != nullptr) qv::NoteListedMakeCallLocked(dwRequestID, slot);
    if (qv::CtiEnabled()) qv::CtiCallPlacedLocked(slot);
    if (lphdCall != nullptr) *lphdCall = reinterpret_cast<HDRVCALL>(slot);
    qv::writeLog(5, "TSPI_lineMakeCall to " + number + " CountryCode = " + std::to_string(dwCountryCode));
  }
  // Outside the call-table lock: the outcome may be reported on this thread
  // (not sent) or on the worker before SubmitRequest returns, and both take it.
  qv::SubmitRequest(qv::RequestKind::kMakeCall, dwRequestID,
                    qv::MakeCallXml(callingDevice, number, settings.autooriginate ? "doNotPrompt" : ""));
  return static_cast<LONG>(dwRequestID);
}

extern "C" LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR /*lpsUserUserInfo*/,
                                      DWORD /*dwSize*/) {
  if (qv::CtiEnabled()) return qv::CtiDrop(dwRequestID, hdCall);
  qv::ProviderEntryTrace("TSPI_lineDrop");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall) {
  if (qv::CtiEnabled()) return qv::CtiCloseCall(hdCall);
  qv::ProviderEntryTrace("TSPI_lineCloseCall");
  std::string callId;
  std::string deviceId;
  std::vector<DRV_REQUESTID> closed;
  {
    std::lock_guard lock(qv::callTableLock);
    qv::CallSlot* slot = qv::SlotFromHandle(hdCall);
    if (slot == nullptr || !slot->inUse) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
    callId = slot->callId;
    deviceId = slot->deviceId;
    slot->inUse = false;
    closed = qv::CloseRequestsLocked(*slot);
  }
  // Nobody waits for its outcome: TAPI has already forgotten the call.
  qv::SubmitRequest(qv::RequestKind::kClearConnection, 0, qv::ClearConnectionXml(callId, deviceId));
  qv::CompleteClosedRequests(closed);
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo) {
  if (qv::CtiEnabled()) return qv::CtiGetCallInfo(hdCall, lpCallInfo);
  qv::ProviderEntryTrace("TSPI_lineGetCallInfo");
  if (lpCallInfo == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  // The TAPI 2.x fixed part; later members are left as TAPI set them.
  constexpr DWORD kFixedSize = 324;
  lpCallInfo->dwNeededSize = kFixedSize;
  lpCallInfo->dwUsedSize = kFixedSize;
  lpCallInfo->dwLineDeviceID = 0;
  {
    std::lock_guard lock(qv::callTableLock);
    qv::CallSlot* slot = qv::SlotFromHandle(hdCall);
    if (const qv::ListedLine* line = qv::ListedLineOfSlot(slot))
      lpCallInfo->dwLineDeviceID = qv::ListedLineDeviceId(*line);
  }
  lpCallInfo->dwAddressID = 0;
  lpCallInfo->dwBearerMode = LINEBEARERMODE_SPEECH;
  lpCallInfo->dwOrigin = LINECALLORIGIN_INBOUND;
  lpCallInfo->dwReason = LINECALLREASON_DIRECT;
  lpCallInfo->dwCompletionID = 0;
  lpCallInfo->dwCountryCode = 0;
  lpCallInfo->dwTrunk = 0xFFFFFFFF;
  lpCallInfo->dwCallerIDFlags = 0;
  lpCallInfo->dwCallerIDSize = 0;
  lpCallInfo->dwCallerIDOffset = 0;
  lpCallInfo->dwCallerIDNameSize = 0;
  lpCallInfo->dwCallerIDNameOffset = 0;
  lpCallInfo->dwCalledIDFlags = 0;
  lpCallInfo->dwCalledIDSize = 0;
  lpCallInfo->dwCalledIDOffset = 0;
  lpCallInfo->dwCalledIDNameSize = 0;
  lpCallInfo->dwCalledIDNameOffset = 0;
  lpCallInfo->dwConnectedIDFlags = 0;
  lpCallInfo->dwConnectedIDSize = 0;
  lpCallInfo->dwConnectedIDOffset = 0;
  lpCallInfo->dwConnectedIDNameSize = 0;
  lpCallInfo->dwConnectedIDNameOffset = 0;
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus) {
  if (qv::CtiEnabled()) return qv::CtiGetCallStatus(hdCall, lpCallStatus);
  qv::ProviderEntryTrace("TSPI_lineGetCallStatus");
  if (lpCallStatus == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  lpCallStatus->dwNeededSize = 56;
  lpCallStatus->dwUsedSize = 0;
  lpCallStatus->dwCallStateMode = 0;
  lpCallStatus->dwCallPrivilege = 0xD7;
  lpCallStatus->dwCallFeatures = LINECALLFEATURE_ACCEPT;
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL /*hdCall*/, LPDWORD /*lpdwAddressID*/) {
  qv::ProviderEntryTrace("TSPI_lineGetCallAddressID");
  return 0;
}
