#include "provider/call_table.h"

#include <utility>
#include <vector>

#include "provider/provider_state.h"
#include "session/log.h"

namespace qv {

std::array<CallSlot, kCallTableSize> callTable;
std::int32_t callsMade = 0;
std::mutex callTableLock;

namespace {

struct Completion {
  DRV_REQUESTID requestId;
  LONG result;
};

// Guarded by callTableLock.
std::vector<Completion> completionQueue;
bool completionsOpen = false;

}  // namespace

CallSlot* SlotFromHandle(HDRVCALL hdCall) {
  auto address = reinterpret_cast<std::uintptr_t>(hdCall);
  for (CallSlot& slot : callTable) {
    if (reinterpret_cast<std::uintptr_t>(&slot) == address) return &slot;
  }
  return nullptr;
}

void QueueCompletionLocked(CallSlot& slot, LONG result) {
  if (!slot.completionPending) return;
  slot.completionPending = false;
  completionQueue.push_back({slot.requestId, result});
}

void SetCallIdentity(std::uint32_t invokeId, const std::string& callId, const std::string& deviceId) {
  std::lock_guard lock(callTableLock);
  for (CallSlot& slot : callTable) {
    if (slot.invokeId != invokeId) continue;
    slot.callId = callId;
    slot.deviceId = deviceId;
    QueueCompletionLocked(slot, 0);
  }
}

void RejectMakeCall(std::uint32_t invokeId) {
  std::lock_guard lock(callTableLock);
  for (CallSlot& slot : callTable) {
    if (slot.invokeId == invokeId) QueueCompletionLocked(slot, static_cast<LONG>(LINEERR_OPERATIONFAILED));
  }
}

void FailPendingMakeCalls() {
  std::lock_guard lock(callTableLock);
  for (CallSlot& slot : callTable) QueueCompletionLocked(slot, static_cast<LONG>(LINEERR_OPERATIONFAILED));
}

void ExpirePendingMakeCalls(std::chrono::steady_clock::time_point now) {
  std::lock_guard lock(callTableLock);
  for (CallSlot& slot : callTable) {
    if (slot.completionPending && slot.completionDeadline <= now) {
      writeLog(1, "TSPI_lineMakeCall: no answer from the PBX for request " + std::to_string(slot.invokeId));
      QueueCompletionLocked(slot, static_cast<LONG>(LINEERR_OPERATIONFAILED));
    }
  }
}

std::optional<std::chrono::steady_clock::time_point> NextMakeCallDeadline() {
  std::lock_guard lock(callTableLock);
  std::optional<std::chrono::steady_clock::time_point> next;
  for (const CallSlot& slot : callTable) {
    if (slot.completionPending && (!next || slot.completionDeadline < *next)) next = slot.completionDeadline;
  }
  return next;
}

void DeliverCompletions() {
  std::vector<Completion> batch;
  ASYNC_COMPLETION proc = nullptr;
  {
    std::lock_guard lock(callTableLock);
    if (completionQueue.empty()) return;
    batch.swap(completionQueue);
    if (completionsOpen) proc = providerState.completionProc;
  }
  if (proc == nullptr) return;
  for (const Completion& c : batch) proc(c.requestId, c.result);
}

void OpenCompletions() {
  std::lock_guard lock(callTableLock);
  completionsOpen = true;
}

void CloseCompletions() {
  std::lock_guard lock(callTableLock);
  completionsOpen = false;
  completionQueue.clear();
}

}  // namespace qv
