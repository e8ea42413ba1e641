#pragma once
// The device monitors of the listed lines: after each login one MonitorStart
// per line, at most kMaxOutstandingMonitors unanswered at a time (the next
// goes out as an answer comes), each monitorCrossRefID remembered so an
// event finds its line without a search. A refused monitor leaves its line
// out of service until the next login tries again. Without listed lines
// nothing here runs and the single MonitorStart of `username` is sent as
// before.
//
// Called on the connection's thread with sessionLock held (login, answers,
// loss); SetMonitoredLines before the session starts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_node.h"

namespace qv {

inline constexpr std::size_t kMaxOutstandingMonitors = 32;
inline constexpr int kNoLine = -1;

// The extensions to monitor, by line position; empty: the single line.
void SetMonitoredLines(std::vector<std::string> extensions);
bool MonitoringLines();

// Logged in: every line's monitor is (re)requested, paced.
void StartLineMonitors(std::string_view domain);
// An answer to one of the MonitorStarts: consumed (true) or not ours.
bool AnswerLineMonitor(std::uint32_t invokeId, const XmlNode& root);
// The connection is gone: no monitor runs any more.
void StopLineMonitors();

// While running: a line added at the end (its index is returned; the
// monitor starts now when logged in, else after the next login), or one
// whose monitor is stopped (MonitorStop) and forgotten. Any thread.
int AddMonitoredLine(std::string extension);
void RemoveMonitoredLine(int line);

// The line an event belongs to: its monitor's cross-reference id, else the
// device it names (extension or extension@domain); kNoLine when neither.
int LineOfEvent(std::string_view crossRefId, std::string_view deviceId);
// Monitors running now (for tests and benchmarks).
std::size_t RunningLineMonitors();

}  // namespace qv
