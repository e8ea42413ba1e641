#include "session/forwarding.h"

#include "session/csta_profile.h"
#include "session/csta_requests.h"
#include "session/xml_line.h"

namespace qv {

namespace {

constexpr std::string_view kTypeNames[kForwardKinds] = {"forwardImmediate", "forwardBusy", "forwardNoAns"};
constexpr std::size_t kMaxDestination = 64;
constexpr std::size_t kMaxListItems = 16;

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

std::optional<bool> flag(const XmlNode& node, const char* path) {
  const std::string text = trimmed(findText(node, path));
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  return std::nullopt;
}

std::optional<ForwardSetting> setting(const XmlNode& node, const char* status, const char* destination) {
  std::optional<ForwardKind> kind = ForwardKindOf(trimmed(findText(node, "forwardingType")));
  std::optional<bool> on = flag(node, status);
  if (!kind || !on) return std::nullopt;
  ForwardSetting s;
  s.kind = *kind;
  s.on = *on;
  s.destination = trimmed(findText(node, destination)).substr(0, kMaxDestination);
  return s;
}

std::string deviceRequest(std::string_view root, std::string_view device, std::string_view body = {}) {
  std::string x;
  appendLine(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  appendLine(x, "<", root, " xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<device>", escapeXml(device), "</device>");
  x += body;
  appendLine(x, "</", root, ">");
  return x;
}

}  // namespace

std::string_view ForwardingTypeName(ForwardKind kind) { return kTypeNames[static_cast<std::size_t>(kind)]; }

std::optional<ForwardKind> ForwardKindOf(std::string_view type) {
  for (std::size_t i = 0; i < kForwardKinds; ++i) {
    if (kTypeNames[i] == type) return static_cast<ForwardKind>(i);
  }
  return std::nullopt;
}

std::optional<ForwardingReport> ParseForwardingReport(const XmlNode& root) {
  ForwardingReport r;
  if (root.name == "GetForwardingResponse") {
    r.completeList = true;
    for (const XmlNode& list : root.children) {
      if (list.name != "forwardingList") continue;
      for (const XmlNode& item : list.children) {
        if (item.name != "forwardListItem" || r.settings.size() >= kMaxListItems) continue;
        if (std::optional<ForwardSetting> s = setting(item, "forwardStatus", "forwardDN"))
          r.settings.push_back(*s);
      }
    }
    return r;
  }
  if (root.name == "ForwardingEvent") {
    if (std::optional<ForwardSetting> s = setting(root, "forwardStatus", "forwardTo"))
      r.settings.push_back(*s);
    return r;
  }
  if (root.name == "GetDoNotDisturbResponse" || root.name == "DoNotDisturbEvent") {
    r.dnd = flag(root, "doNotDisturbOn");
    return r;
  }
  return std::nullopt;
}

std::string SetForwardingXml(std::string_view device, ForwardKind kind, bool on,
                             std::string_view destination) {
  std::string body;
  appendLine(body, "<forwardingType>", ForwardingTypeName(kind), "</forwardingType>");
  appendLine(body, "<activateForward>", on ? "true" : "false", "</activateForward>");
  if (on) appendLine(body, "<forwardDN>", escapeXml(destination), "</forwardDN>");
  return deviceRequest("SetForwarding", device, body);
}

std::string SetDoNotDisturbXml(std::string_view device, bool on) {
  std::string body;
  appendLine(body, "<doNotDisturbOn>", on ? "true" : "false", "</doNotDisturbOn>");
  return deviceRequest("SetDoNotDisturb", device, body);
}

std::string GetForwardingXml(std::string_view device) { return deviceRequest("GetForwarding", device); }

std::string GetDoNotDisturbXml(std::string_view device) { return deviceRequest("GetDoNotDisturb", device); }

}  // namespace qv
