// Several TAPI threads making and closing calls while the PBX floods events
// and the keep-alive runs: frames never interleave, invoke ids stay unique,
// every call is completed exactly once. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "session/session_timing.h"
#include "tests/call_e2e/provider_harness.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

// Short back-off and keep-alive, but answers may take long: under the
// sanitizers on a loaded machine an answer can be late, and these tests are
// about interleaving and completing once, not about timeouts.
void UseLoadTolerantTimings() {
  UseShortTimings();
  SessionTiming t = CurrentSessionTiming();
  t.completionTimeout = 10s;
  t.keepAliveAnswerTimeout = 10s;
  t.requestTimeout = 15s;
  SetSessionTiming(t);
}

TEST(CallConcurrency, ParallelCallsUnderAnEventFlood) {
  UseLoadTolerantTimings();
  pbxsim::Behaviour b;
  b.floodEvents = 40;
  b.sessionDuration = "1";
  b.keepAliveDuration = "1";
  pbxsim::Simulator sim({});
  sim.SetBehaviour(b);
  ASSERT_TRUE(sim.Start());
  SettingsStore store;
  store.port = sim.port();
  WriteSettingsStore(store);
  completions().Clear();
  InitProvider();

  constexpr int kThreads = 4;
  constexpr int kCallsEach = 25;
  std::atomic<int> succeeded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        DRV_REQUESTID id = static_cast<DRV_REQUESTID>(1000 + t * kCallsEach + i);
        HDRVCALL call = nullptr;
        if (MakeCall(id, u"555", &call) != static_cast<LONG>(id)) continue;
        LONG result = 1;
        if (completions().Wait(id, 10s, result) && result == 0) ++succeeded;
        TSPI_lineCloseCall(call);
      }
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_TRUE(sim.WaitFor(
      [](const auto& f) { return CountRoot(f, "ClearConnection") >= kThreads * kCallsEach; }, 10s));
  ShutdownProvider();

  EXPECT_EQ(succeeded.load(), kThreads * kCallsEach);
  for (int id = 1000; id < 1000 + kThreads * kCallsEach; ++id) {
    EXPECT_EQ(completions().Count(static_cast<DRV_REQUESTID>(id)), 1) << id;
  }
  auto problems = sim.problems();
  EXPECT_TRUE(problems.empty()) << problems.front().problem;
  EXPECT_EQ(sim.connectionsAccepted(), 1);
  sim.Stop();
}

// TAPI's completion procedure is entered one call at a time, however many
// threads make and close calls and whichever thread learns the outcome.
TEST(CallConcurrency, CompletionsNeverOverlapAndEachRequestCompletesOnce) {
  UseLoadTolerantTimings();
  pbxsim::Behaviour b;
  b.floodEvents = 5;
  pbxsim::Simulator sim({});
  sim.SetBehaviour(b);
  ASSERT_TRUE(sim.Start());
  SettingsStore store;
  store.port = sim.port();
  WriteSettingsStore(store);
  completions().Clear();
  SetCompletionDelay(300us);
  const int overlapsBefore = CompletionOverlaps();
  InitProvider();

  constexpr int kThreads = 5;
  constexpr int kCallsEach = 24;
  const std::u16string tooLong(70000, u'5');
  std::atomic<int> made{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsEach; ++i) {
        DRV_REQUESTID id = static_cast<DRV_REQUESTID>(5000 + t * kCallsEach + i);
        HDRVCALL call = nullptr;
        // A call closed before its answer keeps its slot until the answer
        // arrives, and answers come in order, so each thread holds at most
        // two slots (ten for five threads): a refusal here is a bug, not load.
        // Every third request cannot be framed: it fails on this thread while
        // the worker completes the others.
        const bool framed = i % 3 != 0;
        if (MakeCall(id, framed ? u"555" : tooLong, &call) != static_cast<LONG>(id)) continue;
        ++made;
        // Every other call is closed before its outcome is known: the close
        // completes it (failed) unless the answer came first.
        LONG result = 1;
        if (i % 2 == 0) completions().Wait(id, 10s, result);
        TSPI_lineCloseCall(call);
        if (i % 2 != 0) completions().Wait(id, 10s, result);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int id = 5000; id < 5000 + kThreads * kCallsEach; ++id) {
    LONG result = 1;
    EXPECT_TRUE(completions().Wait(static_cast<DRV_REQUESTID>(id), 10s, result)) << id;
  }
  ShutdownProvider();
  SetCompletionDelay(0us);

  EXPECT_EQ(made.load(), kThreads * kCallsEach);
  EXPECT_EQ(CompletionOverlaps() - overlapsBefore, 0);
  for (int id = 5000; id < 5000 + kThreads * kCallsEach; ++id) {
    EXPECT_EQ(completions().Count(static_cast<DRV_REQUESTID>(id)), 1) << id;
    LONG result = 1;
    completions().Wait(static_cast<DRV_REQUESTID>(id), 0ms, result);
    const int i = (id - 5000) % kCallsEach;
    if (i % 3 == 0) {
      EXPECT_EQ(result, kOperationFailed) << id;
    } else if (i % 2 == 0) {
      EXPECT_EQ(result, 0) << id;
    } else {
      EXPECT_TRUE(result == 0 || result == kOperationFailed) << id << ": " << result;
    }
  }
  EXPECT_EQ(completions().Total(), static_cast<std::size_t>(kThreads * kCallsEach));
  auto problems = sim.problems();
  EXPECT_TRUE(problems.empty()) << problems.front().problem;
  sim.Stop();
}

}  // namespace
}  // namespace qv::test
