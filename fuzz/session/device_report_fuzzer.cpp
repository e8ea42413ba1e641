// SnapshotDevice answers and forwarding reports from the PBX: no crash,
// bounded results, and their calls reconciled with any line state.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "provider/call_reconcile.h"
#include "session/device_snapshot.h"
#include "session/forwarding.h"
#include "xml/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const qv::XmlNode root = qv::parseXml(text, true);
  const std::vector<qv::SnapshotCall> calls = qv::ParseSnapshotDeviceResponse(root);
  if (calls.size() > qv::kMaxSnapshotCalls) std::abort();
  std::vector<qv::KnownCall> ours;
  for (std::size_t i = 0; i < calls.size() && i < 4; ++i)
    ours.push_back({static_cast<int>(i), calls[i].callId, LINECALLSTATE_CONNECTED, i % 2 == 0, false});
  ours.push_back({9, "gone", LINECALLSTATE_ONHOLD, false, false});
  const std::vector<qv::Reconciled> actions = qv::ReconcileCalls(ours, calls);
  if (actions.size() > ours.size() + calls.size()) std::abort();
  if (std::optional<qv::ForwardingReport> report = qv::ParseForwardingReport(root)) {
    if (report->settings.size() > 16) std::abort();
    for (const qv::ForwardSetting& s : report->settings) {
      if (s.destination.size() > 64) std::abort();
    }
  }
  return 0;
}
