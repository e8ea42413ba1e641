// Dispatch of received frames and the five handlers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/csta_requests.h"
#include "session/csta_responses.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/recording_events.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

using Journal = std::vector<std::string>;

std::uint32_t fakeNow = 0;
std::uint32_t fakeTicks() { return fakeNow; }

std::string frameOf(std::uint32_t id, const std::string& xml) { return *BuildCstaFrame(id, xml); }

std::string loginResponse(const std::string& durationElement) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<StartApplicationSessionPosResponse xmlns=\"x\">\n"
         "  <sessionID>S-77</sessionID>\n" +
         durationElement + "</StartApplicationSessionPosResponse>\n";
}

std::string makeCallResponse(const std::string& root = "MakeCallResponse") {
  return "<" + root +
         " xmlns:csta=\"x\"><callingDevice><callID>C9</callID><deviceID>201</deviceID>"
         "</callingDevice></" +
         root + ">";
}

class CstaResponses : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.Ok());
    pbxLink().Attach(peer_.TakeClient(), false, "office");
    state_.ticks = fakeTicks;
    fakeNow = 1000;
    SetSessionEvents(&events_);
    SubmitMakeCall();
  }
  void TearDown() override {
    FailPendingRequests(RequestOutcome::kShutdown);
    SetSessionEvents(nullptr);
    closeSocket(pbxLink().Detach());
  }

  // A MakeCall of request 42 waiting under invoke id 501.
  void SubmitMakeCall() {
    pbxLink().SetNextInvokeId(501);
    SubmitRequest(RequestKind::kMakeCall, 42, MakeCallXml("201@office", "5", ""));
    ASSERT_TRUE(peer_.NextFrame());
  }
  void Feed(const std::string& bytes) {
    state_.receiveBuffer += bytes;
    ProcessReceivedData(state_);
  }

  test::LoopbackPeer peer_;
  SessionState state_;
  test::RecordingEvents events_;
};

// The PBX's own requests are answered with their invoke id, in their
// namespace; events and answers nobody waits for are not.
TEST_F(CstaResponses, RequestsOfThePbxAreAnsweredInTheirNamespace) {
  struct Case {
    std::string received;
    std::string answer;  // empty: nothing goes back
  };
  const std::string ed5 = "http://www.ecma-international.org/standards/ecma-323/csta/ed5";
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
  const Case cases[] = {
      {"<SystemStatus xmlns=\"" + ed5 + "\"><systemStatus>normal</systemStatus></SystemStatus>",
       head + "<SystemStatusResponse xmlns=\"" + ed5 + "\"/>\r\n"},
      {"<csta:SystemStatus xmlns:csta=\"urn:a&amp;b\"><csta:systemStatus>normal</csta:systemStatus>"
       "</csta:SystemStatus>",
       head + "<SystemStatusResponse xmlns=\"urn:a&amp;b\"/>\r\n"},
      {"<SystemStatus/>", head + "<SystemStatusResponse/>\r\n"},
      {"<GetSwitchingFunctionDevices xmlns=\"" + ed5 + "\"/>",
       head + "<CSTAErrorCode xmlns=\"" + ed5 +
           "\">\r\n<operation>generic</operation>\r\n</CSTAErrorCode>\r\n"},
      {"<DeliveredEvent xmlns=\"" + ed5 + "\"/>", ""},
      {"<SystemStatusResponse xmlns=\"" + ed5 + "\"/>", ""},
      {"<CSTAErrorCode xmlns=\"" + ed5 + "\"><operation>generic</operation></CSTAErrorCode>", ""},
  };
  std::uint32_t id = 7000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.received);
    Feed(frameOf(++id, c.received));
    if (c.answer.empty()) {
      EXPECT_TRUE(peer_.Quiet());
      continue;
    }
    auto sent = peer_.NextFrame();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->invokeId, id);
    EXPECT_EQ(sent->xml, c.answer);
  }
}

TEST_F(CstaResponses, PositiveLoginArmsKeepAliveAtNinetyPercentAndStartsTheMonitor) {
  Feed(frameOf(1, loginResponse("  <actualSessionDuration>1800</actualSessionDuration>\n")));
  EXPECT_EQ(state_.applicationSessionId, "S-77");
  EXPECT_TRUE(state_.keepAliveArmed);
  EXPECT_EQ(state_.keepAliveDeadline, 1000u + 1620000u);
  auto sent = peer_.NextFrame();
  ASSERT_TRUE(sent);
  EXPECT_NE(sent->xml.find("<MonitorStart "), std::string::npos);
  EXPECT_NE(sent->xml.find("<deviceObject>201@office</deviceObject>"), std::string::npos);
}

TEST_F(CstaResponses, LoginWithoutUsableDurationChangesNothing) {
  for (const std::string element : {"<actualSessionDuration>0</actualSessionDuration>",
                                    "<actualSessionDuration>-5</actualSessionDuration>",
                                    "<actualSessionDuration>abc</actualSessionDuration>",
                                    "<actualSessionDuration></actualSessionDuration>", ""}) {
    SessionState fresh;
    fresh.ticks = fakeTicks;
    state_ = std::move(fresh);
    Feed(frameOf(1, loginResponse(element)));
    EXPECT_TRUE(state_.applicationSessionId.empty()) << element;
    EXPECT_FALSE(state_.keepAliveArmed) << element;
  }
  EXPECT_TRUE(peer_.Quiet()) << "no MonitorStart";
}

TEST_F(CstaResponses, KeepAliveDeadlineWrapsWithTheTickCounter) {
  fakeNow = 0xFFFFFF00u;
  Feed(frameOf(1, loginResponse("<actualSessionDuration>10</actualSessionDuration>")));
  EXPECT_EQ(state_.keepAliveDeadline, static_cast<std::uint32_t>(0xFFFFFF00u + 9000u));
  // A duration too long for the tick arithmetic stays a deadline ahead.
  Feed(frameOf(2, loginResponse("<actualSessionDuration>99999999999</actualSessionDuration>")));
  EXPECT_GT(static_cast<std::int32_t>(state_.keepAliveDeadline - fakeNow), 0);
}

TEST_F(CstaResponses, KeepAliveResponseReArmsAndKeepsTheSessionId) {
  state_.applicationSessionId = "S-1";
  state_.keepAliveAnswerDue = true;
  Feed(frameOf(9,
               "<ns1:ResetApplicationSessionTimerPosResponse xmlns:ns1=\"x\"><ns1:actualSessionDuration>60"
               "</ns1:actualSessionDuration></ns1:ResetApplicationSessionTimerPosResponse>"));
  EXPECT_EQ(state_.applicationSessionId, "S-1");
  EXPECT_TRUE(state_.keepAliveArmed);
  EXPECT_EQ(state_.keepAliveDeadline, 1000u + 54000u);
  EXPECT_FALSE(state_.keepAliveAnswerDue);
}

TEST_F(CstaResponses, MakeCallResponseIdentifiesTheCallThenCompletesItOnce) {
  Feed(frameOf(501, makeCallResponse()));
  Feed(frameOf(501, makeCallResponse()));
  EXPECT_EQ(events_.Journal(), (Journal{"identified 42 C9 201", "completed 42 success"}));
  EXPECT_EQ(PendingRequestCount(), 0u);
}

TEST_F(CstaResponses, RootNamesAreMatchedByLocalNameExactly) {
  struct Case {
    std::string root;
    bool dispatched;
  };
  for (const Case& c : {Case{"csta:MakeCallResponse", true}, Case{"a:b:MakeCallResponse", false},
                        Case{"makecallresponse", false}, Case{"MakeCallResponseX", false},
                        Case{"MakeCallResponses", false}}) {
    events_.Clear();
    Feed(frameOf(501, makeCallResponse(c.root)));
    EXPECT_EQ(events_.Journal().size(), c.dispatched ? 2u : 0u) << c.root;
    if (c.dispatched) SubmitMakeCall();
  }
}

TEST_F(CstaResponses, ResponsesForOtherInvokeIdsAndEventsChangeNothing) {
  Feed(frameOf(502, makeCallResponse()) + frameOf(9999, "<csta:DeliveredEvent xmlns:csta=\"x\"/>") +
       frameOf(501, "<MonitorStartResponse/>") + frameOf(501, "<ClearConnectionResponse/>"));
  EXPECT_TRUE(events_.Journal().empty());
  EXPECT_EQ(PendingRequestCount(), 1u);
}

TEST_F(CstaResponses, ErrorAnswerRefusesTheMakeCallAndALateAnswerIsIgnored) {
  Feed(frameOf(501,
               "<CSTAErrorCode xmlns=\"x\"><operation>invalidCalledDeviceID</operation></CSTAErrorCode>"));
  EXPECT_EQ(events_.Journal(), (Journal{"completed 42 refused"}));
  Feed(frameOf(501, makeCallResponse()));
  EXPECT_EQ(events_.Journal().size(), 1u) << "a late answer neither identifies nor completes again";
}

TEST_F(CstaResponses, SplitAndCoalescedFramesAreAllDispatched) {
  const std::string wire = frameOf(501, makeCallResponse()) +
                           frameOf(1, loginResponse("<actualSessionDuration>30</actualSessionDuration>"));
  for (std::size_t i = 0; i + 1 < wire.size(); ++i) Feed(wire.substr(i, 1));
  EXPECT_FALSE(state_.keepAliveArmed) << "last frame still incomplete";
  EXPECT_EQ(events_.Journal(), (Journal{"identified 42 C9 201", "completed 42 success"}));
  Feed(wire.substr(wire.size() - 1));
  EXPECT_TRUE(state_.keepAliveArmed);
}

TEST_F(CstaResponses, ShortLengthFieldDropsTheConnectionAndIgnoresTheRest) {
  std::size_t mark = test::LogMark();
  Feed(std::string("\0\0\0\4\0\0\0\1", 8) + frameOf(501, makeCallResponse()));
  EXPECT_TRUE(state_.dropConnection);
  EXPECT_NE(test::LogSince(mark).find("]:1 CSTA Rx: frame length below 8"), std::string::npos);
  Feed(frameOf(501, makeCallResponse()));
  EXPECT_TRUE(events_.Journal().empty()) << "nothing after the bad frame is trusted";
}

TEST_F(CstaResponses, EveryFrameIsTracedAtLevelFive) {
  std::size_t mark = test::LogMark();
  Feed(frameOf(77, "<Unknown>\r\n</Unknown>"));
  EXPECT_NE(test::LogSince(mark).find("]:5 CSTA Rx: <Unknown>\r\n</Unknown>\r\n"), std::string::npos);
}

TEST(ParseDecimal, BehavesLikeTheStandardConversionWithoutThrowing) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  for (const Case& c : {Case{"1800", 1800}, Case{"  42abc", 42}, Case{"+7", 7}, Case{"-3", -3}, Case{"", 0},
                        Case{"abc", 0}, Case{"-", 0}, Case{"\t\n12", 12}, Case{"2147483647", 2147483647},
                        Case{"99999999999", 2147483647}, Case{"-99999999999", -2147483647 - 1}}) {
    EXPECT_EQ(parseDecimal(c.text), c.value) << c.text;
  }
}

}  // namespace
}  // namespace qv
