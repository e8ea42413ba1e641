#pragma once
// Whether a listed line is in service: its device monitor runs. While the
// link is down or the PBX refused the monitor the line is out of service;
// TSPI_lineGetLineDevStatus says so and an open line that asked for it
// hears LINE_LINEDEVSTATE OUTOFSERVICE, then INSERVICE once the monitor
// runs again.
#include "platform/tapi.h"
#include "provider/line_set.h"

namespace qv {

// From the session's sink (its thread): the line's monitor started or ended.
void ListedLineMonitorChanged(int position, bool running);
// TSPI_lineGetLineDevStatus of a listed line: the TAPI 2.x structure;
// dwNumOpens, dwOpenMediaModes and the application information stay as
// TAPI filled them.
LONG FillListedLineDevStatus(ListedLine& line, LPLINEDEVSTATUS status);
// TSPI_lineSetStatusMessages of a listed line.
void SetListedLineStatusMessages(ListedLine& line, DWORD lineStates);

inline constexpr DWORD kLineDevStatusFixedSize = 88;

}  // namespace qv
