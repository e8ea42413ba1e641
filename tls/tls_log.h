#pragma once
// Where the TLS engine's diagnostic lines go. The owner supplies the level
// test and the writer, so the engine never reaches for a log of its own.
#include <functional>
#include <string>
#include <string_view>

namespace qv {

struct TlsLog {
  // Level test (smaller levels are more important); null: nothing is logged.
  std::function<bool(int level)> enabled;
  std::function<void(int level, std::string_view text)> write;
  // Put before the lines of one connection, e.g. "CSTA: ".
  std::string prefix;
};

// True when a line of this level would be written. Text that is costly to
// build (hex of whole messages) is built only then.
inline bool tlsLogEnabled(const TlsLog& log, int level) {
  return log.enabled && log.write && log.enabled(level);
}

// Writes text as given (no prefix) when its level is enabled.
inline void writeTlsLog(const TlsLog& log, int level, std::string_view text) {
  if (tlsLogEnabled(log, level)) log.write(level, text);
}

}  // namespace qv
