// A name lookup that never answers: connectTcp gives up on it at its limit or
// when cancelled, leaves it running on its own thread, and does not let such
// threads pile up. Address literals and answered lookups still connect.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/socket.h"
#include "tests/platform/hanging_resolver.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = 5s) {
  for (auto until = Clock::now() + timeout; Clock::now() < until; std::this_thread::sleep_for(5ms)) {
    if (condition()) return true;
  }
  return condition();
}

class Listener {
 public:
  Listener() { socket_ = listenTcp("127.0.0.1", 0, port_); }
  ~Listener() { closeSocket(socket_); }
  bool Ok() const { return socket_ != kInvalidSocket; }
  std::string Port() const { return std::to_string(port_); }

 private:
  SocketHandle socket_ = kInvalidSocket;
  std::uint16_t port_ = 0;
};

// One test: the count of lookups left behind is the process's.
TEST(NameLookup, AHangingResolverIsGivenUpOnAndNeverPilesUp) {
  Listener listener;
  ASSERT_TRUE(listener.Ok());
  std::atomic<bool> never{false};
  ASSERT_EQ(unfinishedNameLookups(), 0);

  {
    SCOPED_TRACE("time limit");
    auto start = Clock::now();
    ConnectResult r = connectTcp("pbx.hang.test", listener.Port(), never, 300);
    EXPECT_LT(Clock::now() - start, 1500ms);
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_TRUE(r.lookupUnfinished);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.socket, kInvalidSocket);
    EXPECT_EQ(unfinishedNameLookups(), 1);
  }
  {
    SCOPED_TRACE("cancelled, no limit");
    std::atomic<bool> cancel{false};
    std::thread stopper([&] {
      std::this_thread::sleep_for(100ms);
      cancel = true;
    });
    auto start = Clock::now();
    ConnectResult r = connectTcp("pbx.hang.test", listener.Port(), cancel, -1);
    stopper.join();
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_TRUE(r.lookupUnfinished);
    EXPECT_NE(r.status, 0);
  }
  ASSERT_TRUE(WaitUntil([] { return test::HungLookups() == 2; }));
  for (int i = 0; i < 2; ++i) connectTcp("pbx.hang.test", listener.Port(), never, 0);
  ASSERT_TRUE(WaitUntil([] { return test::HungLookups() == 4; }));
  {
    SCOPED_TRACE("four left behind: no fifth thread");
    auto start = Clock::now();
    ConnectResult r = connectTcp("other.hang.test", listener.Port(), never, 5000);
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_TRUE(r.lookupUnfinished);
    EXPECT_EQ(unfinishedNameLookups(), 4);
    EXPECT_EQ(test::HungLookups(), 4);
  }
  {
    SCOPED_TRACE("an address literal needs no lookup thread");
    ConnectResult r = connectTcp("127.0.0.1", listener.Port(), never, 2000);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.lookupUnfinished);
    closeSocket(r.socket);
  }

  // The resolver answers at last: the threads left behind end on their own.
  test::ReleaseHungLookups();
  EXPECT_TRUE(WaitUntil([] { return unfinishedNameLookups() == 0; }));
  test::HangLookupsAgain();
  {
    SCOPED_TRACE("a name the resolver answers");
    ConnectResult r = connectTcp("localhost", listener.Port(), never, 2000);
    EXPECT_FALSE(r.lookupUnfinished);
    // localhost may resolve to ::1 first, where nothing listens.
    if (r.status == 0) closeSocket(r.socket);
    EXPECT_EQ(unfinishedNameLookups(), 0) << "an answered lookup's thread is joined";
  }
}

}  // namespace
}  // namespace qv
