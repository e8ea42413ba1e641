#include "session/pending_requests.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "session/device_snapshot.h"
#include "session/forwarding.h"
#include "session/log.h"
#include "session/pbx_link.h"
#include "session/request_kinds.h"
#include "session/session.h"
#include "session/session_timing.h"

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

struct PendingRequest {
  std::uint32_t invokeId = 0;
  std::uint32_t requestId = 0;  // 0: nobody waits for the outcome
  RequestKind kind = RequestKind::kMakeCall;
  Clock::time_point deadline{};
  int line = -1;  // the listed line whose device it is about
};

// See the lock order in the header. Few requests wait at a time (TAPI has
// ten call slots), so a plain vector is the right size of table.
std::mutex pendingLock;
std::vector<PendingRequest> pending;  // guarded by pendingLock

std::atomic<SessionEvents*> sessionEvents{nullptr};

// Takes the request out of the table; nothing when it is not there.
std::optional<PendingRequest> TakeLocked(std::uint32_t invokeId) {
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (it->invokeId == invokeId) {
      PendingRequest request = *it;
      pending.erase(it);
      return request;
    }
  }
  return std::nullopt;
}

void Report(const PendingRequest& request, RequestOutcome outcome) {
  if (request.kind == RequestKind::kSnapshotDevice && outcome != RequestOutcome::kSuccess) {
    if (SessionEvents* events = sessionEvents.load())
      events->DeviceSnapshot(request.line, false,
                             outcome == RequestOutcome::kLinkLost || outcome == RequestOutcome::kShutdown,
                             {});
  }
  if (request.requestId == 0) return;
  if (SessionEvents* events = sessionEvents.load()) events->RequestCompleted(request.requestId, outcome);
}

}  // namespace

void SetSessionEvents(SessionEvents* events) { sessionEvents.store(events); }

SessionEvents* RegisteredSessionEvents() { return sessionEvents.load(); }

void SubmitRequest(RequestKind kind, std::uint32_t requestId, std::string xml, int line) {
  const Clock::time_point deadline = Clock::now() + CurrentSessionTiming().completionTimeout;
  std::optional<PendingRequest> unsent;
  {
    std::unique_lock lock(pendingLock);
    bool recorded = false;
    // The hook runs on this thread inside SendRequest, so the lock held here
    // covers it: the entry is in the table before an answer can be read.
    SentRequest sent = pbxLink().SendRequest(xml, [&](std::uint32_t invokeId) {
      pending.push_back({invokeId, requestId, kind, deadline, line});
      recorded = true;
    });
    if (!sent.sent || !recorded) {
      if (recorded) unsent = TakeLocked(sent.invokeId);
      if (!unsent) unsent = PendingRequest{sent.invokeId, requestId, kind, deadline, line};
    }
  }
  if (unsent) {
    Report(*unsent, RequestOutcome::kNotSent);
    return;
  }
  WakeSessionWorkerBefore(deadline);  // it watches the new deadline
}

bool AnswerPendingRequest(std::uint32_t invokeId, const XmlNode& root) {
  std::optional<PendingRequest> request;
  RequestOutcome outcome = RequestOutcome::kSuccess;
  {
    std::lock_guard lock(pendingLock);
    auto it = pending.begin();
    while (it != pending.end() && it->invokeId != invokeId) ++it;
    if (it == pending.end()) return false;
    if (root.name == "CSTAErrorCode") {
      outcome = RequestOutcome::kRefused;
    } else if (root.name != DescribeRequestKind(it->kind).responseRoot) {
      return false;  // some other answer with this invoke id
    }
    request = *it;
    pending.erase(it);
  }
  if (outcome == RequestOutcome::kSuccess &&
      (request->kind == RequestKind::kDirectedPickupCall || request->kind == RequestKind::kGroupPickupCall)) {
    if (SessionEvents* events = sessionEvents.load()) {
      events->CallIdentified(request->requestId, findText(root, "pickedCall/callID"),
                             findText(root, "pickedCall/deviceID"));
    }
  }
  if (outcome == RequestOutcome::kSuccess && request->kind == RequestKind::kMakeCall) {
    if (SessionEvents* events = sessionEvents.load()) {
      events->CallIdentified(request->requestId, findText(root, "callingDevice/callID"),
                             findText(root, "callingDevice/deviceID"));
    }
  }
  if (outcome == RequestOutcome::kSuccess &&
      (request->kind == RequestKind::kGetForwarding || request->kind == RequestKind::kGetDoNotDisturb)) {
    SessionEvents* events = sessionEvents.load();
    std::optional<ForwardingReport> report = ParseForwardingReport(root);
    if (report) report->line = request->line;
    if (events != nullptr && report) events->ForwardingReported(*report);
  }
  if (outcome == RequestOutcome::kSuccess && request->kind == RequestKind::kSnapshotDevice) {
    if (SessionEvents* events = sessionEvents.load())
      events->DeviceSnapshot(request->line, true, false, ParseSnapshotDeviceResponse(root));
  }
  Report(*request, outcome);
  return true;
}

std::size_t ExpireOverdueRequests(Clock::time_point now) {
  std::vector<PendingRequest> overdue;
  {
    std::lock_guard lock(pendingLock);
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->deadline <= now) {
        overdue.push_back(*it);
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const PendingRequest& request : overdue) {
    writeLog(1, std::string(DescribeRequestKind(request.kind).entryPoint) +
                    ": no answer from the PBX for invoke id " + std::to_string(request.invokeId) +
                    ", request " + std::to_string(request.requestId));
    Report(request, RequestOutcome::kTimedOut);
  }
  return overdue.size();
}

void FailPendingRequests(RequestOutcome outcome) {
  std::vector<PendingRequest> all;
  {
    std::lock_guard lock(pendingLock);
    all.swap(pending);
  }
  for (const PendingRequest& request : all) Report(request, outcome);
}

std::optional<Clock::time_point> NextRequestDeadline() {
  std::lock_guard lock(pendingLock);
  std::optional<Clock::time_point> next;
  for (const PendingRequest& request : pending) {
    if (!next || request.deadline < *next) next = request.deadline;
  }
  return next;
}

std::size_t PendingRequestCount() {
  std::lock_guard lock(pendingLock);
  return pending.size();
}

}  // namespace qv
