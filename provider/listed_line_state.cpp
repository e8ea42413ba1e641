#include "provider/listed_line_state.h"

#include <mutex>

#include "provider/tapi_delivery.h"

namespace qv {

namespace {

constexpr LONG kStructureTooSmall = static_cast<LONG>(0x8000004D);
constexpr LONG kInvalPointer = static_cast<LONG>(0x80000035);

// On the delivery thread: only a line still open hears of it.
void DeliverLineState(ListedLine* line, DWORD state) {
  LINEEVENT proc = nullptr;
  HTAPILINE htLine = nullptr;
  {
    std::lock_guard lock(callTableLock);
    proc = line->eventProc;
    htLine = line->htLine;
    if ((line->statusMessages & state) == 0) return;
  }
  if (proc != nullptr) proc(htLine, nullptr, LINE_LINEDEVSTATE, state, 0, 0);
}

}  // namespace

void ListedLineMonitorChanged(int position, bool running) {
  if (position < 0) return;
  ListedLine* line = ListedLineAt(static_cast<std::size_t>(position));
  if (line == nullptr) return;
  DWORD state = 0;
  {
    std::lock_guard lock(callTableLock);
    if (line->inService == running) return;
    line->inService = running;
    state = running ? LINEDEVSTATE_INSERVICE : LINEDEVSTATE_OUTOFSERVICE;
    if (line->eventProc == nullptr || (line->statusMessages & state) == 0) return;
  }
  QueueTapiCall([line, state] { DeliverLineState(line, state); });
}

LONG FillListedLineDevStatus(ListedLine& line, LPLINEDEVSTATUS status) {
  if (status == nullptr) return kInvalPointer;
  if (status->dwTotalSize < kLineDevStatusFixedSize) {
    if (status->dwTotalSize >= 3 * sizeof(DWORD)) {
      status->dwNeededSize = kLineDevStatusFixedSize;
      status->dwUsedSize = 3 * sizeof(DWORD);
    }
    return kStructureTooSmall;
  }
  std::lock_guard lock(callTableLock);
  DWORD active = 0;
  for (const CallSlot& slot : line.slots) {
    if (slot.inUse) ++active;
  }
  status->dwNeededSize = kLineDevStatusFixedSize;
  status->dwUsedSize = kLineDevStatusFixedSize;
  status->dwNumActiveCalls = active;
  status->dwNumOnHoldCalls = 0;
  status->dwNumOnHoldPendCalls = 0;
  status->dwLineFeatures = line.inService ? LINEFEATURE_MAKECALL : 0;
  status->dwNumCallCompletions = 0;
  status->dwRingMode = 0;
  status->dwSignalLevel = 0xFFFF;
  status->dwBatteryLevel = 0xFFFF;
  status->dwRoamMode = LINEROAMMODE_UNAVAIL;
  status->dwDevStatusFlags = line.inService ? LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE : 0;
  status->dwTerminalModesSize = 0;
  status->dwTerminalModesOffset = 0;
  status->dwDevSpecificSize = 0;
  status->dwDevSpecificOffset = 0;
  status->dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  return 0;
}

void SetListedLineStatusMessages(ListedLine& line, DWORD lineStates) {
  std::lock_guard lock(callTableLock);
  line.statusMessages = lineStates;
}

}  // namespace qv
