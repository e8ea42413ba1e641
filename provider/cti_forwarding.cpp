// Forwarding and do-not-disturb of the call-control line: TSPI_lineForward
// sends what differs from the PBX's current state (one SetForwarding per
// kind, SetDoNotDisturb) and completes once all of them are answered; the
// state is read when the monitor starts and kept from the device's events.
#include <algorithm>
#include <mutex>
#include <vector>

#include "provider/call_table.h"
#include "provider/cti_line.h"
#include "provider/entry_trace.h"
#include "provider/forward_list.h"
#include "provider/tapi_delivery.h"
#include "session/forwarding.h"
#include "session/log.h"
#include "session/pbx_requests.h"
#include "session/settings.h"

namespace qv {

namespace {

// Guarded by callTableLock.
ForwardState current;
struct ForwardGroup {
  DRV_REQUESTID tapiRequest = 0;
  std::vector<DRV_REQUESTID> parts;  // still unanswered
  bool failed = false;
  ForwardState target;
};
std::vector<ForwardGroup> groups;
// Ids of the parts: far above what TAPI hands out, so they never meet.
DRV_REQUESTID nextPart = 0x7F000000;

std::string OurDevice() {
  const ProviderSettings settings = SettingsSnapshot();
  return settings.username + "@" + settings.domain;
}

void ChangeLocked(const ForwardState& next) {
  if (next == current) return;
  current = next;
  writeLog(3, std::string("CTI: forwarding now") + (current.dnd ? " dnd" : "") +
                  (current.on[0] ? " immediate to " + current.to[0] : "") +
                  (current.on[1] ? " busy to " + current.to[1] : "") +
                  (current.on[2] ? " no-answer to " + current.to[2] : "") +
                  (current.dnd || current.on[0] || current.on[1] || current.on[2] ? "" : " off"));
  CtiQueueAddressStateLocked(LINEADDRESSSTATE_FORWARD);
}

}  // namespace

ForwardState CtiForwardState() {
  std::lock_guard lock(callTableLock);
  return current;
}

void CtiResetForwardingLocked() {
  current = {};
  groups.clear();
}

void CtiReadForwarding() {
  const std::string device = OurDevice();
  SubmitRequest(RequestKind::kGetForwarding, 0, GetForwardingXml(device));
  SubmitRequest(RequestKind::kGetDoNotDisturb, 0, GetDoNotDisturbXml(device));
}

void CtiForwardingReported(const ForwardingReport& report) {
  std::lock_guard lock(callTableLock);
  ForwardState next = current;
  if (report.completeList) {
    next.on = {};
    next.to = {};
  }
  for (const ForwardSetting& s : report.settings) {
    const auto k = static_cast<std::size_t>(s.kind);
    next.on[k] = s.on;
    next.to[k] = s.on ? s.destination : std::string();
  }
  if (report.dnd) next.dnd = *report.dnd;
  ChangeLocked(next);
}

bool CtiForwardPartCompleted(DRV_REQUESTID requestId, bool success) {
  DRV_REQUESTID finished = 0;
  bool failed = false;
  {
    std::lock_guard lock(callTableLock);
    auto group = groups.begin();
    for (; group != groups.end(); ++group) {
      auto part = std::find(group->parts.begin(), group->parts.end(), requestId);
      if (part == group->parts.end()) continue;
      group->parts.erase(part);
      group->failed = group->failed || !success;
      break;
    }
    if (group == groups.end()) return false;
    if (!group->parts.empty()) return true;
    finished = group->tapiRequest;
    failed = group->failed;
    // What the PBX accepted holds even without its events; a refusal is
    // followed by the events of what did change, if any.
    if (!failed) ChangeLocked(group->target);
    groups.erase(group);
  }
  QueueCompletion(finished, failed ? static_cast<LONG>(LINEERR_OPERATIONFAILED) : 0);
  return true;
}

LONG CtiForward(DRV_REQUESTID requestId, const LINEFORWARDLIST* list, LPHDRVCALL lphdConsultCall) {
  ProviderEntryTrace("TSPI_lineForward");
  const ForwardRequest request = ParseForwardList(list);
  if (request.error != 0) {
    writeLog(3, "TSPI_lineForward: forward list refused");
    return request.error;
  }
  // No consultation call is needed to forward.
  if (lphdConsultCall != nullptr) *lphdConsultCall = nullptr;
  if (!CtiInService()) return static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
  const std::string device = OurDevice();
  struct Part {
    RequestKind kind;
    DRV_REQUESTID id;
    std::string xml;
  };
  std::vector<Part> parts;
  {
    std::lock_guard lock(callTableLock);
    ForwardGroup group;
    group.tapiRequest = requestId;
    group.target = request.target;
    for (std::size_t k = 0; k < kForwardKinds; ++k) {
      const bool on = request.target.on[k];
      if (on == current.on[k] && (!on || request.target.to[k] == current.to[k])) continue;
      parts.push_back({RequestKind::kSetForwarding, 0,
                       SetForwardingXml(device, static_cast<ForwardKind>(k), on, request.target.to[k])});
    }
    if (request.target.dnd != current.dnd)
      parts.push_back({RequestKind::kSetDoNotDisturb, 0, SetDoNotDisturbXml(device, request.target.dnd)});
    for (Part& p : parts) {
      p.id = nextPart;
      nextPart = nextPart >= 0x7FFFFFF0 ? 0x7F000000 : nextPart + 1;
      group.parts.push_back(p.id);
    }
    if (!parts.empty()) groups.push_back(std::move(group));
  }
  if (parts.empty()) {
    QueueCompletion(requestId, 0);
    return static_cast<LONG>(requestId);
  }
  for (Part& p : parts) SubmitRequest(p.kind, p.id, std::move(p.xml));
  return static_cast<LONG>(requestId);
}

}  // namespace qv
