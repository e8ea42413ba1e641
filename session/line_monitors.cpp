#include "session/line_monitors.h"

#include <mutex>
#include <unordered_map>

#include "session/csta_requests.h"
#include "session/log.h"
#include "session/pending_requests.h"
#include "session/session_events.h"

namespace qv {

namespace {

struct Monitors {
  std::vector<std::string> extensions;
  std::unordered_map<std::string, int> byExtension;
  // Of the current connection.
  std::string domain;
  std::size_t nextToStart = 0;
  std::unordered_map<std::uint32_t, int> awaited;  // invoke id -> line
  std::unordered_map<std::string, int> byCrossRef;
  std::vector<char> running;
  std::size_t runningCount = 0;
};

// The connection's thread changes it; lookups from elsewhere (tests,
// benchmarks) take the same lock. A leaf lock: nothing is sent, logged or
// reported while it is held.
std::mutex monitorsLock;
Monitors monitors;

void Report(int line, bool running) {
  if (SessionEvents* events = RegisteredSessionEvents()) events->LineMonitorChanged(line, running);
}

// Sends MonitorStarts until the window is full or every line has one.
void SendMoreMonitorStarts() {
  for (;;) {
    std::string device;
    int line = kNoLine;
    {
      std::lock_guard lock(monitorsLock);
      if (monitors.awaited.size() >= kMaxOutstandingMonitors ||
          monitors.nextToStart >= monitors.extensions.size())
        return;
      line = static_cast<int>(monitors.nextToStart++);
      device = monitors.extensions[static_cast<std::size_t>(line)] + "@" + monitors.domain;
    }
    const std::uint32_t invokeId = SendMonitorStart(device);
    std::lock_guard lock(monitorsLock);
    monitors.awaited.emplace(invokeId, line);
  }
}

}  // namespace

void SetMonitoredLines(std::vector<std::string> extensions) {
  std::lock_guard lock(monitorsLock);
  monitors = Monitors{};
  for (std::size_t i = 0; i < extensions.size(); ++i)
    monitors.byExtension.emplace(extensions[i], static_cast<int>(i));
  monitors.running.assign(extensions.size(), 0);
  monitors.extensions = std::move(extensions);
}

bool MonitoringLines() {
  std::lock_guard lock(monitorsLock);
  return !monitors.extensions.empty();
}

void StartLineMonitors(std::string_view domain) {
  {
    std::lock_guard lock(monitorsLock);
    monitors.domain = std::string(domain);
    monitors.nextToStart = 0;
    monitors.awaited.clear();
    monitors.byCrossRef.clear();
  }
  SendMoreMonitorStarts();
}

bool AnswerLineMonitor(std::uint32_t invokeId, const XmlNode& root) {
  int line = kNoLine;
  std::string extension;
  bool refused = false;
  {
    std::lock_guard lock(monitorsLock);
    auto it = monitors.awaited.find(invokeId);
    if (it == monitors.awaited.end()) return false;
    if (root.name != "MonitorStartResponse" && root.name != "CSTAErrorCode") return false;
    line = it->second;
    monitors.awaited.erase(it);
    extension = monitors.extensions[static_cast<std::size_t>(line)];
    refused = root.name == "CSTAErrorCode";
    if (!refused) {
      const std::string crossRef = findText(root, "monitorCrossRefID");
      if (!crossRef.empty()) monitors.byCrossRef[crossRef] = line;
      if (!monitors.running[static_cast<std::size_t>(line)]) ++monitors.runningCount;
      monitors.running[static_cast<std::size_t>(line)] = 1;
    }
  }
  if (refused) {
    writeLog(1, "lines: the PBX refused to monitor extension " + extension + ", its line is out of service");
  } else {
    writeLog(4, "lines: monitoring extension " + extension);
  }
  Report(line, !refused);
  SendMoreMonitorStarts();
  return true;
}

void StopLineMonitors() {
  std::vector<int> stopped;
  {
    std::lock_guard lock(monitorsLock);
    for (std::size_t i = 0; i < monitors.running.size(); ++i) {
      if (monitors.running[i]) stopped.push_back(static_cast<int>(i));
      monitors.running[i] = 0;
    }
    monitors.runningCount = 0;
    monitors.awaited.clear();
    monitors.byCrossRef.clear();
    monitors.nextToStart = monitors.extensions.size();
  }
  for (int line : stopped) Report(line, false);
}

int LineOfEvent(std::string_view crossRefId, std::string_view deviceId) {
  std::lock_guard lock(monitorsLock);
  if (!crossRefId.empty()) {
    auto it = monitors.byCrossRef.find(std::string(crossRefId));
    if (it != monitors.byCrossRef.end()) return it->second;
  }
  const std::size_t at = deviceId.find('@');
  if (at != std::string_view::npos) deviceId = deviceId.substr(0, at);
  auto it = monitors.byExtension.find(std::string(deviceId));
  return it == monitors.byExtension.end() ? kNoLine : it->second;
}

std::size_t RunningLineMonitors() {
  std::lock_guard lock(monitorsLock);
  return monitors.runningCount;
}

}  // namespace qv
