#include "session/call_event_report.h"

#include <atomic>
#include <optional>
#include <string>

#include "session/csta_events.h"
#include "session/forwarding.h"
#include "session/line_monitors.h"
#include "session/log.h"
#include "session/pending_requests.h"
#include "session/session_events.h"
#include "xml/xml_wellformed.h"

namespace qv {

namespace {
std::atomic<bool> callEventsWanted{false};
}  // namespace

void SetCallEventsWanted(bool wanted) { callEventsWanted = wanted; }

void ReportCallEvent(const XmlNode& root, std::string_view xml) {
  if (!callEventsWanted) return;
  if (root.name == "ForwardingEvent" || root.name == "DoNotDisturbEvent") {
    if (std::optional<std::string> problem = CheckWellFormedXml(xml)) {
      writeLog(3, "CSTA Rx: " + root.name + " ignored: not well-formed XML: " + *problem);
      return;
    }
    std::optional<ForwardingReport> report = ParseForwardingReport(root);
    if (report && MonitoringLines())
      report->line = LineOfEvent(findText(root, "monitorCrossRefID"), findText(root, "device"));
    if (report && (report->dnd || !report->settings.empty())) {
      if (SessionEvents* events = RegisteredSessionEvents()) events->ForwardingReported(*report);
    } else {
      writeLog(1, "CSTA Rx: " + root.name + " ignored: no forwarding type and status it names");
    }
    return;
  }
  ParsedCallEvent parsed = ParseCallEvent(root);
  if (!parsed.isEvent) return;
  if (std::optional<std::string> problem = CheckWellFormedXml(xml)) {
    writeLog(3, "CSTA Rx: " + parsed.event.eventName + " ignored: not well-formed XML: " + *problem);
    return;
  }
  if (!parsed.valid) {
    writeLog(1, "CSTA Rx: " + parsed.event.eventName + " ignored: " + parsed.problem);
    return;
  }
  // Routed by the monitor that reported it, never by a search of the lines.
  if (MonitoringLines())
    parsed.event.line = LineOfEvent(findText(root, "monitorCrossRefID"), parsed.event.deviceId);
  if (SessionEvents* events = RegisteredSessionEvents()) events->CallEventReceived(parsed.event);
}

void ReportLinkDown() {
  if (SessionEvents* events = RegisteredSessionEvents()) events->LinkStateChanged(false);
}

}  // namespace qv
