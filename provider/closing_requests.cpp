#include "provider/closing_requests.h"

#include <algorithm>
#include <string>

#include "provider/tapi_delivery.h"
#include "session/log.h"

namespace qv {

namespace {

// Completed at a close; the session's outcome is still to come. Guarded by
// callTableLock.
std::vector<DRV_REQUESTID> completedAtClose;

bool Take(std::vector<DRV_REQUESTID>& list, DRV_REQUESTID requestId) {
  auto it = std::find(list.begin(), list.end(), requestId);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace

void RequestOpenedLocked(CallSlot& slot, DRV_REQUESTID requestId) { slot.openRequests.push_back(requestId); }

bool RequestFinishedLocked(DRV_REQUESTID requestId) {
  if (Take(completedAtClose, requestId)) return false;
  for (CallSlot& slot : callTable) {
    if (Take(slot.openRequests, requestId)) return true;
  }
  return true;
}

std::vector<DRV_REQUESTID> CloseRequestsLocked(CallSlot& slot) {
  std::vector<DRV_REQUESTID> closed;
  closed.swap(slot.openRequests);
  completedAtClose.insert(completedAtClose.end(), closed.begin(), closed.end());
  return closed;
}

void ResetRequestRecordsLocked() {
  completedAtClose.clear();
  for (CallSlot& slot : callTable) slot.openRequests.clear();
}

void CompleteClosedRequests(const std::vector<DRV_REQUESTID>& requests) {
  const LONG failed = static_cast<LONG>(LINEERR_OPERATIONFAILED);
  if (OnDeliveryThread()) {
    // Inside one of our calls into TAPI: next in line, in their order.
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) QueueCompletionFirst(*it, failed);
    return;
  }
  for (DRV_REQUESTID id : requests) QueueCompletion(id, failed);
  // Also what the session completed just before the close.
  if (!WaitUntilDelivered(kCloseDeliveryLimit)) {
    writeLog(1, "TAPI did not take the completions of a closed call within " +
                    std::to_string(kCloseDeliveryLimit.count()) + " ms");
  }
}

}  // namespace qv
