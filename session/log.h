#pragma once
// The one diagnostic channel: time-stamped lines in the file named by the
// `logfile` setting, filtered by `loglevel`, at most `loglength` entries.
#include <cstdint>
#include <string_view>

namespace qv {

// Smaller levels are more important; written when level <= loglevel.
// Safe from any thread; never fails towards the caller. Its lock is the
// innermost of all: nothing else is taken while it is held except the
// settings lock, which never logs.
void writeLog(int level, std::string_view message);

// Test hooks. A clock returns milliseconds like the system tick (nullptr
// restores the system tick). The reset closes the stream and forgets the
// start tick and the entry count, as if the process had just started.
using LogClock = std::uint64_t (*)();
void setLogClockForTesting(LogClock clock);
void resetLogForTesting();

}  // namespace qv
