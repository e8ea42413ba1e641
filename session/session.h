#pragma once
// The PBX session: started by TSPI_providerInit, stopped by
// TSPI_providerShutdown.

#include <chrono>

namespace qv {

// Reads the settings and starts the session's threads; the reader connects
// and logs in, so this never waits on the network. Failures are logged,
// never reported to the caller.
void StartSession();
// Closes the connection and waits until the session's threads have ended.
// Returns within about two seconds whatever the connection is doing.
void StopSession();
// Makes the worker look at its deadlines again (a new MakeCall is waiting
// for its answer).
void WakeSessionWorker();
// The same, but only when the worker would sleep past `deadline` (a request
// whose answer is due then was just recorded where the worker looks).
void WakeSessionWorkerBefore(std::chrono::steady_clock::time_point deadline);
// True from the start of StopSession until the next StartSession: a link
// that goes down now goes because the provider shuts down.
bool SessionStopping();
// The settings were replaced: a session waiting for a PBX address looks again.
void SettingsChanged();

}  // namespace qv
