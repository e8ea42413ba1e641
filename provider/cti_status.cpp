#include "provider/cti_status.h"

#include "provider/capability_answers.h"
#include "provider/cti_line.h"
#include "provider/forward_list.h"
#include "provider/listed_line_state.h"

namespace qv {

namespace {

constexpr LONG kStructureTooSmall = static_cast<LONG>(0x8000004D);
constexpr LONG kInvalPointer = static_cast<LONG>(0x80000035);

}  // namespace

LONG FillCtiLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS status) {
  if (status == nullptr) return kInvalPointer;
  if (status->dwTotalSize < kLineDevStatusFixedSize) {
    if (status->dwTotalSize >= 3 * sizeof(DWORD)) {
      status->dwNeededSize = kLineDevStatusFixedSize;
      status->dwUsedSize = 3 * sizeof(DWORD);
    }
    return kStructureTooSmall;
  }
  const CtiCallCounts n = CtiCountCalls(hdLine);
  const bool inService = CtiInService(hdLine);
  status->dwNeededSize = kLineDevStatusFixedSize;
  status->dwUsedSize = kLineDevStatusFixedSize;
  status->dwNumActiveCalls = n.active;
  status->dwNumOnHoldCalls = n.onHold;
  status->dwNumOnHoldPendCalls = n.onHoldPending;
  status->dwLineFeatures = inService ? LINEFEATURE_MAKECALL : 0;
  status->dwNumCallCompletions = 0;
  status->dwRingMode = 0;
  status->dwSignalLevel = 0xFFFF;
  status->dwBatteryLevel = 0xFFFF;
  status->dwRoamMode = LINEROAMMODE_UNAVAIL;
  status->dwDevStatusFlags = inService ? LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE : 0;
  status->dwTerminalModesSize = 0;
  status->dwTerminalModesOffset = 0;
  status->dwDevSpecificSize = 0;
  status->dwDevSpecificOffset = 0;
  status->dwAvailableMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
  return 0;
}

LONG FillCtiAddressStatus(HDRVLINE hdLine, LPLINEADDRESSSTATUS status) {
  if (status == nullptr) return kInvalPointer;
  const ForwardState forwarding = CtiForwardState(hdLine);
  const DWORD needed = kLineAddressStatusFixedSize + static_cast<DWORD>(ForwardListSize(forwarding));
  if (status->dwTotalSize < kLineAddressStatusFixedSize) {
    if (status->dwTotalSize >= 3 * sizeof(DWORD)) {
      status->dwNeededSize = needed;
      status->dwUsedSize = 3 * sizeof(DWORD);
    }
    return kStructureTooSmall;
  }
  const CtiCallCounts n = CtiCountCalls(hdLine);
  status->dwNeededSize = needed;
  status->dwUsedSize = kLineAddressStatusFixedSize;
  status->dwNumInUse = 1;
  status->dwNumActiveCalls = n.active;
  status->dwNumOnHoldCalls = n.onHold;
  status->dwNumOnHoldPendCalls = n.onHoldPending;
  status->dwAddressFeatures = CtiInService(hdLine) ? kCtiAddressFeatures : 0;
  status->dwNumRingsNoAnswer = 0;
  status->dwForwardNumEntries = 0;
  status->dwForwardSize = 0;
  status->dwForwardOffset = 0;
  if (status->dwTotalSize >= needed && needed > kLineAddressStatusFixedSize) {
    status->dwForwardNumEntries =
        WriteForwardList(forwarding, reinterpret_cast<unsigned char*>(status), kLineAddressStatusFixedSize);
    status->dwForwardSize = needed - kLineAddressStatusFixedSize;
    status->dwForwardOffset = kLineAddressStatusFixedSize;
    status->dwUsedSize = needed;
  }
  status->dwTerminalModesSize = 0;
  status->dwTerminalModesOffset = 0;
  status->dwDevSpecificSize = 0;
  status->dwDevSpecificOffset = 0;
  return 0;
}

}  // namespace qv
