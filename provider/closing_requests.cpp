#include "provider/closing_requests.h"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "provider/line_set.h"
#include "provider/tapi_delivery.h"
#include "session/log.h"

namespace qv {

namespace {

// Completed at a close; the session's outcome is still to come. Guarded by
// callTableLock.
std::vector<DRV_REQUESTID> completedAtClose;
// Open requests of the listed lines' calls, found without a scan.
std::unordered_map<DRV_REQUESTID, CallSlot*> listedOpen;

bool Take(std::vector<DRV_REQUESTID>& list, DRV_REQUESTID requestId) {
  auto it = std::find(list.begin(), list.end(), requestId);
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}

}  // namespace

void RequestOpenedLocked(CallSlot& slot, DRV_REQUESTID requestId) {
  slot.openRequests.push_back(requestId);
  if (ListedLineOfSlot(&slot) != nullptr) listedOpen[requestId] = &slot;
}

bool RequestFinishedLocked(DRV_REQUESTID requestId) {
  if (Take(completedAtClose, requestId)) return false;
  if (auto listed = listedOpen.find(requestId); listed != listedOpen.end()) {
    Take(listed->second->openRequests, requestId);
    listedOpen.erase(listed);
    return true;
  }
  for (CallSlot& slot : callTable) {
    if (Take(slot.openRequests, requestId)) return true;
  }
  return true;
}

std::vector<DRV_REQUESTID> CloseRequestsLocked(CallSlot& slot) {
  std::vector<DRV_REQUESTID> closed;
  closed.swap(slot.openRequests);
  for (DRV_REQUESTID id : closed) listedOpen.erase(id);
  completedAtClose.insert(completedAtClose.end(), closed.begin(), closed.end());
  return closed;
}

void ResetRequestRecordsLocked() {
  completedAtClose.clear();
  for (CallSlot& slot : callTable) slot.openRequests.clear();
  // A listed line's slots start empty with each new set of lines.
  listedOpen.clear();
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
