// The table of requests waiting for the PBX: every request with a request id
// is reported exactly once, whatever ends it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "session/csta_requests.h"
#include "session/csta_responses.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "session/session_timing.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/recording_events.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

using Journal = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

class PendingRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.Ok());
    pbxLink().Attach(peer_.TakeClient(), false, "office");
    SetSessionEvents(&events_);
  }
  void TearDown() override {
    FailPendingRequests(RequestOutcome::kShutdown);
    SetSessionEvents(nullptr);
    closeSocket(pbxLink().Detach());
  }

  // Submits and returns the invoke id the frame went out with.
  std::uint32_t Submit(RequestKind kind, std::uint32_t requestId) {
    SubmitRequest(
        kind, requestId,
        kind == RequestKind::kMakeCall ? MakeCallXml("201@office", "5", "") : ClearConnectionXml("C", "D"));
    auto frame = peer_.NextFrame();
    EXPECT_TRUE(frame);
    return frame ? frame->invokeId : 0;
  }
  void Answer(std::uint32_t invokeId, const std::string& xml) {
    SessionState state;
    DispatchCstaFrame(state, invokeId, xml);
  }

  test::LoopbackPeer peer_;
  test::RecordingEvents events_;
};

TEST_F(PendingRequests, EachKindIsCompletedOnceByItsOwnResponse) {
  std::uint32_t make = Submit(RequestKind::kMakeCall, 1);
  std::uint32_t clear = Submit(RequestKind::kClearConnection, 2);
  std::uint32_t quiet = Submit(RequestKind::kClearConnection, 0);
  EXPECT_EQ(PendingRequestCount(), 3u);
  Answer(make, "<ClearConnectionResponse/>");  // not what a MakeCall expects
  Answer(clear, "<MakeCallResponse/>");
  EXPECT_TRUE(events_.Journal().empty());
  Answer(clear, "<csta:ClearConnectionResponse xmlns:csta=\"x\"/>");
  Answer(make,
         "<MakeCallResponse><callingDevice><callID>7</callID><deviceID>N1</deviceID></callingDevice>"
         "</MakeCallResponse>");
  Answer(quiet, "<ClearConnectionResponse/>");
  Answer(make, "<MakeCallResponse/>");
  Answer(clear, "<ClearConnectionResponse/>");
  EXPECT_EQ(events_.Journal(), (Journal{"completed 2 success", "identified 1 7 N1", "completed 1 success"}));
  EXPECT_EQ(PendingRequestCount(), 0u);
}

TEST_F(PendingRequests, ErrorCodeRefusesWhateverKindItAnswers) {
  std::uint32_t make = Submit(RequestKind::kMakeCall, 1);
  std::uint32_t clear = Submit(RequestKind::kClearConnection, 2);
  for (std::uint32_t id : {clear, make, make})
    Answer(id, "<CSTAErrorCode><operation>x</operation></CSTAErrorCode>");
  EXPECT_EQ(events_.Journal(), (Journal{"completed 2 refused", "completed 1 refused"}));
}

TEST_F(PendingRequests, LinkLossFailsEveryPendingRequestOnceAndLateAnswersAreIgnored) {
  std::uint32_t a = Submit(RequestKind::kMakeCall, 1);
  Submit(RequestKind::kMakeCall, 2);
  Submit(RequestKind::kClearConnection, 0);
  FailPendingRequests(RequestOutcome::kLinkLost);
  FailPendingRequests(RequestOutcome::kLinkLost);
  Answer(a, "<MakeCallResponse/>");
  EXPECT_EQ(events_.Journal(), (Journal{"completed 1 link lost", "completed 2 link lost"}));
  EXPECT_FALSE(NextRequestDeadline());
}

TEST_F(PendingRequests, OverdueRequestsTimeOutWithALogLineNamingInvokeIdAndRequest) {
  Clock::time_point before = Clock::now();
  std::uint32_t make = Submit(RequestKind::kMakeCall, 11);
  std::uint32_t clear = Submit(RequestKind::kClearConnection, 0);
  const auto timeout = CurrentSessionTiming().completionTimeout;
  auto deadline = NextRequestDeadline();
  ASSERT_TRUE(deadline);
  EXPECT_GE(*deadline, before + timeout);
  EXPECT_LE(*deadline, Clock::now() + timeout);

  std::size_t mark = test::LogMark();
  EXPECT_EQ(ExpireOverdueRequests(before), 0u) << "not yet due";
  EXPECT_EQ(ExpireOverdueRequests(Clock::now() + timeout), 2u);
  EXPECT_EQ(ExpireOverdueRequests(Clock::now() + timeout), 0u);
  Answer(make, "<MakeCallResponse/>");
  EXPECT_EQ(events_.Journal(), (Journal{"completed 11 timed out"}));
  std::string log = test::LogSince(mark);
  EXPECT_NE(log.find("]:1 TSPI_lineMakeCall: no answer from the PBX for invoke id " + std::to_string(make) +
                     ", request 11\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("]:1 TSPI_lineCloseCall: no answer from the PBX for invoke id " + std::to_string(clear) +
                     ", request 0\r\n"),
            std::string::npos)
      << log;
}

TEST_F(PendingRequests, RequestThatCannotBeQueuedIsReportedAtOnce) {
  // Too big for a frame.
  SubmitRequest(RequestKind::kMakeCall, 5, MakeCallXml("201@office", std::string(70000, '5'), ""));
  EXPECT_TRUE(peer_.Quiet());
  // No connection.
  closeSocket(pbxLink().Detach());
  SubmitRequest(RequestKind::kMakeCall, 6, MakeCallXml("201@office", "5", ""));
  SubmitRequest(RequestKind::kClearConnection, 0, ClearConnectionXml("C", "D"));
  EXPECT_EQ(events_.Journal(), (Journal{"completed 5 not sent", "completed 6 not sent"}));
  EXPECT_EQ(PendingRequestCount(), 0u);
}

TEST_F(PendingRequests, WithoutASinkOutcomesAreDropped) {
  SetSessionEvents(nullptr);
  std::uint32_t make = Submit(RequestKind::kMakeCall, 1);
  Answer(make, "<MakeCallResponse/>");
  EXPECT_EQ(PendingRequestCount(), 0u);
  EXPECT_TRUE(events_.Journal().empty());
}

}  // namespace
}  // namespace qv
