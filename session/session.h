#pragma once
// The PBX session: started by TSPI_providerInit, stopped by
// TSPI_providerShutdown.

namespace qv {

// Reads the settings, connects to the PBX, logs in and starts the session's
// threads. Failures are logged, never reported to the caller.
void StartSession();
// Closes the connection and waits until the session's threads have ended.
// Returns within about two seconds whatever the connection is doing.
void StopSession();
// Makes the worker look at its deadlines again (a new MakeCall is waiting
// for its answer).
void WakeSessionWorker();

}  // namespace qv
