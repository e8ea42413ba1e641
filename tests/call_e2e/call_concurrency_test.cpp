// Several TAPI threads making and closing calls while the PBX floods events
// and the keep-alive runs: frames never interleave, invoke ids stay unique,
// every call is completed exactly once. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/call_e2e/provider_harness.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

TEST(CallConcurrency, ParallelCallsUnderAnEventFlood) {
  UseShortTimings();
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

}  // namespace
}  // namespace qv::test
