#include "session/log.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>

#include "platform/ticks.h"
#include "session/settings.h"

namespace qv {
namespace {

// Guards the stream, the entry count and the first open, so lines never mix
// and concurrent first messages open the file once.
std::mutex logLock;
constinit std::FILE* logStream = nullptr;
constinit std::int32_t logLinesWritten = 0;
// Taken at the first call of the process, before any level test.
constinit std::atomic<std::uint64_t> logStartTick{0};
constinit std::atomic<LogClock> logClock{nullptr};

// The path the stream was opened with (a later change of logfile does not
// move an open log). Built on first use, like the settings record.
std::string& openPath() {
  static std::string path;
  return path;
}

std::uint64_t now() {
  LogClock clock = logClock.load();
  return clock != nullptr ? clock() : tickCount64();
}

void appendPadded(std::string& out, std::uint64_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) out.append(width - digits.size(), '0');
  out += digits;
}

// Moves the full log to "<path>.1", older files one number up and the oldest
// away, so the newest entries are kept in bounded space. Failures to rename
// are ignored: the next file then simply starts over the old one.
void rotateFiles(const std::string& path, std::int32_t keep) {
  std::error_code ignored;
  auto numbered = [&](std::int32_t n) { return std::filesystem::path(path + "." + std::to_string(n)); };
  std::filesystem::remove(numbered(keep), ignored);
  for (std::int32_t n = keep - 1; n >= 1; --n) std::filesystem::rename(numbered(n), numbered(n + 1), ignored);
  std::filesystem::rename(std::filesystem::path(path), numbered(1), ignored);
}

}  // namespace

void writeLog(int level, std::string_view message) {
  std::uint64_t unset = 0;
  logStartTick.compare_exchange_strong(unset, now());
  if (level > currentLogLevel()) return;

  std::lock_guard<std::mutex> guard(logLock);
  if (logStream == nullptr) {
    std::string path = currentLogFile();
    if (path.empty()) return;
    // Text mode: on Windows the runtime turns the line feed of "\r\n" into CR LF.
    logStream = std::fopen(path.c_str(), "w");
    if (logStream == nullptr) return;  // tried again with the next message
    openPath() = path;
  }
  std::int32_t entry = logLinesWritten;
  if (logLinesWritten < std::numeric_limits<std::int32_t>::max()) ++logLinesWritten;
  if (entry >= currentLogLength()) {
    std::int32_t keep = currentLogRotate();
    if (keep <= 0 || currentLogLength() <= 0) return;
    std::fclose(logStream);
    const std::string& path = openPath();
    rotateFiles(path, keep);
    logStream = std::fopen(path.c_str(), "w");
    logLinesWritten = 1;
    if (logStream == nullptr) return;
  }

  std::uint64_t elapsed = now() - logStartTick.load();
  std::uint64_t hours = elapsed / 3600000;
  std::uint64_t rest = elapsed - hours * 3600000;
  std::uint64_t minutes = rest / 60000;
  rest -= minutes * 60000;
  std::uint64_t seconds = rest / 1000;
  std::uint64_t millis = rest - seconds * 1000;

  std::string line;
  line.reserve(message.size() + 32);
  line += '[';
  line += std::to_string(hours);
  line += ':';
  appendPadded(line, minutes, 2);
  line += ':';
  appendPadded(line, seconds, 2);
  line += ':';
  appendPadded(line, millis, 3);
  line += "]:";
  line += std::to_string(level);
  line += ' ';
  line += message;
  line += "\r\n";
  std::fwrite(line.data(), 1, line.size(), logStream);
  std::fflush(logStream);
}

void setLogClockForTesting(LogClock clock) { logClock.store(clock); }

void resetLogForTesting() {
  std::lock_guard<std::mutex> guard(logLock);
  if (logStream != nullptr) std::fclose(logStream);
  logStream = nullptr;
  logLinesWritten = 0;
  logStartTick.store(0);
}

}  // namespace qv
