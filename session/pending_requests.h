#pragma once
// The requests TAPI's threads submitted that still wait for the PBX's
// answer, keyed by invoke id. SubmitRequest (pbx_requests.h) records them;
// the worker completes them from the responses, expires the overdue ones
// and fails the rest when the link goes. Every request leaves the table
// exactly once, and its outcome goes to the registered SessionEvents after
// it left, with no lock of this file held.
//
// Lock order: sessionLock -> pending-requests lock -> link lock -> log lock.
// SubmitRequest holds the pending-requests lock across PbxLink::SendRequest,
// whose beforeSend hook (run on the submitting thread, under the link lock)
// records the entry, so it exists before the frame can reach the PBX.
// Outcomes are reported with none of these locks held except sessionLock on
// the worker. The provider's call-table lock is never held while submitting;
// its sink takes that lock (after sessionLock) and nothing of this file.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "session/pbx_requests.h"
#include "session/session_events.h"
#include "xml/xml_node.h"

namespace qv {

// The provider's sink, registered at TSPI_providerInit before the session
// starts and cleared (nullptr) at shutdown after it stopped. Outcomes that
// come while none is registered are dropped.
void SetSessionEvents(SessionEvents* events);
// The registered sink, for the session's other reports; null when none.
SessionEvents* RegisteredSessionEvents();

// A frame from the PBX: a CSTAErrorCode refuses the request with this invoke
// id, the positive response its kind expects completes it (a MakeCall's
// identifiers are reported first). True when a request was answered.
bool AnswerPendingRequest(std::uint32_t invokeId, const XmlNode& root);

// For the connection's thread. Fails every request whose deadline is not
// after now, logging each; returns how many (the link is then considered
// dead).
std::size_t ExpireOverdueRequests(std::chrono::steady_clock::time_point now);
// The link is lost or the session stops: no pending request can be answered.
void FailPendingRequests(RequestOutcome outcome);
// The earliest deadline of a pending request.
std::optional<std::chrono::steady_clock::time_point> NextRequestDeadline();
// Requests waiting for their answer.
std::size_t PendingRequestCount();

}  // namespace qv
