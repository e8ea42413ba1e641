#pragma once
// The one diagnostic channel: time-stamped lines in the file named by the
// `logfile` setting, filtered by `loglevel`, at most `loglength` entries.
#include <string_view>

namespace qv {

// Smaller levels are more important; written when level <= loglevel.
// Safe from any thread; never fails towards the caller.
void writeLog(int level, std::string_view message);

}  // namespace qv
