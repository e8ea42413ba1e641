// A call from end to end: the provider's exports against pbxsim on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/socket.h"
#include "session/pbx_link.h"
#include "session/session_timing.h"
#include "tests/call_e2e/provider_harness.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Frames = std::vector<pbxsim::ReceivedFrame>;

class CallE2E : public ::testing::Test {
 protected:
  void SetUp() override { UseShortTimings(); }
  void TearDown() override {
    if (initialised_) ShutdownProvider();
    if (sim_) {
      EXPECT_TRUE(sim_->problems().empty()) << sim_->problems().front().problem;
      sim_->Stop();
    }
  }

  void StartPbx(pbxsim::Options options = {}, pbxsim::Behaviour behaviour = {}, std::string tlsversion = {}) {
    sim_ = std::make_unique<pbxsim::Simulator>(options);
    sim_->SetBehaviour(behaviour);
    ASSERT_TRUE(sim_->Start());
    SettingsStore store;
    store.port = sim_->port();
    store.encrypt = options.tls;
    store.tlsversion = std::move(tlsversion);
    store.invokeid = options.asciiInvokeIds ? "ascii" : "";
    WriteSettingsStore(store);
  }
  void Init() {
    completions().Clear();
    InitProvider();
    initialised_ = true;
  }
  void Shutdown() {
    ShutdownProvider();
    initialised_ = false;
  }
  bool WaitRoot(const std::string& root, std::size_t count, std::chrono::milliseconds timeout = 5s) {
    return sim_->WaitFor([&](const Frames& f) { return CountRoot(f, root) >= count; }, timeout);
  }
  // Makes a call, waits for its completion and returns the result.
  LONG CallAndWait(DRV_REQUESTID id, HDRVCALL* call, std::chrono::milliseconds timeout = 5s) {
    EXPECT_EQ(MakeCall(id, u"0301234", call), static_cast<LONG>(id));
    LONG result = 1;
    EXPECT_TRUE(completions().Wait(id, timeout, result)) << "no completion for " << id;
    return result;
  }

  std::unique_ptr<pbxsim::Simulator> sim_;
  bool initialised_ = false;
};

TEST_F(CallE2E, LoginMonitorMakeAndCloseWithThePbxIdentity) {
  StartPbx();
  pbxLink().SetNextInvokeId(1);
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  HDRVCALL call = nullptr;
  EXPECT_EQ(CallAndWait(10, &call), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  ASSERT_TRUE(WaitRoot("ClearConnection", 1));
  Frames f = sim_->frames();
  ASSERT_GE(f.size(), 4u);
  EXPECT_EQ(f[0].root, "StartApplicationSession");
  EXPECT_EQ(f[0].invokeId, 1u);
  EXPECT_EQ(f[0].field("userName"), "201");
  EXPECT_EQ(f[0].field("password"), "secret");
  EXPECT_EQ(f[1].invokeId, 2u);
  const auto& make = *std::find_if(f.begin(), f.end(), [](auto& x) { return x.root == "MakeCall"; });
  EXPECT_EQ(make.field("callingDevice"), "201@office");
  EXPECT_EQ(make.field("calledDirectoryNumber"), "0301234");
  const auto& clear = f.back();
  EXPECT_EQ(clear.root, "ClearConnection");
  EXPECT_EQ(clear.field("callID"), "1001");
  EXPECT_EQ(clear.field("deviceID"), "201");
  EXPECT_EQ(completions().Count(10), 1);
}

// A call made at once waits for the application session: the PBX sees the
// login, the monitor and then the call, and the log traces them in that order.
TEST_F(CallE2E, RequestsMadeDuringTheConnectFollowTheLoginAndTheMonitor) {
  StartPbx();
  const std::size_t logFrom = LogText().size();
  Init();
  HDRVCALL call = nullptr;
  EXPECT_EQ(CallAndWait(10, &call), 0);
  Frames f = sim_->frames();
  ASSERT_GE(f.size(), 3u);
  EXPECT_EQ(f[0].root, "StartApplicationSession");
  EXPECT_EQ(f[1].root, "MonitorStart");
  EXPECT_EQ(f[2].root, "MakeCall");
  const std::string log = LogText().substr(logFrom);
  const std::size_t login = log.find("CSTA Tx: <?xml version=\"1.0\"?>\r\n<StartApplicationSession");
  const std::size_t monitor =
      log.find("CSTA Tx: <?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<MonitorStart");
  const std::size_t make = log.find("CSTA Tx: <?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<MakeCall");
  ASSERT_NE(make, std::string::npos);
  EXPECT_LT(login, monitor);
  EXPECT_LT(monitor, make);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

// A server of the standard profile: four-digit invoke ids, the namespaces it
// names; login, monitor, a call placed and cleared, over plain TCP and TLS.
TEST_F(CallE2E, AsciiInvokeIdsAgainstAStandardServer) {
  for (bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "TCP");
    pbxsim::Options o;
    o.asciiInvokeIds = true;
    o.tls = tls;
    StartPbx(o);
    pbxLink().SetNextInvokeId(9997);
    const std::size_t logFrom = LogText().size();
    Init();
    // Made before the PBX chose its edition: it still goes out in that edition.
    HDRVCALL call = nullptr;
    EXPECT_EQ(CallAndWait(10, &call), 0);
    EXPECT_EQ(TSPI_lineCloseCall(call), 0);
    ASSERT_TRUE(WaitRoot("ClearConnection", 1));
    Frames f = sim_->frames();
    ASSERT_GE(f.size(), 4u);
    EXPECT_EQ(f[0].root, "StartApplicationSession");
    EXPECT_EQ(f[0].invokeId, 9997u);
    EXPECT_EQ(f[1].root, "MonitorStart");
    EXPECT_EQ(f[1].invokeId, 9998u);
    EXPECT_EQ(f[2].root, "MakeCall");
    EXPECT_EQ(f[2].invokeId, 1u) << "9999 is never issued";
    EXPECT_EQ(f.back().field("callID"), "1001");
    EXPECT_NE(LogText().substr(logFrom).find("<MakeCall xmlns=\"http://www.ecma-international.org/standards/"
                                             "ecma-323/csta/ed5\">"),
              std::string::npos);
    Shutdown();
    EXPECT_TRUE(sim_->problems().empty()) << sim_->problems().front().problem;
    sim_->Stop();
    sim_.reset();
  }
}

TEST_F(CallE2E, KeepAliveFollowsTheGrantedDurationAndItsAnswers) {
  pbxsim::Behaviour b;
  b.sessionDuration = "1";  // keep-alive due after 900 ms
  b.keepAliveDuration = "1";
  StartPbx({}, b);
  auto start = std::chrono::steady_clock::now();
  Init();
  ASSERT_TRUE(WaitRoot("ResetApplicationSessionTimer", 2, 5s));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 1700ms);
  Frames f = sim_->frames();
  for (const auto& x : f) {
    if (x.root == "ResetApplicationSessionTimer") {
      EXPECT_EQ(x.field("sessionID"), "pbxsim-session-1");
    }
  }
  EXPECT_EQ(sim_->connectionsAccepted(), 1);
}

TEST_F(CallE2E, UnansweredKeepAliveDropsTheConnectionAndLogsInAgain) {
  pbxsim::Behaviour b;
  b.sessionDuration = "1";
  b.silentKeepAlive = true;
  StartPbx({}, b);
  Init();
  ASSERT_TRUE(WaitRoot("StartApplicationSession", 2, 6s));
  EXPECT_GE(sim_->connectionsAccepted(), 2);
  EXPECT_NE(LogText().find("]:1 Keep-alive not answered, dropping the connection"), std::string::npos);
}

TEST_F(CallE2E, MissingOrNonNumericDurationStartsNoSession) {
  for (std::optional<std::string> duration :
       {std::optional<std::string>{}, std::optional<std::string>{"soon"}}) {
    pbxsim::Behaviour b;
    b.sessionDuration = duration;
    StartPbx({}, b);
    Init();
    HDRVCALL call = nullptr;
    EXPECT_EQ(CallAndWait(20, &call), 0) << "the worker survives the answer";
    EXPECT_EQ(sim_->Count("MonitorStart"), 0u);
    TSPI_lineCloseCall(call);
    Shutdown();
    sim_->Stop();
  }
}

TEST_F(CallE2E, WrongPasswordGetsNoMonitorAndNoKeepAlive) {
  pbxsim::Options o;
  o.expectedPassword = "other";
  pbxsim::Behaviour b;
  b.sessionDuration = "1";
  StartPbx(o, b);
  Init();
  ASSERT_TRUE(WaitRoot("StartApplicationSession", 1));
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(sim_->Count("MonitorStart"), 0u);
  EXPECT_EQ(sim_->Count("ResetApplicationSessionTimer"), 0u);
  EXPECT_EQ(sim_->connectionsAccepted(), 1) << "a refused login is not retried";
}

TEST_F(CallE2E, MakeCallCompletionRules) {
  StartPbx();
  Init();
  HDRVCALL call = nullptr;
  pbxsim::Behaviour b;
  b.makeCallError = true;
  sim_->SetBehaviour(b);
  EXPECT_EQ(CallAndWait(30, &call), kOperationFailed) << "CSTA error";
  TSPI_lineCloseCall(call);

  b = {};
  b.silentMakeCall = true;
  sim_->SetBehaviour(b);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CallAndWait(31, &call, 5s), kOperationFailed) << "no answer";
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
  TSPI_lineCloseCall(call);
  // Failed as before; a request left unanswered also marks the link dead.
  b = {};
  sim_->SetBehaviour(b);
  ASSERT_TRUE(WaitRoot("MonitorStart", 2));
  EXPECT_EQ(CallAndWait(32, &call), 0);
  TSPI_lineCloseCall(call);
  for (DRV_REQUESTID id : {30, 31, 32}) EXPECT_EQ(completions().Count(id), 1) << id;
}

TEST_F(CallE2E, AnswersSplitAtEveryByteOrCoalescedWithEventFloods) {
  StartPbx();
  Init();
  struct Case {
    bool split, coalesce;
    int flood;
  };
  DRV_REQUESTID id = 40;
  for (const Case& c : {Case{true, false, 3}, Case{false, true, 500}, Case{false, false, 2000}}) {
    pbxsim::Behaviour b;
    b.splitAnswers = c.split;
    b.coalesceAnswers = c.coalesce;
    b.floodEvents = c.flood;
    sim_->SetBehaviour(b);
    HDRVCALL call = nullptr;
    EXPECT_EQ(CallAndWait(id, &call, 10s), 0) << id;
    EXPECT_EQ(TSPI_lineCloseCall(call), 0);
    ++id;
  }
  ASSERT_TRUE(WaitRoot("ClearConnection", 3));
  Frames f = sim_->frames();
  for (const auto& x : f) {
    if (x.root == "ClearConnection") {
      EXPECT_NE(x.field("callID"), "") << "every answer was matched";
    }
  }
}

TEST_F(CallE2E, PbxClosingTheConnectionFailsThePendingCallAndReconnects) {
  pbxsim::Behaviour b;
  b.silentMakeCall = true;
  StartPbx({}, b);
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  HDRVCALL call = nullptr;
  ASSERT_EQ(MakeCall(50, u"1", &call), 50);
  ASSERT_TRUE(WaitRoot("MakeCall", 1));
  sim_->DropConnections();
  LONG result = 1;
  ASSERT_TRUE(completions().Wait(50, 1000ms, result)) << "failed at the drop, not at the time-out";
  EXPECT_EQ(result, kOperationFailed);
  TSPI_lineCloseCall(call);
  ASSERT_TRUE(WaitRoot("StartApplicationSession", 2));
  ASSERT_TRUE(WaitRoot("MonitorStart", 2));
  sim_->SetBehaviour({});
  EXPECT_EQ(CallAndWait(51, &call), 0);
  TSPI_lineCloseCall(call);
  std::string log = LogText();
  EXPECT_NE(log.find("]:1 Connection to \"127.0.0.1\" lost"), std::string::npos);
  EXPECT_NE(log.find("]:1 Reconnecting to \"127.0.0.1\" in "), std::string::npos);
}

TEST_F(CallE2E, RefusedConnectionsBackOffUntilThePbxIsBack) {
  StartPbx();
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  sim_->StopListening();
  sim_->DropConnections();
  HDRVCALL call = nullptr;
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(CallAndWait(60, &call, 1s), kOperationFailed) << "nothing to send it on";
  TSPI_lineCloseCall(call);
  std::this_thread::sleep_for(1200ms);
  ASSERT_TRUE(sim_->ResumeListening());
  ASSERT_TRUE(WaitRoot("StartApplicationSession", 2, 3s));
  EXPECT_EQ(CallAndWait(61, &call), 0);
  TSPI_lineCloseCall(call);
  std::string log = LogText();
  std::size_t attempts = 0;
  for (std::size_t at = 0;
       (at = log.find("Connection establishment to \"127.0.0.1\" failed", at)) != std::string::npos; ++at) {
    ++attempts;
  }
  EXPECT_GE(attempts, 3u);
  EXPECT_NE(log.find("in 400 ms"), std::string::npos) << "the delay doubles up to its limit";
}

TEST_F(CallE2E, PbxRestartThenTheNextCallSucceeds) {
  StartPbx();
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  ASSERT_TRUE(sim_->Restart());
  ASSERT_TRUE(WaitRoot("MonitorStart", 2));
  HDRVCALL call = nullptr;
  EXPECT_EQ(CallAndWait(70, &call), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

TEST_F(CallE2E, FrameWithLengthBelowEightDropsTheConnection) {
  StartPbx();
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  sim_->SendRaw(std::string("\0\0\0\5\0\0\0\1", 8));
  ASSERT_TRUE(WaitRoot("StartApplicationSession", 2));
  EXPECT_NE(LogText().find("]:1 CSTA Rx: frame length below 8, dropping the connection"), std::string::npos);
  HDRVCALL call = nullptr;
  EXPECT_EQ(CallAndWait(80, &call), 0);
  TSPI_lineCloseCall(call);
}

TEST_F(CallE2E, EncryptedSessionGetsAFreshTlsConnectionAfterADrop) {
  pbxsim::Options o;
  o.tls = true;
  StartPbx(o);
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  HDRVCALL call = nullptr;
  EXPECT_EQ(CallAndWait(85, &call), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  // Requests are written by the connection's own thread: wait for it.
  ASSERT_TRUE(WaitRoot("ClearConnection", 1));
  sim_->DropConnections();
  ASSERT_TRUE(WaitRoot("MonitorStart", 2));
  EXPECT_EQ(CallAndWait(86, &call), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  ASSERT_TRUE(WaitRoot("ClearConnection", 2));
  EXPECT_EQ(sim_->connectionsAccepted(), 2);
}

TEST_F(CallE2E, Tls12AgainstAModernPbxAndTls10Refused) {
  pbxsim::Options o;
  o.tls = o.tlsModern = true;
  StartPbx(o, {}, "1.2");
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  HDRVCALL call = nullptr;
  EXPECT_EQ(CallAndWait(87, &call), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  ASSERT_TRUE(WaitRoot("ClearConnection", 1));
  Shutdown();
  // The first release's hello: OpenSSL's defaults no longer take TLS 1.0.
  SettingsStore store;
  store.port = sim_->port();
  store.encrypt = true;
  WriteSettingsStore(store);
  Init();
  // OpenSSL answers the TLS 1.0 hello with a fatal alert; no login follows.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (LogText().find("CSTA: Alert(2, ") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_NE(LogText().find("CSTA: Alert(2, "), std::string::npos);
  EXPECT_EQ(sim_->Count("StartApplicationSession"), 1u);
}

TEST_F(CallE2E, ShutdownAndInitAgainWorksLikeTheFirstStart) {
  StartPbx();
  for (DRV_REQUESTID id : {90, 91}) {
    Init();
    HDRVCALL call = nullptr;
    EXPECT_EQ(CallAndWait(id, &call), 0);
    EXPECT_EQ(TSPI_lineCloseCall(call), 0);
    ASSERT_TRUE(WaitRoot("ClearConnection", id - 89));
    Shutdown();
  }
  EXPECT_EQ(sim_->Count("StartApplicationSession"), 2u);
  EXPECT_EQ(sim_->Count("ClearConnection"), 2u);
}

TEST_F(CallE2E, ShutdownReturnsWithinTwoSecondsInEveryState) {
  auto timedShutdown = [&](const char* state) {
    auto start = std::chrono::steady_clock::now();
    Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << state;
  };
  // Connected, the reader blocked in its receive, a call pending.
  pbxsim::Behaviour silent;
  silent.silentMakeCall = true;
  StartPbx({}, silent);
  Init();
  HDRVCALL call = nullptr;
  ASSERT_EQ(MakeCall(100, u"1", &call), 100);
  ASSERT_TRUE(WaitRoot("MakeCall", 1));
  timedShutdown("connected");
  LONG result = 1;
  EXPECT_TRUE(completions().Wait(100, 0ms, result)) << "completed before shutdown returned";
  EXPECT_EQ(result, kOperationFailed);
  std::size_t total = completions().Total();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(completions().Total(), total) << "nothing after shutdown";

  // Waiting out a long back-off.
  SessionTiming t = CurrentSessionTiming();
  t.firstRetryDelay = 60s;
  SetSessionTiming(t);
  sim_->StopListening();
  Init();
  std::this_thread::sleep_for(200ms);
  timedShutdown("back-off");

  // A connect in progress: a listener whose queue is full drops new SYNs.
  std::uint16_t port = 0;
  SocketHandle listener = listenTcp("127.0.0.1", 0, port);
  std::vector<SocketHandle> fillers;
  std::atomic<bool> never{false};
  for (int i = 0; i < 64; ++i) {
    ConnectResult r = connectTcp("127.0.0.1", std::to_string(port), never, 300);
    if (r.status != 0) break;
    fillers.push_back(r.socket);
  }
  SettingsStore store;
  store.port = port;
  WriteSettingsStore(store);
  t.firstRetryDelay = 10ms;
  SetSessionTiming(t);
  auto start = std::chrono::steady_clock::now();
  Init();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms) << "the first connect is bounded";
  std::this_thread::sleep_for(100ms);
  timedShutdown("connecting");
  for (SocketHandle s : fillers) closeSocket(s);
  closeSocket(listener);
}

}  // namespace
}  // namespace qv::test
