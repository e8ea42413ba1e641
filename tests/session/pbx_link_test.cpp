// The link's queue and writer on a loopback pair: what waits for a
// connection follows the login, a peer that stops reading fills the bounded
// queue without blocking anyone, and aborting never waits for the writer.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "session/pbx_link.h"
#include "session/session_timing.h"
#include "tests/session/loopback_peer.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Xml(const std::string& name) { return "<" + name + "/>\r\n"; }

class PbxLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    timing_ = CurrentSessionTiming();
    ASSERT_TRUE(peer_.Ok());
  }
  void TearDown() override {
    closeSocket(pbxLink().Detach());
    SetSessionTiming(timing_);
  }
  SessionTiming timing_;
  LoopbackPeer peer_;
};

TEST_F(PbxLinkTest, RequestsMadeWhileConnectingFollowTheLogin) {
  pbxLink().SetNextInvokeId(10);
  pbxLink().BeginConnecting();
  SentRequest a = pbxLink().SendRequest(Xml("A"));
  SentRequest b = pbxLink().SendRequest(Xml("B"));
  EXPECT_TRUE(a.sent);
  EXPECT_TRUE(b.sent);
  pbxLink().Attach(peer_.TakeClient(), false, "office");
  EXPECT_TRUE(peer_.Quiet()) << "nothing before the login";
  SentRequest login = pbxLink().SendRequestFirst(Xml("Login"));
  EXPECT_TRUE(login.sent);
  auto first = peer_.NextFrame();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->xml, Xml("Login"));
  EXPECT_TRUE(peer_.Quiet()) << "the requests wait for the PBX to accept the login";
  pbxLink().LoginAccepted();
  SentRequest monitor = pbxLink().SendSessionRequest(Xml("Monitor"));
  pbxLink().OpenSession();
  EXPECT_LT(login.invokeId, monitor.invokeId);
  EXPECT_LT(monitor.invokeId, a.invokeId) << "ids still increase on the wire";
  for (auto [xml, id] : {std::pair{Xml("Monitor"), monitor.invokeId}, std::pair{Xml("A"), a.invokeId},
                         std::pair{Xml("B"), b.invokeId}}) {
    auto frame = peer_.NextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->xml, xml);
    EXPECT_EQ(frame->invokeId, id);
  }
}

TEST_F(PbxLinkTest, AFailedConnectDropsWhatWaitedAndRefusesMore) {
  pbxLink().BeginConnecting();
  EXPECT_TRUE(pbxLink().SendRequest(Xml("A")).sent);
  pbxLink().ConnectFailed();
  EXPECT_FALSE(pbxLink().SendRequest(Xml("B")).sent);
  pbxLink().Attach(peer_.TakeClient(), false, "office");
  EXPECT_TRUE(pbxLink().SendRequest(Xml("C")).sent);
  auto frame = peer_.NextFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->xml, Xml("C")) << "A went with the failed connect";
}

TEST_F(PbxLinkTest, APeerThatStopsReadingFillsTheQueueWithoutBlocking) {
  pbxLink().Attach(peer_.TakeClient(), false, "office");
  const std::string big = "<X>" + std::string(60000, '7') + "</X>\r\n";
  Clock::duration longest{};
  auto send = [&] {
    auto start = Clock::now();
    bool sent = pbxLink().SendRequest(big).sent;
    longest = std::max(longest, Clock::now() - start);
    return sent;
  };
  // Fill the queue, give the writer its chance, and again, until the queue
  // stays full: the socket takes nothing more.
  bool stalled = false;
  for (int round = 0; round < 1000 && !stalled; ++round) {
    while (send()) {
    }
    pbxLink().Flush(50ms);
    stalled = !send();
  }
  EXPECT_TRUE(stalled) << "the writer was blocked with the queue at its bound";
  EXPECT_LT(longest, 100ms);
  // The writer is blocked in its send; aborting and detaching still return.
  auto start = Clock::now();
  pbxLink().Abort();
  EXPECT_LT(Clock::now() - start, 100ms);
  closeSocket(pbxLink().Detach());
  EXPECT_LT(Clock::now() - start, 2s);
}

TEST_F(PbxLinkTest, AnUnansweredRequestMakesTheLinkOverdue) {
  SessionTiming t = timing_;
  t.requestTimeout = 1000ms;
  SetSessionTiming(t);
  pbxLink().Attach(peer_.TakeClient(), false, "office");
  SentRequest answered = pbxLink().SendRequest(Xml("A"));
  SentRequest silent = pbxLink().SendRequest(Xml("B"));
  pbxLink().Answered(answered.invokeId);
  auto deadline = pbxLink().NextDeadline();
  ASSERT_TRUE(deadline);
  EXPECT_FALSE(pbxLink().AbortIfOverdue(*deadline - 1ms));
  EXPECT_TRUE(pbxLink().Connected());
  EXPECT_TRUE(pbxLink().AbortIfOverdue(*deadline));
  EXPECT_FALSE(pbxLink().Connected());
  EXPECT_FALSE(pbxLink().SendRequest(Xml("C")).sent) << "a broken link refuses";
  (void)silent;
}

}  // namespace
}  // namespace qv::test
