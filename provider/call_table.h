#pragma once
// The line's outgoing calls as TAPI sees them: a fixed table of ten slots.
// The HDRVCALL given to TAPI is the address of the call's slot. A slot is
// free again once its call is closed and its MakeCall has been completed.
//
// Lock order: sessionLock -> call-table lock -> log lock. The session's
// event sink takes the call-table lock on the session's threads; TAPI's
// threads never hold it while submitting a request to the session.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tapi.h"

namespace qv {

struct CallSlot {
  bool inUse = false;  // TAPI has the call open
  HTAPICALL htCall = nullptr;
  std::string deviceId;  // calling device, later the one the PBX names
  std::string callId;    // from the PBX's MakeCall response
  // The asynchronous TSPI_lineMakeCall still owes TAPI its completion.
  bool makeCallPending = false;
  DRV_REQUESTID makeCallRequestId = 0;
  // Asynchronous requests of this call whose completion TAPI still waits
  // for (closing_requests.h).
  std::vector<DRV_REQUESTID> openRequests;
};

inline constexpr int kCallTableSize = 10;

// Guarded by callTableLock.
extern std::array<CallSlot, kCallTableSize> callTable;
// Calls handed out since the library was loaded.
extern std::int32_t callsMade;
extern std::mutex callTableLock;

// The slot a driver call handle names, or null for anything else.
CallSlot* SlotFromHandle(HDRVCALL hdCall);
// The slot whose MakeCall with this request id waits for its outcome; callers
// hold callTableLock.
CallSlot* SlotOfPendingMakeCallLocked(DRV_REQUESTID requestId);

}  // namespace qv
