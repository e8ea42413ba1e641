#pragma once
// Forwarding and do-not-disturb of the monitored device (ECMA-323
// SetForwarding, GetForwarding, SetDoNotDisturb, GetDoNotDisturb, and the
// ForwardingEvent and DoNotDisturbEvent of its monitor).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_node.h"

namespace qv {

enum class ForwardKind : std::uint8_t { kImmediate, kBusy, kNoAnswer };
inline constexpr std::size_t kForwardKinds = 3;

// "forwardImmediate", "forwardBusy", "forwardNoAns".
std::string_view ForwardingTypeName(ForwardKind kind);
std::optional<ForwardKind> ForwardKindOf(std::string_view forwardingType);

struct ForwardSetting {
  ForwardKind kind = ForwardKind::kImmediate;
  bool on = false;
  std::string destination;
};

// What the PBX told about the device.
struct ForwardingReport {
  bool completeList = false;  // GetForwarding: kinds not listed are off
  std::vector<ForwardSetting> settings;
  std::optional<bool> dnd;
  int line = -1;  // the listed line it is about; -1: the single line
};

// Nothing for roots that are none of these; unknown forwarding types are skipped.
std::optional<ForwardingReport> ParseForwardingReport(const XmlNode& root);

std::string SetForwardingXml(std::string_view device, ForwardKind kind, bool on,
                             std::string_view destination);
std::string SetDoNotDisturbXml(std::string_view device, bool on);
std::string GetForwardingXml(std::string_view device);
std::string GetDoNotDisturbXml(std::string_view device);

}  // namespace qv
