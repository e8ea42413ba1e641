#include "provider/call_table.h"

namespace qv {

std::array<CallSlot, kCallTableSize> callTable;
std::int32_t callsMade = 0;
std::mutex callTableLock;

CallSlot* SlotFromHandle(HDRVCALL hdCall) {
  auto address = reinterpret_cast<std::uintptr_t>(hdCall);
  for (CallSlot& slot : callTable) {
    if (reinterpret_cast<std::uintptr_t>(&slot) == address) return &slot;
  }
  return nullptr;
}

CallSlot* SlotOfPendingMakeCallLocked(DRV_REQUESTID requestId) {
  for (CallSlot& slot : callTable) {
    if (slot.makeCallPending && slot.makeCallRequestId == requestId) return &slot;
  }
  return nullptr;
}

}  // namespace qv
