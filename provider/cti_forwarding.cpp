// Forwarding and do-not-disturb of the call-control line: TSPI_lineForward
// sends what differs from the PBX's current state (one SetForwarding per
// kind, SetDoNotDisturb) and completes once all of them are answered; the
// state is read when the monitor starts and kept from the device's events.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "provider/call_table.h"
#include "provider/cti_line.h"
#include "provider/entry_trace.h"
#include "provider/forward_list.h"
#include "provider/line_set.h"
#include "provider/tapi_delivery.h"
#include "session/forwarding.h"
#include "session/log.h"
#include "session/pbx_requests.h"
#include "session/settings.h"

namespace qv {

namespace {

// Guarded by callTableLock.
struct ForwardGroup {
  CtiLine* line = nullptr;
  DRV_REQUESTID tapiRequest = 0;
  std::vector<DRV_REQUESTID> parts;  // still unanswered
  bool failed = false;
  // TSPI_lineClose completed the request: the answers still to come are
  // only swallowed.
  bool closed = false;
  ForwardState target;
};
std::vector<ForwardGroup> groups;
// Ids of the parts: far above what TAPI hands out, so they never meet.
DRV_REQUESTID nextPart = 0x7F000000;

void ChangeLocked(CtiLine& line, const ForwardState& next) {
  ForwardState& current = line.forwarding;
  if (next == current) return;
  current = next;
  writeLog(3, std::string("CTI: forwarding now") + (current.dnd ? " dnd" : "") +
                  (current.on[0] ? " immediate to " + current.to[0] : "") +
                  (current.on[1] ? " busy to " + current.to[1] : "") +
                  (current.on[2] ? " no-answer to " + current.to[2] : "") +
                  (current.dnd || current.on[0] || current.on[1] || current.on[2] ? "" : " off") +
                  OnLine(line));
  CtiQueueAddressStateLocked(line, LINEADDRESSSTATE_FORWARD);
}

}  // namespace

ForwardState CtiForwardState(HDRVLINE hdLine) {
  std::lock_guard lock(callTableLock);
  int position = -1;
  if (LinesListed()) {
    const ListedLine* named = ListedLineFromHandle(hdLine);
    if (named == nullptr) return {};
    position = static_cast<int>(named->position);
  }
  const CtiLine* line = FindCtiLineLocked(position);
  return line != nullptr ? line->forwarding : ForwardState{};
}

void CtiResetForwardingLocked() { groups.clear(); }

void CtiReadForwarding(const CtiLine& line) {
  std::string device;
  {
    std::lock_guard lock(callTableLock);
    device = CtiDevice(line);
  }
  SubmitRequest(RequestKind::kGetForwarding, 0, GetForwardingXml(device), line.position);
  SubmitRequest(RequestKind::kGetDoNotDisturb, 0, GetDoNotDisturbXml(device), line.position);
}

void CtiForwardingReported(const ForwardingReport& report) {
  std::lock_guard lock(callTableLock);
  // A listed line not used yet has nothing to change unless something is on.
  CtiLine* line = FindCtiLineLocked(report.line);
  const bool anyOn = report.dnd.value_or(false) || std::any_of(report.settings.begin(), report.settings.end(),
                                                               [](const ForwardSetting& s) { return s.on; });
  if (line == nullptr && anyOn) line = CtiLineAtLocked(report.line);
  if (line == nullptr) return;
  const ForwardState& current = line->forwarding;
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
  ChangeLocked(*line, next);
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
    if (group->closed) {
      groups.erase(group);
      return true;
    }
    finished = group->tapiRequest;
    failed = group->failed;
    // What the PBX accepted holds even without its events; a refusal is
    // followed by the events of what did change, if any.
    if (!failed) ChangeLocked(*group->line, group->target);
    groups.erase(group);
  }
  QueueCompletion(finished, failed ? static_cast<LONG>(LINEERR_OPERATIONFAILED) : 0);
  return true;
}

std::vector<DRV_REQUESTID> CtiCloseForwardsLocked(HDRVLINE hdLine) {
  std::vector<DRV_REQUESTID> closed;
  const CtiLine* line = CtiLineOfHandleLocked(hdLine);
  for (ForwardGroup& group : groups) {
    if (group.line != line || group.closed) continue;
    group.closed = true;
    closed.push_back(group.tapiRequest);
    writeLog(3, "TSPI_lineClose: TSPI_lineForward " + std::to_string(group.tapiRequest) + " still under way" +
                    OnLine(*group.line));
  }
  return closed;
}

LONG CtiForward(DRV_REQUESTID requestId, HDRVLINE hdLine, const LINEFORWARDLIST* list,
                LPHDRVCALL lphdConsultCall) {
  ProviderEntryTrace("TSPI_lineForward");
  const ForwardRequest request = ParseForwardList(list);
  if (request.error != 0) {
    writeLog(3, "TSPI_lineForward: forward list refused");
    return request.error;
  }
  // No consultation call is needed to forward.
  if (lphdConsultCall != nullptr) *lphdConsultCall = nullptr;
  if (!CtiInService(hdLine)) return static_cast<LONG>(LINEERR_OPERATIONUNAVAIL);
  struct Part {
    RequestKind kind;
    DRV_REQUESTID id;
    std::string xml;
  };
  std::vector<Part> parts;
  {
    std::lock_guard lock(callTableLock);
    CtiLine* line = CtiLineOfHandleLocked(hdLine);
    if (line == nullptr) return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    const std::string device = CtiDevice(*line);
    const ForwardState& current = line->forwarding;
    ForwardGroup group;
    group.line = line;
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
