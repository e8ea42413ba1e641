#pragma once
// Everything the provider tells TAPI (ASYNC_COMPLETION and LINEEVENT calls)
// goes through one queue and is delivered by one thread of ours: one call at
// a time, in the order queued, with none of our locks held, and never after
// TSPI_providerShutdown has returned.
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

}  // namespace qv
