#include "session/device_snapshot.h"

#include "session/csta_profile.h"
#include "session/csta_requests.h"
#include "session/log.h"
#include "session/xml_line.h"

namespace qv {

namespace {

const XmlNode* child(const XmlNode& node, std::string_view name) {
  for (const XmlNode& c : node.children) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

// snapshotData may sit directly below the root or inside crossRefIDorSnapshotData.
const XmlNode* snapshotData(const XmlNode& root) {
  if (const XmlNode* data = child(root, "snapshotData")) return data;
  if (const XmlNode* choice = child(root, "crossRefIDorSnapshotData")) return child(*choice, "snapshotData");
  return nullptr;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::vector<SnapshotCall> ParseSnapshotDeviceResponse(const XmlNode& root) {
  std::vector<SnapshotCall> calls;
  const XmlNode* data = snapshotData(root);
  if (data == nullptr) return calls;
  std::size_t dropped = 0;
  for (const XmlNode& info : data->children) {
    if (info.name != "snapshotDeviceResponseInfo") continue;
    SnapshotCall call;
    call.callId = trimmed(findText(info, "connectionIdentifier/callID")).substr(0, 128);
    if (call.callId.empty()) continue;
    call.localState = trimmed(findText(info, "localCallState/compoundCallState/localConnectionState"));
    if (call.localState.empty()) call.localState = trimmed(findText(info, "localCallState/simpleCallState"));
    call.localState = call.localState.substr(0, 32);
    if (calls.size() >= kMaxSnapshotCalls) {
      ++dropped;
      continue;
    }
    calls.push_back(std::move(call));
  }
  if (dropped > 0)
    writeLog(1, "CSTA Rx: SnapshotDeviceResponse: " + std::to_string(dropped) + " calls beyond " +
                    std::to_string(kMaxSnapshotCalls) + " ignored");
  return calls;
}

std::string SnapshotDeviceXml(std::string_view deviceId) {
  std::string x;
  appendLine(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  appendLine(x, "<SnapshotDevice xmlns=\"", CstaRequestNamespace(), "\">");
  appendLine(x, "<snapshotObject>", escapeXml(deviceId), "</snapshotObject>");
  appendLine(x, "</SnapshotDevice>");
  return x;
}

}  // namespace qv
