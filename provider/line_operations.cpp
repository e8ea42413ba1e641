// Placing and clearing calls on the line, and the per-call queries.
#include <string>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/entry_trace.h"
#include "session/csta_requests.h"
#include "session/log.h"
#include "session/session.h"
#include "session/session_timing.h"
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

qv::CallSlot* FreeSlotLocked() {
  for (qv::CallSlot& slot : qv::callTable) {
    if (!slot.inUse && !slot.completionPending) return &slot;
  }
  return nullptr;
}

}  // namespace

extern "C" LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE /*hdLine*/, HTAPICALL htCall,
                                          LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                                          LPLINECALLPARAMS const /*lpCallParams*/) {
  if (lpszDestAddress == nullptr) {
    qv::ProviderEntryTrace("TSPI_lineMakeCall");
    return static_cast<LONG>(LINEERR_INVALADDRESS);
  }
  const std::string number = DialledNumber(lpszDestAddress);
  const qv::ProviderSettings settings = qv::SettingsSnapshot();
  const auto timeout = qv::CurrentSessionTiming().completionTimeout;
  {
    std::lock_guard lock(qv::callTableLock);
    qv::CallSlot* slot = FreeSlotLocked();
    if (slot == nullptr) {
      qv::writeLog(5, "TSPI_lineMakeCall: No free line available");
      return static_cast<LONG>(LINEERR_CALLUNAVAIL);
    }
    slot->htCall = htCall;
    slot->inUse = 1;
    slot->deviceId = settings.username + "@" + settings.domain;
    slot->callId.clear();
    slot->invokeId = 0;
    slot->requestId = dwRequestID;
    slot->completionPending = true;
    slot->completionDeadline = std::chrono::steady_clock::now() + timeout;
    ++qv::callsMade;
    qv::writeLog(5, "TSPI_lineMakeCall to " + number + " CountryCode = " + std::to_string(dwCountryCode));
    // The slot learns its invoke id before the frame can be answered; the
    // worker's SetCallIdentity waits for this lock.
    qv::SentRequest request =
        qv::SendMakeCall(slot->deviceId, number, settings.autooriginate ? "doNotPrompt" : "",
                         [slot](std::uint32_t invokeId) { slot->invokeId = invokeId; });
    if (!request.sent) qv::QueueCompletionLocked(*slot, static_cast<LONG>(LINEERR_OPERATIONFAILED));
    if (lphdCall != nullptr) *lphdCall = reinterpret_cast<HDRVCALL>(slot);
  }
  qv::DeliverCompletions();
  qv::WakeSessionWorker();  // it watches the answer deadline
  return static_cast<LONG>(dwRequestID);
}

extern "C" LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                      LPCSTR /*lpsUserUserInfo*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_lineDrop");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall) {
  qv::ProviderEntryTrace("TSPI_lineCloseCall");
  std::lock_guard lock(qv::callTableLock);
  qv::CallSlot* slot = qv::SlotFromHandle(hdCall);
  if (slot == nullptr || !slot->inUse) return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  qv::SendClearConnection(slot->callId, slot->deviceId);
  slot->inUse = 0;
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL /*hdCall*/, LPLINECALLINFO lpCallInfo) {
  qv::ProviderEntryTrace("TSPI_lineGetCallInfo");
  if (lpCallInfo == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  // The TAPI 2.x fixed part; later members are left as TAPI set them.
  constexpr DWORD kFixedSize = 324;
  lpCallInfo->dwNeededSize = kFixedSize;
  lpCallInfo->dwUsedSize = kFixedSize;
  lpCallInfo->dwLineDeviceID = 0;
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

extern "C" LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL /*hdCall*/, LPLINECALLSTATUS lpCallStatus) {
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
