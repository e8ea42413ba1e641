#pragma once
// Shared set-up for the session tests: sockets started, the log written to
// a file of this run so tests can look for their lines.
#include <string>

namespace qv::test {

// Whole log of this test program so far.
std::string LogText();
// Log text written since the mark.
std::size_t LogMark();
std::string LogSince(std::size_t mark);

}  // namespace qv::test
