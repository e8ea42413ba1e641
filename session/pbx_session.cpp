// The PBX connection and its two threads. The reader owns the connection:
// it connects (again, with back-off, after any loss), logs in and feeds
// received bytes to the worker. The worker dispatches them, sends the
// keep-alive, and fails requests whose answers are overdue.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/socket.h"
#include "platform/ticks.h"
#include "session/call_event_report.h"
#include "session/csta_profile.h"
#include "session/csta_requests.h"
#include "session/csta_responses.h"
#include "session/data_ready.h"
#include "session/line_monitors.h"
#include "session/log.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "session/session.h"
#include "session/session_timing.h"
#include "session/settings.h"

namespace qv {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kReceiveChunk = 1024;
// The reader stops receiving while this much waits for the worker.
constexpr std::size_t kMaxPendingReceive = 1 << 20;
// Shutdown gives the writer this long for the requests still queued.
constexpr milliseconds kShutdownFlushLimit{500};

// Lock order: sessionLock -> pending-requests lock -> link lock -> log lock.
// backoffLock and DataReady's own lock are leaves.
struct Session {
  std::mutex sessionLock;
  SessionState state;               // guarded by sessionLock
  std::condition_variable drained;  // with sessionLock: the worker took receiveBuffer
  DataReady dataReady;
  // Until when the worker sleeps (steady clock ticks); kAwake while it is
  // working out its next wait, so a new deadline then always wakes it.
  static constexpr std::int64_t kAwake = std::numeric_limits<std::int64_t>::min();
  std::atomic<std::int64_t> sleepsUntil{kAwake};
  std::atomic<bool> shuttingDown{false};
  std::mutex backoffLock;
  std::condition_variable backoffWake;
  std::uint32_t settingsGeneration = 0;  // guarded by backoffLock
  std::thread reader;
  std::thread worker;
  bool running = false;  // only touched by StartSession/StopSession
  bool networkingStarted = false;
};

Session& session() {
  static Session s;
  return s;
}

// False when the session stops during the wait.
bool SleepUnlessStopping(Session& s, milliseconds delay) {
  std::unique_lock lock(s.backoffLock);
  return !s.backoffWake.wait_for(lock, delay, [&] { return s.shuttingDown.load(); });
}

// Without an address there is nothing to connect to until the settings are
// read again. False when the session stops meanwhile.
bool WaitForAddress(Session& s, ProviderSettings& settings) {
  writeLog(1, "No PBX address configured, not connecting");
  std::unique_lock lock(s.backoffLock);
  for (;;) {
    settings = SettingsSnapshot();
    if (!settings.address.empty()) return true;
    const std::uint32_t seen = s.settingsGeneration;
    s.backoffWake.wait(lock, [&] { return s.shuttingDown.load() || s.settingsGeneration != seen; });
    if (s.shuttingDown) return false;
  }
}

void FailWaitingRequests() { FailPendingRequests(RequestOutcome::kLinkLost); }

// One connection attempt on the reader's thread; requests made meanwhile
// wait in the link's queue and follow the login.
bool ConnectToPbx(Session& s, const ProviderSettings& settings, bool firstAttempt) {
  // The frame and namespaces of this connection, before anything is queued for it.
  SetCstaProfile(ParseInvokeIdFormat(settings.invokeid).value_or(InvokeIdFormat::kBinary));
  pbxLink().BeginConnecting();
  ConnectResult result = connectTcp(settings.address, std::to_string(settings.port), s.shuttingDown,
                                    static_cast<int>(CurrentSessionTiming().connectTimeout.count()));
  if (result.status != 0) {
    if (result.lookupUnfinished && !s.shuttingDown) {
      writeLog(1, "Name lookup of \"" + settings.address + "\" not answered within " +
                      std::to_string(CurrentSessionTiming().connectTimeout.count()) + " ms");
    }
    writeLog(1, "Connection establishment to \"" + settings.address + "\" failed");
    pbxLink().ConnectFailed();
    // The login of the first attempt is built and traced even without a
    // connection; it is not sent.
    if (firstAttempt) {
      pbxLink().SendRequestFirst(
          StartApplicationSessionXml(settings.domain, settings.username, settings.password));
    }
    FailWaitingRequests();
    return false;
  }
  {
    std::lock_guard lock(s.sessionLock);
    s.state.Reset();
  }
  pbxLink().Attach(result.socket, settings.encrypt, settings.domain,
                   settings.address + ":" + std::to_string(settings.port));
  // A stop that came while connecting did not see this socket.
  if (s.shuttingDown) pbxLink().Abort();
  pbxLink().SendRequestFirst(
      StartApplicationSessionXml(settings.domain, settings.username, settings.password));
  return true;
}

void ConnectionLost(Session& s, const ProviderSettings& settings) {
  pbxLink().Abort();
  closeSocket(pbxLink().Detach());
  {
    std::lock_guard lock(s.sessionLock);
    s.state.Reset();
  }
  FailWaitingRequests();
  StopLineMonitors();
  ReportLinkDown();
  if (!s.shuttingDown) writeLog(1, "Connection to \"" + settings.address + "\" lost");
}

// Receives until the connection ends.
void ReceiveUntilLost(Session& s) {
  char buffer[kReceiveChunk];
  while (!s.shuttingDown) {
    long n = receiveSome(pbxLink().Socket(), buffer, sizeof buffer);
    if (n <= 0) return;
    {
      std::lock_guard lock(s.sessionLock);
      s.state.receiveBuffer.append(buffer, static_cast<std::size_t>(n));
    }
    s.dataReady.Release();
    std::unique_lock lock(s.sessionLock);
    s.drained.wait(
        lock, [&] { return s.state.receiveBuffer.size() < kMaxPendingReceive || s.shuttingDown.load(); });
  }
}

// The reader owns the connection: it resolves, connects and logs in (the
// first time too, so TSPI_providerInit never waits on the network), and
// connects again with back-off after any loss.
void ReaderThread(Session& s) {
  ProviderSettings settings = SettingsSnapshot();
  milliseconds delay = CurrentSessionTiming().firstRetryDelay;
  bool firstAttempt = true;
  while (!s.shuttingDown) {
    if (!firstAttempt) {
      writeLog(1, "Reconnecting to \"" + settings.address + "\" in " + std::to_string(delay.count()) + " ms");
      if (!SleepUnlessStopping(s, delay)) break;
      delay = std::min(delay * 2, CurrentSessionTiming().maxRetryDelay);
      settings = SettingsSnapshot();
    }
    if (settings.address.empty()) {
      if (!WaitForAddress(s, settings)) break;
      firstAttempt = true;
      delay = CurrentSessionTiming().firstRetryDelay;
    }
    const bool connected = ConnectToPbx(s, settings, firstAttempt);
    firstAttempt = false;
    if (!connected) continue;
    ReceiveUntilLost(s);
    // Only a PBX that accepted the login restarts the back-off; one that
    // answers every connect with garbage or a close keeps backing off.
    if (pbxLink().LoggedIn()) delay = CurrentSessionTiming().firstRetryDelay;
    ConnectionLost(s, settings);
  }
}

// Time until the worker has something to do without new data.
milliseconds NextWait(Session& s) {
  milliseconds wait = milliseconds(3600 * 1000);
  {
    std::lock_guard lock(s.sessionLock);
    std::uint32_t now = SessionTicks(s.state);
    auto until = [now](std::uint32_t deadline) {
      return milliseconds(std::max<std::int32_t>(0, static_cast<std::int32_t>(deadline - now)));
    };
    if (s.state.keepAliveArmed) wait = std::min(wait, until(s.state.keepAliveDeadline));
    if (s.state.keepAliveAnswerDue) wait = std::min(wait, until(s.state.keepAliveAnswerDeadline));
  }
  auto consider = [&wait](std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!deadline) return;
    auto left = std::chrono::ceil<milliseconds>(*deadline - std::chrono::steady_clock::now());
    wait = std::min(wait, std::max(left, milliseconds(0)));
  };
  consider(NextRequestDeadline());
  consider(pbxLink().NextDeadline());
  // Never longer than a new request's answer may take: then a request made
  // while the worker sleeps is due after it wakes anyway, and need not wake it.
  const SessionTiming timing = CurrentSessionTiming();
  return std::min(wait, std::max(std::min(timing.completionTimeout, timing.requestTimeout), milliseconds(1)));
}

void WorkerThread(Session& s) {
  for (;;) {
    s.sleepsUntil = Session::kAwake;
    const milliseconds wait = NextWait(s);
    s.sleepsUntil = (std::chrono::steady_clock::now() + wait).time_since_epoch().count();
    bool data = s.dataReady.WaitFor(wait);
    if (s.shuttingDown) break;
    {
      std::lock_guard lock(s.sessionLock);
      SessionState& state = s.state;
      if (data) {
        ProcessReceivedData(state);
        s.drained.notify_all();
      }
      std::uint32_t now = SessionTicks(state);
      if (state.keepAliveArmed && static_cast<std::int32_t>(state.keepAliveDeadline - now) <= 0) {
        state.keepAliveArmed = false;
        state.keepAliveAnswerDue = true;
        state.keepAliveAnswerDeadline =
            now + static_cast<std::uint32_t>(CurrentSessionTiming().keepAliveAnswerTimeout.count());
        SendResetApplicationSessionTimer(state.applicationSessionId);
      } else if (state.keepAliveAnswerDue &&
                 static_cast<std::int32_t>(state.keepAliveAnswerDeadline - now) <= 0) {
        state.keepAliveAnswerDue = false;
        writeLog(1, "Keep-alive not answered, dropping the connection");
        state.dropConnection = true;
      }
      // Under sessionLock, so the abort cannot hit the next connection: the
      // reader resets the state under this lock before it attaches one.
      if (state.dropConnection) pbxLink().Abort();
    }
    // An overdue request is failed first, then its connection dropped.
    ExpireOverdueRequests(std::chrono::steady_clock::now());
    pbxLink().AbortIfOverdue(std::chrono::steady_clock::now());
  }
}

}  // namespace

void StartSession() {
  Session& s = session();
  if (s.running) return;
  s.networkingStarted = startNetworking();
  if (!s.networkingStarted) writeLog(1, "Could not find a usable WinSock DLL");
  s.shuttingDown = false;
  s.dataReady.Reset();
  {
    std::lock_guard lock(s.sessionLock);
    s.state.Reset();
  }
  ReadSettings();
  SetCstaProfile(InvokeIdFormatOfSettings());
  // Requests made from now on wait for the first connection; the reader
  // makes it.
  if (!SettingsSnapshot().address.empty()) pbxLink().BeginConnecting();
  {
    std::lock_guard lock(s.sessionLock);
    s.worker = std::thread(WorkerThread, std::ref(s));
    s.reader = std::thread(ReaderThread, std::ref(s));
  }
  s.running = true;
}

void StopSession() {
  Session& s = session();
  if (!s.running) return;
  // What TAPI's threads queued last (a ClearConnection) still goes out.
  pbxLink().Flush(kShutdownFlushLimit);
  s.shuttingDown = true;
  { std::lock_guard lock(s.backoffLock); }
  s.backoffWake.notify_all();
  { std::lock_guard lock(s.sessionLock); }
  s.drained.notify_all();
  pbxLink().Abort();
  s.dataReady.Release();
  s.worker.join();
  s.reader.join();
  closeSocket(pbxLink().Detach());
  // Tickets live in memory only, for one load of the provider.
  pbxLink().ForgetResumption();
  FailPendingRequests(RequestOutcome::kShutdown);
  if (s.networkingStarted) stopNetworking();
  s.networkingStarted = false;
  s.running = false;
}

bool SessionStopping() { return session().shuttingDown.load(); }

void WakeSessionWorker() { session().dataReady.Release(); }

void WakeSessionWorkerBefore(std::chrono::steady_clock::time_point deadline) {
  Session& s = session();
  // Saves a thread wake-up on every request made while the worker sleeps:
  // it never sleeps longer than an answer may take (NextWait).
  const std::int64_t until = s.sleepsUntil;
  if (until == Session::kAwake || deadline.time_since_epoch().count() < until) s.dataReady.Release();
}

void SettingsChanged() {
  Session& s = session();
  {
    std::lock_guard lock(s.backoffLock);
    ++s.settingsGeneration;
  }
  s.backoffWake.notify_all();
}

}  // namespace qv
