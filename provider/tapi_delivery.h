#pragma once
// Everything the provider tells TAPI (ASYNC_COMPLETION and LINEEVENT calls)
// goes through one queue and is delivered by one thread of ours: one call at
// a time, in the order queued, with none of our locks held, and never after
// TSPI_providerShutdown has returned.
#include <chrono>
#include <functional>

#include "platform/tapi.h"

namespace qv {

// At TSPI_providerInit, before the session starts.
void StartTapiDelivery(ASYNC_COMPLETION completionProc);
// At TSPI_providerShutdown, after the session stopped: delivers what is
// queued, then ends the thread. Later queueing is dropped.
void StopTapiDelivery();

// A completion of an asynchronous request.
void QueueCompletion(DRV_REQUESTID requestId, LONG result);
// Any other call into TAPI (line events); it runs on the delivery thread.
void QueueTapiCall(std::function<void()> call);

// Between these two, what this thread queues wakes the delivery thread only
// at the end (nested pairs count).
void BeginTapiBatch();
void EndTapiBatch();

// An entry point that must have its completions delivered before it returns
// (TSPI_lineCloseCall, TSPI_lineClose) queues them and then waits for the
// delivery thread. Called on that thread (TAPI called the entry point from
// inside one of our calls into it) it cannot wait: the completions are
// queued ahead of everything else instead, so they are the next calls into
// TAPI once the current one returns.
bool OnDeliveryThread();
// A completion delivered before everything already queued.
void QueueCompletionFirst(DRV_REQUESTID requestId, LONG result);
// Waits until everything queued before this call has been delivered, the
// queue stops, or `limit` passes (false then). Never on the delivery thread.
bool WaitUntilDelivered(std::chrono::milliseconds limit);

}  // namespace qv
