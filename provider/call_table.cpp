#include "provider/call_table.h"

#include "provider/line_set.h"

namespace qv {

std::array<CallSlot, kCallTableSize> callTable;
std::int32_t callsMade = 0;
std::mutex callTableLock;

CallSlot* SlotFromHandle(HDRVCALL hdCall) {
  auto address = reinterpret_cast<std::uintptr_t>(hdCall);
  for (CallSlot& slot : callTable) {
    if (reinterpret_cast<std::uintptr_t>(&slot) == address) return &slot;
  }
  // A listed line's slot is known by its address, without a scan.
  if (ListedLine* line = ListedLineOfSlot(reinterpret_cast<const CallSlot*>(address)))
    return &line->slots[(address - reinterpret_cast<std::uintptr_t>(line->slots.data())) / sizeof(CallSlot)];
  return nullptr;
}

CallSlot* SlotOfPendingMakeCallLocked(DRV_REQUESTID requestId) {
  if (CallSlot* listed = ListedMakeCallLocked(requestId)) return listed;
  for (CallSlot& slot : callTable) {
    if (slot.makeCallPending && slot.makeCallRequestId == requestId) return &slot;
  }
  return nullptr;
}

}  // namespace qv
