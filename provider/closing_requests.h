#pragma once
// Requests of a call that TAPI is waiting for, so that closing the call
// (TSPI_lineCloseCall) or the line (TSPI_lineClose) can complete them before
// it returns, as TAPI expects: each with LINEERR_OPERATIONFAILED, exactly
// once; the PBX's answer that may still come is then not passed on.
//
// The records live under callTableLock. A request is recorded before it is
// submitted, so its outcome always finds it.
#include <chrono>
#include <vector>

#include "platform/tapi.h"
#include "provider/call_table.h"

namespace qv {

// How long a closing entry point waits for the delivery thread; it only
// waits longer than a moment when TAPI's own procedure blocks.
inline constexpr std::chrono::milliseconds kCloseDeliveryLimit{5000};

// The request belongs to the call in `slot` (callTableLock held).
void RequestOpenedLocked(CallSlot& slot, DRV_REQUESTID requestId);
// The session reported the request's outcome (callTableLock held): false
// when closing already completed it, so TAPI must not hear of it again.
bool RequestFinishedLocked(DRV_REQUESTID requestId);
// The call is closed (callTableLock held): its open requests, now
// completed by the closer.
std::vector<DRV_REQUESTID> CloseRequestsLocked(CallSlot& slot);
// Forgets every record (provider start and shutdown).
void ResetRequestRecordsLocked();

// With no lock held: delivers LINEERR_OPERATIONFAILED for each of them and
// everything queued before, then returns (see tapi_delivery.h for the
// delivery thread itself).
void CompleteClosedRequests(const std::vector<DRV_REQUESTID>& requests);

}  // namespace qv
