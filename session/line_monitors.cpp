#include "session/line_monitors.h"

#include <mutex>
#include <unordered_map>

#include "session/csta_requests.h"
#include "session/log.h"
#include "session/pbx_link.h"
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
  std::vector<std::string> crossRefs;  // by line, of the current connection
  std::size_t runningCount = 0;
  bool loggedIn = false;
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
      // Removed lines keep their place with an empty extension.
      while (monitors.nextToStart < monitors.extensions.size() &&
             monitors.extensions[monitors.nextToStart].empty())
        ++monitors.nextToStart;
      if (!monitors.loggedIn || monitors.awaited.size() >= kMaxOutstandingMonitors ||
          monitors.nextToStart >= monitors.extensions.size())
        return;
      line = static_cast<int>(monitors.nextToStart++);
      device = monitors.extensions[static_cast<std::size_t>(line)] + "@" + monitors.domain;
    }
    // Known as awaited before the frame can reach the PBX: the answer may
    // come on the connection's thread before this one runs on.
    const SentRequest sent = pbxLink().SendRequest(MonitorStartXml(device), [line](std::uint32_t invokeId) {
      std::lock_guard lock(monitorsLock);
      monitors.awaited.emplace(invokeId, line);
    });
    if (!sent.sent) {
      std::lock_guard lock(monitorsLock);
      monitors.awaited.erase(sent.invokeId);
      return;
    }
  }
}

}  // namespace

void SetMonitoredLines(std::vector<std::string> extensions) {
  std::lock_guard lock(monitorsLock);
  monitors = Monitors{};
  for (std::size_t i = 0; i < extensions.size(); ++i)
    monitors.byExtension.emplace(extensions[i], static_cast<int>(i));
  monitors.running.assign(extensions.size(), 0);
  monitors.crossRefs.assign(extensions.size(), std::string());
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
    monitors.loggedIn = true;
    monitors.nextToStart = 0;
    monitors.awaited.clear();
    monitors.byCrossRef.clear();
  }
  SendMoreMonitorStarts();
}

bool AnswerLineMonitor(std::uint32_t invokeId, const XmlNode& root) {
  int line = kNoLine;
  std::string extension;
  std::string lateStop;
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
    if (!refused && extension.empty()) {
      // Removed while its MonitorStart was on its way: stopped at once.
      const std::string crossRef = findText(root, "monitorCrossRefID");
      lateStop = crossRef;
    } else if (!refused) {
      const std::string crossRef = findText(root, "monitorCrossRefID");
      if (!crossRef.empty()) monitors.byCrossRef[crossRef] = line;
      monitors.crossRefs[static_cast<std::size_t>(line)] = crossRef;
      if (!monitors.running[static_cast<std::size_t>(line)]) ++monitors.runningCount;
      monitors.running[static_cast<std::size_t>(line)] = 1;
    }
  }
  if (extension.empty()) {
    if (!lateStop.empty()) SendMonitorStop(lateStop);
    SendMoreMonitorStarts();
    return true;
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
    for (std::string& ref : monitors.crossRefs) ref.clear();
    monitors.loggedIn = false;
  }
  for (int line : stopped) Report(line, false);
}

int AddMonitoredLine(std::string extension) {
  int line = kNoLine;
  {
    std::lock_guard lock(monitorsLock);
    line = static_cast<int>(monitors.extensions.size());
    monitors.byExtension[extension] = line;
    monitors.extensions.push_back(std::move(extension));
    monitors.running.push_back(0);
    monitors.crossRefs.emplace_back();
  }
  SendMoreMonitorStarts();
  return line;
}

void RemoveMonitoredLine(int line) {
  std::string crossRef;
  bool wasRunning = false;
  {
    std::lock_guard lock(monitorsLock);
    if (line < 0 || static_cast<std::size_t>(line) >= monitors.extensions.size()) return;
    const auto at = static_cast<std::size_t>(line);
    auto named = monitors.byExtension.find(monitors.extensions[at]);
    if (named != monitors.byExtension.end() && named->second == line) monitors.byExtension.erase(named);
    monitors.extensions[at].clear();
    crossRef = std::move(monitors.crossRefs[at]);
    monitors.crossRefs[at].clear();
    if (!crossRef.empty()) monitors.byCrossRef.erase(crossRef);
    wasRunning = monitors.running[at] != 0;
    if (wasRunning) --monitors.runningCount;
    monitors.running[at] = 0;
    if (!monitors.loggedIn) crossRef.clear();
  }
  if (!crossRef.empty()) SendMonitorStop(crossRef);
  if (wasRunning) Report(line, false);
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
