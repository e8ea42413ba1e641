#pragma once
// The answer to SnapshotDevice: the calls the PBX has at the monitored
// device, each with the state of the device's own connection. Read after a
// reconnection to bring the line's calls in step with the PBX.
#include <cstddef>
#include <string>
#include <vector>

#include "xml/xml_node.h"

namespace qv {

struct SnapshotCall {
  std::string callId;
  std::string localState;  // ECMA-269 LocalConnectionState: "alerting", "connected", "hold", ...
};

// More are dropped (and logged): the line has ten call slots.
inline constexpr std::size_t kMaxSnapshotCalls = 32;

// The calls of a SnapshotDeviceResponse; entries without a callID are skipped.
std::vector<SnapshotCall> ParseSnapshotDeviceResponse(const XmlNode& root);

std::string SnapshotDeviceXml(std::string_view deviceId);

}  // namespace qv
