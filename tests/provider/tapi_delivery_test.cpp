// The one way into TAPI: in queue order, one call at a time, nothing after
// the stop, everything queued before it delivered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/tapi.h"
#include "provider/tapi_delivery.h"

namespace qv {
namespace {

std::mutex seenLock;
std::vector<std::pair<DRV_REQUESTID, LONG>> seen;
std::atomic<int> inside{0};
std::atomic<int> overlaps{0};
std::atomic<bool> slow{false};

// Records what TAPI would receive and whether another call was in progress.
void Enter() {
  if (inside.fetch_add(1) != 0) ++overlaps;
  if (slow) std::this_thread::sleep_for(std::chrono::microseconds(300));
}
void Leave() { inside.fetch_sub(1); }

void TSPIAPI completion(DRV_REQUESTID id, LONG result) {
  Enter();
  {
    std::lock_guard lock(seenLock);
    seen.emplace_back(id, result);
  }
  Leave();
}

class TapiDelivery : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    overlaps = 0;
    slow = false;
    StartTapiDelivery(completion);
  }
  void TearDown() override { StopTapiDelivery(); }
  static std::vector<std::pair<DRV_REQUESTID, LONG>> Seen() {
    std::lock_guard lock(seenLock);
    return seen;
  }
};

TEST_F(TapiDelivery, CallsArriveInQueueOrderAndStopDeliversEverythingQueued) {
  std::vector<std::pair<DRV_REQUESTID, LONG>> expected;
  for (DRV_REQUESTID id = 1; id <= 2000; ++id) {
    if (id % 3 == 0) {
      QueueTapiCall([id] { completion(id, -1); });
      expected.emplace_back(id, -1);
    } else {
      QueueCompletion(id, id % 2 == 0 ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED));
      expected.emplace_back(id, id % 2 == 0 ? 0 : static_cast<LONG>(LINEERR_OPERATIONFAILED));
    }
  }
  StopTapiDelivery();
  EXPECT_EQ(Seen(), expected);
}

TEST_F(TapiDelivery, NothingIsDeliveredAfterTheStopAndAStartOpensItAgain) {
  QueueCompletion(1, 0);
  StopTapiDelivery();
  QueueCompletion(2, 0);
  QueueTapiCall([] { completion(3, 0); });
  StopTapiDelivery();  // a second stop is harmless
  EXPECT_EQ(Seen(), (std::vector<std::pair<DRV_REQUESTID, LONG>>{{1, 0}}));
  StartTapiDelivery(completion);
  QueueCompletion(4, 0);
  StopTapiDelivery();
  EXPECT_EQ(Seen(), (std::vector<std::pair<DRV_REQUESTID, LONG>>{{1, 0}, {4, 0}}));
}

TEST_F(TapiDelivery, ManyQueueingThreadsNeverOverlapInTapi) {
  slow = true;
  constexpr int kThreads = 8;
  constexpr int kEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) {
        auto id = static_cast<DRV_REQUESTID>(t * kEach + i + 1);
        if (i % 2 == 0) {
          QueueCompletion(id, 0);
        } else {
          QueueTapiCall([id] { completion(id, 0); });
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  StopTapiDelivery();
  EXPECT_EQ(overlaps.load(), 0);
  auto all = Seen();
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
  // Each thread's own calls keep their order.
  std::vector<DRV_REQUESTID> last(kThreads, 0);
  for (const auto& [id, result] : all) {
    auto t = static_cast<std::size_t>((id - 1) / kEach);
    EXPECT_GT(id, last[t]);
    last[t] = id;
  }
}

// A closing entry point waits for everything queued before it; called from
// inside a delivery it cannot wait, and its completions go next instead.
TEST_F(TapiDelivery, ClosingWaitsForTheQueueOrGoesNextFromInsideADelivery) {
  slow = true;
  for (DRV_REQUESTID id = 1; id <= 50; ++id) QueueCompletion(id, 0);
  EXPECT_FALSE(OnDeliveryThread());
  EXPECT_TRUE(WaitUntilDelivered(std::chrono::seconds(5)));
  EXPECT_EQ(Seen().size(), 50u) << "everything queued before the wait was delivered";
  std::atomic<bool> inside{false};
  std::atomic<bool> queuedBehind{false};
  QueueTapiCall([&] {
    // 100 is queued behind this call before it goes on.
    while (!queuedBehind) std::this_thread::yield();
    inside = OnDeliveryThread();
    QueueCompletion(200, 0);
    QueueCompletionFirst(102, 0);
    QueueCompletionFirst(101, 0);
  });
  QueueCompletion(100, 0);
  queuedBehind = true;
  EXPECT_TRUE(WaitUntilDelivered(std::chrono::seconds(5)));
  StopTapiDelivery();
  EXPECT_TRUE(inside);
  const auto all = Seen();
  ASSERT_GE(all.size(), 50u);
  std::vector<std::pair<DRV_REQUESTID, LONG>> tail(all.begin() + 50, all.end());
  EXPECT_EQ(tail, (std::vector<std::pair<DRV_REQUESTID, LONG>>{{101, 0}, {102, 0}, {100, 0}, {200, 0}}));
}

TEST_F(TapiDelivery, ABatchWakesTheThreadOnceAtItsEndAndAWaitInsideItDoesNotStall) {
  // Nested batches, as a read's frames within a read: all of it in order.
  BeginTapiBatch();
  BeginTapiBatch();
  for (DRV_REQUESTID id = 1; id <= 50; ++id) QueueCompletion(id, 0);
  EndTapiBatch();
  // A closing entry point reached from inside the batch waits for its
  // completions: it must see them delivered, not the batch's end.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(WaitUntilDelivered(std::chrono::seconds(5)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EndTapiBatch();
  QueueCompletion(51, 0);
  ASSERT_TRUE(WaitUntilDelivered(std::chrono::seconds(5)));
  const auto got = Seen();
  ASSERT_EQ(got.size(), 51u);
  for (DRV_REQUESTID id = 1; id <= 51; ++id) EXPECT_EQ(got[id - 1].first, id);
}

}  // namespace
}  // namespace qv
