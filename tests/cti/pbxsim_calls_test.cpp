// pbxsim's call model speaks what the provider reads: every event it sends
// for call control and for calls it starts parses into the expected kind,
// in both namespace styles.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/socket.h"
#include "session/csta_call_control.h"
#include "session/csta_events.h"
#include "session/csta_frame.h"
#include "session/csta_requests.h"
#include "tools/pbxsim/call_model.h"
#include "tools/pbxsim/pbx_simulator.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

class PbxsimCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    pbxsim::Options o;
    o.calls = true;
    sim_ = std::make_unique<pbxsim::Simulator>(o);
    ASSERT_TRUE(sim_->Start());
    std::atomic<bool> never{false};
    ConnectResult r = connectTcp("127.0.0.1", std::to_string(sim_->port()), never, 2000);
    ASSERT_EQ(r.status, 0);
    socket_ = r.socket;
  }
  void TearDown() override {
    closeSocket(socket_);
    sim_->Stop();
  }
  void send(const std::string& xml) {
    std::optional<Bytes> frame = BuildCstaFrame(++invokeId_, xml);
    ASSERT_TRUE(frame);
    ASSERT_EQ(sendOnce(socket_, *frame), static_cast<long>(frame->size()));
  }
  // Waits until `count` frames were sent and returns the kinds of the events among them.
  std::vector<CallEventKind> kinds(std::size_t count) {
    EXPECT_TRUE(sim_->WaitForSent(count, 3s));
    std::vector<CallEventKind> out;
    for (const std::string& xml : sim_->sentFrames()) {
      ParsedCallEvent p = ParseCallEvent(parseXml(xml, true));
      if (p.isEvent && p.valid) out.push_back(p.event.kind);
    }
    return out;
  }
  std::unique_ptr<pbxsim::Simulator> sim_;
  SocketHandle socket_ = kInvalidSocket;
  std::uint32_t invokeId_ = 0;
};

TEST_F(PbxsimCalls, MakeCallThenControlRequestsGiveTheirEvents) {
  send(MonitorStartXml("201@office"));
  send(MakeCallXml("201@office", "0301234", ""));
  using K = CallEventKind;
  EXPECT_EQ(kinds(5), (std::vector<K>{K::kServiceInitiated, K::kOriginated, K::kDelivered, K::kEstablished}));
  const std::string callId = sim_->calls()->lastCallId();
  send(HoldCallXml(callId, "201"));
  send(RetrieveCallXml(callId, "201"));
  send(SingleStepTransferCallXml(callId, "201", "305"));
  std::vector<K> all = kinds(11);
  ASSERT_EQ(all.size(), 7u);
  EXPECT_EQ(all[4], K::kHeld);
  EXPECT_EQ(all[5], K::kRetrieved);
  EXPECT_EQ(all[6], K::kTransferred);
  // Both namespace styles appear.
  bool prefixed = false, plain = false;
  for (const std::string& xml : sim_->sentFrames()) {
    prefixed = prefixed || xml.find("<csta:") != std::string::npos;
    plain = plain || xml.find("Event xmlns=\"") != std::string::npos;
  }
  EXPECT_TRUE(prefixed);
  EXPECT_TRUE(plain);
}

TEST_F(PbxsimCalls, CallsFromThePbxSide) {
  send(MonitorStartXml("201@office"));
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return !f.empty(); }, 2s));
  ASSERT_TRUE(sim_->WaitForSent(1, 2s));
  const std::string in = sim_->calls()->IncomingCall("+4930555", "Alice Example");
  send(AnswerCallXml(in, "201"));
  send(DeflectCallXml("nope", "201", "400"));
  ASSERT_TRUE(sim_->WaitForSent(5, 3s)) << "answers before the next calls";
  sim_->calls()->DeskPhoneCall("555");
  sim_->calls()->FarEndAnswers();
  sim_->calls()->FarEndHangsUp();
  sim_->calls()->FailedCall("556", "busy");
  using K = CallEventKind;
  std::vector<K> all = kinds(13);
  EXPECT_EQ(all, (std::vector<K>{K::kDelivered, K::kEstablished, K::kServiceInitiated, K::kOriginated,
                                 K::kDelivered, K::kEstablished, K::kConnectionCleared, K::kConnectionCleared,
                                 K::kServiceInitiated, K::kFailed}));
  ParsedCallEvent offered = ParseCallEvent(parseXml(sim_->sentFrames()[1], true));
  EXPECT_EQ(offered.event.calling.deviceId, "+4930555");
  EXPECT_EQ(offered.event.calling.name, "Alice Example");
  EXPECT_EQ(offered.event.calling.scope, PartyScope::kExternal);
  EXPECT_EQ(offered.event.subject.deviceId, "201");
  bool refused = false;
  for (const std::string& xml : sim_->sentFrames())
    refused = refused || xml.find("CSTAErrorCode") != std::string::npos;
  EXPECT_TRUE(refused) << "a request for an unknown call is refused";
}

}  // namespace
}  // namespace qv
