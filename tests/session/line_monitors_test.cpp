// The listed lines' monitors on a loopback link: paced MonitorStarts, each
// answer starting the next, refusals, routing by cross-reference id and
// device, and the loss of the link.
#include "session/line_monitors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/csta_responses.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/recording_events.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

std::string Answer(const std::string& crossRef) {
  return "<MonitorStartResponse xmlns=\"http://www.ecma-international.org/standards/ecma-323/csta/ed3\">"
         "<monitorCrossRefID>" +
         crossRef + "</monitorCrossRefID></MonitorStartResponse>";
}

class LineMonitors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.Ok());
    pbxLink().Attach(peer_.TakeClient(), false, "office");
    SetSessionEvents(&events_);
  }
  void TearDown() override {
    StopLineMonitors();
    SetMonitoredLines({});
    SetSessionEvents(nullptr);
    closeSocket(pbxLink().Detach());
  }
  void Dispatch(std::uint32_t invokeId, const std::string& xml) {
    SessionState state;
    DispatchCstaFrame(state, invokeId, xml);
  }

  test::LoopbackPeer peer_;
  test::RecordingEvents events_;
};

TEST_F(LineMonitors, StartsAtMostTheWindowAndOneMorePerAnswer) {
  std::vector<std::string> extensions;
  for (int i = 0; i < 40; ++i) extensions.push_back(std::to_string(300 + i));
  SetMonitoredLines(extensions);
  StartLineMonitors("office");
  std::vector<CstaFrame> sent;
  for (std::size_t i = 0; i < kMaxOutstandingMonitors; ++i) {
    auto frame = peer_.NextFrame();
    ASSERT_TRUE(frame) << i;
    EXPECT_NE(frame->xml.find("<deviceObject>" + std::to_string(300 + i) + "@office</deviceObject>"),
              std::string::npos);
    sent.push_back(*frame);
  }
  EXPECT_TRUE(peer_.Quiet()) << "no more than the window unanswered";

  const std::size_t mark = test::LogMark();
  Dispatch(sent[0].invokeId, Answer("m-300"));
  Dispatch(sent[1].invokeId, "<CSTAErrorCode><operation>invalidMonitorObject</operation></CSTAErrorCode>");
  EXPECT_NE(test::LogSince(mark).find(
                "lines: the PBX refused to monitor extension 301, its line is out of service"),
            std::string::npos);
  for (int i = 0; i < 2; ++i) {
    auto frame = peer_.NextFrame();
    ASSERT_TRUE(frame);
    EXPECT_NE(frame->xml.find("<deviceObject>" + std::to_string(332 + i) + "@office</deviceObject>"),
              std::string::npos);
  }
  EXPECT_TRUE(peer_.Quiet());
  EXPECT_EQ(RunningLineMonitors(), 1u);
  EXPECT_EQ(events_.Journal(), (std::vector<std::string>{"line 0 monitored", "line 1 not monitored"}));

  // An answer that is not ours goes on to the pending requests and events.
  EXPECT_FALSE(AnswerLineMonitor(sent[0].invokeId, parseXml(Answer("again"), true)));
  EXPECT_FALSE(AnswerLineMonitor(sent[2].invokeId, parseXml("<MakeCallResponse/>", true)));

  // Events find their line by the monitor, else by the device they name.
  EXPECT_EQ(LineOfEvent("m-300", "999@office"), 0);
  EXPECT_EQ(LineOfEvent("unknown", "305@office"), 5);
  EXPECT_EQ(LineOfEvent("", "339"), 39);
  EXPECT_EQ(LineOfEvent("", "201@office"), kNoLine);

  events_.Clear();
  StopLineMonitors();
  EXPECT_EQ(RunningLineMonitors(), 0u);
  EXPECT_EQ(events_.Journal(), (std::vector<std::string>{"line 0 not monitored"}));
  EXPECT_EQ(LineOfEvent("m-300", ""), kNoLine) << "a monitor of the lost link is gone";
  // Answers of the lost link start nothing more.
  EXPECT_FALSE(AnswerLineMonitor(sent[3].invokeId, parseXml(Answer("late"), true)));
  EXPECT_TRUE(peer_.Quiet());
}

TEST_F(LineMonitors, WithoutListedLinesNothingIsConsumed) {
  SetMonitoredLines({});
  EXPECT_FALSE(MonitoringLines());
  EXPECT_FALSE(AnswerLineMonitor(1, parseXml(Answer("1"), true)));
  EXPECT_EQ(LineOfEvent("1", "201@office"), kNoLine);
}

}  // namespace
}  // namespace qv
