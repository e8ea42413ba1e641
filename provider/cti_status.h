#pragma once
// LINEDEVSTATUS and LINEADDRESSSTATUS of the call-control line: its calls
// counted by state, in service while logged in. The members TAPI fills
// itself (dwNumOpens, dwOpenMediaModes, dwNumActiveOpens, ...) are left as
// they are.
#include "platform/tapi.h"

namespace qv {

LONG FillCtiLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS status);
LONG FillCtiAddressStatus(HDRVLINE hdLine, LPLINEADDRESSSTATUS status);

}  // namespace qv
