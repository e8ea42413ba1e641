// A PBX that is dead, out of step or stops reading: the provider notices
// within its deadlines, reconnects with back-off, and no TAPI entry point
// waits on the network meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "session/config_dialog.h"
#include "session/session_timing.h"
#include "session/settings.h"
#include "platform/socket.h"
#include "tests/call_e2e/provider_harness.h"
#include "tests/platform/hanging_resolver.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Detection within the product's 60 s needs the shortened timings; these
// waits leave room for a slow (sanitised) run.
constexpr auto kDetect = 20s;

class LinkFault : public ::testing::Test {
 protected:
  void SetUp() override {
    UseShortTimings();
    mark_ = LogText().size();
  }
  // The log since the test began.
  std::string Log() { return LogText().substr(std::min(mark_, LogText().size())); }
  void TearDown() override {
    if (initialised_) ShutdownProvider();
    if (sim_) sim_->Stop();
  }

  void StartPbx(pbxsim::Options options = {}, pbxsim::Behaviour behaviour = {}) {
    sim_ = std::make_unique<pbxsim::Simulator>(options);
    sim_->SetBehaviour(behaviour);
    ASSERT_TRUE(sim_->Start());
    SettingsStore store;
    store.port = sim_->port();
    store.encrypt = options.tls;
    WriteSettingsStore(store);
  }
  // TSPI_providerInit; returns how long it took.
  Clock::duration Init() {
    completions().Clear();
    auto start = Clock::now();
    InitProvider();
    auto took = Clock::now() - start;
    initialised_ = true;
    return took;
  }
  void Shutdown() {
    ShutdownProvider();
    initialised_ = false;
  }
  bool WaitRoot(const std::string& root, std::size_t count, std::chrono::milliseconds timeout = 5s) {
    return sim_->WaitFor([&](const auto& f) { return CountRoot(f, root) >= count; }, timeout);
  }

  std::unique_ptr<pbxsim::Simulator> sim_;
  bool initialised_ = false;
  std::size_t mark_ = 0;
};

struct DeadLinkCase {
  const char* name;
  bool tls;
  pbxsim::Behaviour atAccept;  // from the first connect
  pbxsim::Behaviour afterLogin;
  bool call;            // place a call once logged in
  const char* logLine;  // the deadline or check that fired
};

pbxsim::Behaviour Silent() {
  pbxsim::Behaviour b;
  b.silentAfterAccept = true;
  return b;
}
pbxsim::Behaviour Stall() {
  pbxsim::Behaviour b;
  b.stallMidFrame = true;
  return b;
}
pbxsim::Behaviour Garbage() {
  pbxsim::Behaviour b;
  b.garbageAnswers = true;
  return b;
}
pbxsim::Behaviour AlertThenSilence() {
  pbxsim::Behaviour b;
  b.alertThenSilence = true;
  return b;
}
pbxsim::Behaviour SilentMakeCall() {
  pbxsim::Behaviour b;
  b.silentMakeCall = true;
  return b;
}

TEST_F(LinkFault, DeadOrDesynchronisedLinksAreDroppedAndReconnected) {
  const DeadLinkCase cases[] = {
      {"silent after accept",
       false,
       Silent(),
       {},
       false,
       "]:1 Login not answered within 1000 ms of the connect"},
      {"silent after accept, TLS",
       true,
       Silent(),
       {},
       false,
       "]:1 TLS handshake not completed within 1000 ms of the connect"},
      {"stall mid-frame", false, {}, Stall(), true, "]:1 Request "},
      {"garbage answer",
       false,
       {},
       Garbage(),
       true,
       "]:1 CSTA Rx: frame does not start with two zero bytes, dropping the connection"},
      {"fatal TLS alert, then silence",
       true,
       AlertThenSilence(),
       {},
       false,
       "]:1 TLS alert from the PBX, dropping the connection"},
      {"unanswered request", false, {}, SilentMakeCall(), true, "]:1 Request "},
  };
  DRV_REQUESTID id = 100;
  for (const DeadLinkCase& c : cases) {
    SCOPED_TRACE(c.name);
    pbxsim::Options o;
    o.tls = c.tls;
    StartPbx(o, c.atAccept);
    Init();
    if (c.call) {
      ASSERT_TRUE(WaitRoot("MonitorStart", 1));
      sim_->SetBehaviour(c.afterLogin);
      HDRVCALL call = nullptr;
      ASSERT_EQ(MakeCall(id, u"0301234", &call), static_cast<LONG>(id));
      LONG result = 0;
      EXPECT_TRUE(completions().Wait(id, kDetect, result));
      EXPECT_EQ(result, kOperationFailed);
      TSPI_lineCloseCall(call);
      ++id;
    }
    auto start = Clock::now();
    EXPECT_TRUE(WaitForLog(c.logLine, kDetect, mark_)) << Log();
    EXPECT_TRUE(sim_->WaitForConnections(2, kDetect)) << "reconnected";
    EXPECT_LT(Clock::now() - start, 60s);
    if (c.call) {
      EXPECT_TRUE(WaitForLog("dropping the connection", 0ms, mark_));
    }
    auto stop = Clock::now();
    Shutdown();
    EXPECT_LT(Clock::now() - stop, 2s);
    sim_->Stop();
    mark_ = LogText().size();
  }
}

TEST_F(LinkFault, BackOffKeepsGrowingUntilALoginIsAccepted) {
  struct Case {
    const char* name;
    bool tls;
    pbxsim::Behaviour b;
  };
  pbxsim::Behaviour close;
  close.closeAfterAccept = true;
  pbxsim::Behaviour alert;
  alert.alertAndClose = true;
  for (const Case& c :
       {Case{"garbage instead of the login answer", false, Garbage()},
        Case{"alert at every connect", true, alert}, Case{"close at every connect", false, close}}) {
    SCOPED_TRACE(c.name);
    pbxsim::Options o;
    o.tls = c.tls;
    StartPbx(o, c.b);
    Init();
    // 100, 200, 400, 400 ms: the delay reaches its limit and stays there.
    ASSERT_TRUE(WaitForLog("in 400 ms", 10s, mark_)) << Log();
    ASSERT_TRUE(sim_->WaitForConnections(6, 10s));
    auto log = Log();
    EXPECT_EQ(log.find("in 100 ms", log.find("in 400 ms")), std::string::npos)
        << "never back to the first delay";
    // A PBX that accepts the login again restarts the back-off.
    sim_->SetBehaviour({});
    ASSERT_TRUE(WaitRoot("MonitorStart", 1, 10s));
    std::size_t before = CountInLog("in 100 ms", mark_);
    sim_->DropConnections();
    ASSERT_TRUE(WaitRoot("MonitorStart", 2, 10s));
    EXPECT_EQ(CountInLog("in 100 ms", mark_), before + 1);
    Shutdown();
    sim_->Stop();
    mark_ = LogText().size();
  }
}

TEST_F(LinkFault, InitReturnsAtOnceWhateverThePbxDoes) {
  auto bound = 50ms;
  {
    SCOPED_TRACE("up");
    StartPbx();
    EXPECT_LT(Init(), bound);
    ASSERT_TRUE(WaitRoot("MonitorStart", 1));
    Shutdown();
    sim_->Stop();
  }
  {
    SCOPED_TRACE("refusing");
    StartPbx();
    sim_->StopListening();
    EXPECT_LT(Init(), bound);
    EXPECT_TRUE(WaitForLog("Connection establishment to \"127.0.0.1\" failed", 5s, mark_));
    Shutdown();
    sim_->Stop();
  }
  {
    SCOPED_TRACE("black-holed");
    BlackHole hole;
    ASSERT_TRUE(hole.Ok());
    SettingsStore store;
    store.port = hole.port();
    WriteSettingsStore(store);
    EXPECT_LT(Init(), bound);
    auto start = Clock::now();
    Shutdown();
    EXPECT_LT(Clock::now() - start, 2s) << "a connect in progress is abandoned";
  }
  for (auto [name, b] :
       {std::pair{"silent after accept", Silent()}, std::pair{"not reading", pbxsim::Behaviour{}}}) {
    SCOPED_TRACE(name);
    if (std::string(name) == "not reading") b.stopReading = true;
    StartPbx({}, b);
    EXPECT_LT(Init(), bound);
    ASSERT_TRUE(sim_->WaitForConnections(1, 5s));
    Shutdown();
    sim_->Stop();
  }
}

TEST_F(LinkFault, InitThenDialAtOnce) {
  // A live PBX: the call waits for the application session and follows the
  // login and the monitor.
  StartPbx();
  Init();
  HDRVCALL call = nullptr;
  ASSERT_EQ(MakeCall(200, u"0301234", &call), 200);
  LONG result = 1;
  ASSERT_TRUE(completions().Wait(200, 5s, result));
  EXPECT_EQ(result, 0);
  TSPI_lineCloseCall(call);
  auto frames = sim_->frames();
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(frames[0].root, "StartApplicationSession");
  EXPECT_EQ(frames[1].root, "MonitorStart");
  EXPECT_EQ(frames[2].root, "MakeCall");
  EXPECT_TRUE(sim_->problems().empty()) << "invoke ids still increase on the wire";
  Shutdown();
  sim_->Stop();

  // A PBX that refuses: the call fails when the connect does.
  StartPbx();
  sim_->StopListening();
  Init();
  ASSERT_EQ(MakeCall(201, u"0301234", &call), 201);
  auto start = Clock::now();
  ASSERT_TRUE(completions().Wait(201, 5s, result));
  EXPECT_EQ(result, kOperationFailed);
  EXPECT_LT(Clock::now() - start, 1000ms) << "not at the answer deadline";
  TSPI_lineCloseCall(call);
  Shutdown();
  sim_->Stop();

  // Black-holed: the call fails at its answer deadline.
  BlackHole hole;
  ASSERT_TRUE(hole.Ok());
  SettingsStore store;
  store.port = hole.port();
  WriteSettingsStore(store);
  Init();
  ASSERT_EQ(MakeCall(202, u"0301234", &call), 202);
  ASSERT_TRUE(completions().Wait(202, 5s, result));
  EXPECT_EQ(result, kOperationFailed);
  TSPI_lineCloseCall(call);
  Shutdown();
}

TEST_F(LinkFault, NoAddressNoConnection) {
  SettingsStore store;
  store.address = "";
  WriteSettingsStore(store);
  Init();
  ASSERT_TRUE(WaitForLog("]:1 No PBX address configured, not connecting", 5s, mark_));
  HDRVCALL call = nullptr;
  ASSERT_EQ(MakeCall(300, u"1", &call), 300);
  LONG result = 1;
  auto start = Clock::now();
  ASSERT_TRUE(completions().Wait(300, 5s, result));
  EXPECT_LT(Clock::now() - start, 1s) << "failed at once, not at the answer deadline";
  EXPECT_EQ(result, kOperationFailed);
  TSPI_lineCloseCall(call);
  EXPECT_EQ(Log().find("Connection establishment"), std::string::npos);

  // The dialog's OK gives an address: the link starts.
  StartPbx();
  ConfigForm form = MakeConfigForm(LoadConfigSettings());
  form.address = "127.0.0.1";
  form.port = std::to_string(sim_->port());
  form.passwordRepeat = form.password;
  form.encrypt = false;
  ASSERT_FALSE(AcceptConfigForm(LoadConfigSettings(), form).has_value());
  ASSERT_TRUE(WaitRoot("MonitorStart", 1));
  Shutdown();

  // So does a new TSPI_providerInit with an address in the registry.
  store.address = "";
  WriteSettingsStore(store);
  std::size_t before = CountInLog("No PBX address configured");
  Init();
  auto until = Clock::now() + 5s;
  while (CountInLog("No PBX address configured") == before && Clock::now() < until)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(CountInLog("No PBX address configured"), before + 1);
  Shutdown();
  store.address = "127.0.0.1";
  store.port = sim_->port();
  WriteSettingsStore(store);
  Init();
  ASSERT_TRUE(WaitRoot("MonitorStart", 2));
}

// A DNS server that never answers: the lookup runs on a thread of its own,
// so init, calls and shutdown keep their bounds, and the attempt is given up
// at the connect limit with a line that says so.
TEST_F(LinkFault, AHangingNameLookupHoldsNothingUp) {
  SettingsStore store;
  store.address = "pbx.hang.test";
  store.port = 5060;
  WriteSettingsStore(store);
  EXPECT_LT(Init(), 50ms);
  HDRVCALL call = nullptr;
  ASSERT_EQ(MakeCall(400, u"1", &call), 400);
  LONG result = 1;
  ASSERT_TRUE(completions().Wait(400, 5s, result));
  EXPECT_EQ(result, kOperationFailed);
  TSPI_lineCloseCall(call);
  ASSERT_TRUE(WaitForLog("]:1 Name lookup of \"pbx.hang.test\" not answered within 3000 ms", kDetect, mark_));
  EXPECT_TRUE(WaitForLog("Reconnecting to \"pbx.hang.test\"", 5s, mark_));

  // Shutdown while the next lookup hangs.
  auto until = Clock::now() + 5s;
  while (test::HungLookups() < 2 && Clock::now() < until) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(test::HungLookups(), 2);
  auto start = Clock::now();
  Shutdown();
  EXPECT_LT(Clock::now() - start, 2s);

  test::ReleaseHungLookups();
  until = Clock::now() + 5s;
  while (unfinishedNameLookups() > 0 && Clock::now() < until) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(unfinishedNameLookups(), 0);
  test::HangLookupsAgain();
}

TEST_F(LinkFault, APbxThatStopsReadingBlocksNoEntryPoint) {
  // Only the queue bound may stop requests: the login stays unanswered and
  // calls time out quickly so their slots come free.
  SessionTiming t = CurrentSessionTiming();
  t.loginTimeout = 120s;
  t.requestTimeout = 120s;
  t.completionTimeout = 50ms;
  SetSessionTiming(t);
  pbxsim::Behaviour b;
  b.stopReading = true;
  StartPbx({}, b);
  // Level 1: the refusal is logged, the 60 KB requests are not traced.
  SettingsStore store;
  store.port = sim_->port();
  store.loglevel = 1;
  WriteSettingsStore(store);
  Init();
  ASSERT_TRUE(sim_->WaitForConnections(1, 5s));
  // Long numbers make large frames, so the socket's buffers fill quickly.
  const std::u16string number(60000, u'7');
  Clock::duration longestMake{}, longestClose{};
  DRV_REQUESTID id = 1000;
  bool full = false;
  while (!full && id < 3000) {
    std::vector<std::pair<DRV_REQUESTID, HDRVCALL>> calls;
    // Three frames fit the queue: only a socket that takes nothing more fills it.
    for (int i = 0; i < 3; ++i, ++id) {
      HDRVCALL call = nullptr;
      auto start = Clock::now();
      LONG r = MakeCall(id, number, &call);
      longestMake = std::max(longestMake, Clock::now() - start);
      ASSERT_EQ(r, static_cast<LONG>(id));
      calls.emplace_back(id, call);
    }
    for (auto [callId, call] : calls) {
      LONG result = 0;
      EXPECT_TRUE(completions().Wait(callId, 5s, result));
      auto start = Clock::now();
      TSPI_lineCloseCall(call);
      longestClose = std::max(longestClose, Clock::now() - start);
    }
    full = WaitForLog("bytes wait for the PBX, request", 0ms, mark_);
  }
  ASSERT_TRUE(full) << "the queue reached its bound";
  // Generous sanity bounds; the figures themselves are measured in bench/.
  EXPECT_LT(longestMake, 100ms);
  EXPECT_LT(longestClose, 100ms);
  // The writer is blocked in its send: shutdown still returns promptly.
  auto start = Clock::now();
  Shutdown();
  EXPECT_LT(Clock::now() - start, 2s);
}

}  // namespace
}  // namespace qv::test
