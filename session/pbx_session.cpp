// The PBX connection and its two threads. The reader owns the connection:
// it connects (again, with back-off, after any loss), logs in and feeds
// received bytes to the worker. The worker dispatches them, sends the
// keep-alive, and fails requests whose answers are overdue.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/socket.h"
#include "provider/call_table.h"
#include "session/csta_requests.h"
#include "session/csta_responses.h"
#include "session/data_ready.h"
#include "session/log.h"
#include "session/pbx_link.h"
#include "session/session.h"
#include "platform/ticks.h"
#include "session/session_timing.h"
#include "session/settings.h"

namespace qv {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kReceiveChunk = 1024;
// The reader stops receiving while this much waits for the worker.
constexpr std::size_t kMaxPendingReceive = 1 << 20;
// TSPI_providerInit waits this long for the first connection; after that
// the reader keeps trying in the background.
constexpr int kFirstConnectLimitMs = 3000;
constexpr int kReconnectLimitMs = 10000;

// Lock order: sessionLock -> call-table lock -> send lock -> log lock.
// backoffLock and DataReady's own lock are leaves.
struct Session {
  std::mutex sessionLock;
  SessionState state;               // guarded by sessionLock
  std::condition_variable drained;  // with sessionLock: the worker took receiveBuffer
  DataReady dataReady;
  std::atomic<bool> shuttingDown{false};
  std::mutex backoffLock;
  std::condition_variable backoffWake;
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

// One connection attempt; logs in when connected.
bool ConnectToPbx(Session& s, const ProviderSettings& settings, int limitMs) {
  ConnectResult result = connectTcp(settings.address, std::to_string(settings.port), s.shuttingDown, limitMs);
  if (result.status != 0) {
    writeLog(1, "Connection establishment to \"" + settings.address + "\" failed");
    return false;
  }
  {
    std::lock_guard lock(s.sessionLock);
    s.state.Reset();
  }
  pbxLink().Attach(result.socket, settings.encrypt, settings.domain);
  // A stop that came while connecting did not see this socket.
  if (s.shuttingDown) pbxLink().Abort();
  SendStartApplicationSession(settings.domain, settings.username, settings.password);
  return true;
}

void ConnectionLost(Session& s, const ProviderSettings& settings) {
  closeSocket(pbxLink().Detach());
  {
    std::lock_guard lock(s.sessionLock);
    s.state.Reset();
  }
  FailPendingMakeCalls();
  DeliverCompletions();
  if (!s.shuttingDown) writeLog(1, "Connection to \"" + settings.address + "\" lost");
}

void ReaderThread(Session& s, bool connected) {
  ProviderSettings settings = SettingsSnapshot();
  milliseconds delay = CurrentSessionTiming().firstRetryDelay;
  char buffer[kReceiveChunk];
  while (!s.shuttingDown) {
    if (!connected) {
      writeLog(1, "Reconnecting to \"" + settings.address + "\" in " + std::to_string(delay.count()) + " ms");
      if (!SleepUnlessStopping(s, delay)) break;
      delay = std::min(delay * 2, CurrentSessionTiming().maxRetryDelay);
      settings = SettingsSnapshot();
      connected = ConnectToPbx(s, settings, kReconnectLimitMs);
      continue;
    }
    long n = receiveSome(pbxLink().Socket(), buffer, sizeof buffer);
    if (n <= 0) {
      ConnectionLost(s, settings);
      connected = false;
      continue;
    }
    // The PBX answers: the next loss starts the back-off afresh.
    delay = CurrentSessionTiming().firstRetryDelay;
    {
      std::lock_guard lock(s.sessionLock);
      s.state.receiveBuffer.append(buffer, static_cast<std::size_t>(n));
    }
    s.dataReady.Release();
    std::unique_lock lock(s.sessionLock);
    s.drained.wait(
        lock, [&] { return s.state.receiveBuffer.size() < kMaxPendingReceive || s.shuttingDown.load(); });
  }
  if (connected) closeSocket(pbxLink().Detach());
}

std::uint32_t ticksOf(const SessionState& state) { return state.ticks ? state.ticks() : tickCount32(); }

// Time until the worker has something to do without new data.
milliseconds NextWait(Session& s) {
  milliseconds wait = milliseconds(3600 * 1000);
  {
    std::lock_guard lock(s.sessionLock);
    std::uint32_t now = ticksOf(s.state);
    auto until = [now](std::uint32_t deadline) {
      return milliseconds(std::max<std::int32_t>(0, static_cast<std::int32_t>(deadline - now)));
    };
    if (s.state.keepAliveArmed) wait = std::min(wait, until(s.state.keepAliveDeadline));
    if (s.state.keepAliveAnswerDue) wait = std::min(wait, until(s.state.keepAliveAnswerDeadline));
  }
  if (auto deadline = NextMakeCallDeadline()) {
    auto left = std::chrono::ceil<milliseconds>(*deadline - std::chrono::steady_clock::now());
    wait = std::min(wait, std::max(left, milliseconds(0)));
  }
  return wait;
}

void WorkerThread(Session& s) {
  for (;;) {
    bool data = s.dataReady.WaitFor(NextWait(s));
    if (s.shuttingDown) break;
    {
      std::lock_guard lock(s.sessionLock);
      SessionState& state = s.state;
      if (data) {
        ProcessReceivedData(state);
        s.drained.notify_all();
      }
      std::uint32_t now = ticksOf(state);
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
    ExpirePendingMakeCalls(std::chrono::steady_clock::now());
    DeliverCompletions();
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
  OpenCompletions();
  ProviderSettings settings = SettingsSnapshot();
  bool connected = ConnectToPbx(s, settings, kFirstConnectLimitMs);
  // The login is built and traced even without a connection; its send fails.
  if (!connected) SendStartApplicationSession(settings.domain, settings.username, settings.password);
  {
    std::lock_guard lock(s.sessionLock);
    s.worker = std::thread(WorkerThread, std::ref(s));
    s.reader = std::thread(ReaderThread, std::ref(s), connected);
  }
  s.running = true;
}

void StopSession() {
  Session& s = session();
  if (!s.running) return;
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
  FailPendingMakeCalls();
  DeliverCompletions();
  CloseCompletions();
  if (s.networkingStarted) stopNetworking();
  s.networkingStarted = false;
  s.running = false;
}

void WakeSessionWorker() { session().dataReady.Release(); }

}  // namespace qv
