// The call model: event sequences in, TAPI messages out. Each scenario is a
// table of steps, every step an event and the messages it must cause.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "provider/call_model.h"

namespace qv {
namespace {

CallParty party(const std::string& id, const std::string& name = {}) {
  CallParty p;
  p.deviceId = id;
  p.name = name;
  return p;
}

CallEvent ev(CallEventKind kind, const std::string& callId, const std::string& device,
             const std::string& subject = {}) {
  CallEvent e;
  e.kind = kind;
  e.eventName = "test";
  e.callId = callId;
  e.deviceId = device;
  if (!subject.empty()) e.subject = party(subject);
  return e;
}

std::string render(const std::vector<CtiMessage>& messages) {
  std::string out;
  for (const CtiMessage& m : messages) {
    if (!out.empty()) out += "; ";
    switch (m.kind) {
      case CtiMessage::Kind::kNewCall:
        out += "NEW " + std::to_string(m.slot);
        break;
      case CtiMessage::Kind::kCallState:
        out += std::string(CallStateName(m.param1)) + " " + std::to_string(m.slot) + " " +
               std::to_string(m.param2);
        break;
      case CtiMessage::Kind::kCallInfo: {
        char bits[16];
        std::snprintf(bits, sizeof bits, "0x%X", static_cast<unsigned>(m.param1));
        out += "INFO " + std::to_string(m.slot) + " " + bits;
        break;
      }
    }
  }
  return out;
}

struct Step {
  CallEvent event;
  std::string expected;
};

class CallModelTest : public ::testing::Test {
 protected:
  void SetUp() override { model_.Reset("201", "office"); }
  CallModel::ClaimSlot claim() {
    return [this]() -> int {
      for (int i = 0; i < kCallTableSize; ++i) {
        if (!taken_[i] && !model_.Call(i).used) {
          taken_[i] = true;
          return i;
        }
      }
      return -1;
    };
  }
  void run(const std::vector<Step>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      EXPECT_EQ(render(model_.OnEvent(steps[i].event, claim())), steps[i].expected);
    }
  }
  CallModel model_;
  bool taken_[kCallTableSize] = {};
};

constexpr auto kSI = CallEventKind::kServiceInitiated;
constexpr auto kOR = CallEventKind::kOriginated;
constexpr auto kDE = CallEventKind::kDelivered;
constexpr auto kES = CallEventKind::kEstablished;
constexpr auto kHE = CallEventKind::kHeld;
constexpr auto kRE = CallEventKind::kRetrieved;
constexpr auto kCC = CallEventKind::kConnectionCleared;
constexpr auto kFA = CallEventKind::kFailed;
constexpr auto kDI = CallEventKind::kDiverted;
constexpr auto kTR = CallEventKind::kTransferred;
constexpr auto kCO = CallEventKind::kConferenced;

TEST_F(CallModelTest, OutgoingCallOfTapiFromDialingToIdle) {
  model_.OnCallPlaced(3);
  // Events that come before the MakeCall's answer wait for its completion.
  EXPECT_EQ(render(model_.OnEvent(ev(kSI, "1001", "201"), claim())), "");
  EXPECT_EQ(model_.WaitingEvents(), 1u);
  model_.OnCallIdentified(3, "1001", "201");
  EXPECT_EQ(render(model_.OnEvent(ev(kOR, "1001", "201"), claim())), "") << "still before the completion";
  EXPECT_EQ(render(model_.OnMakeCallCompleted(3, true, claim())), "DIALING 3 0; PROCEEDING 3 0");
  EXPECT_EQ(model_.WaitingEvents(), 0u);
  CallEvent delivered = ev(kDE, "1001", "0301234", "0301234");
  delivered.called = party("0301234");
  CallEvent established = ev(kES, "1001", "0301234");
  established.subject = party("0301234", "Far End");
  run({
      {delivered, "RINGBACK 3 0; INFO 3 0x10000"},
      {established, "CONNECTED 3 1; INFO 3 0x20000"},
      {ev(kCC, "1001", "0301234", "0301234"), "DISCONNECTED 3 1"},
      {ev(kCC, "1001", "201", "201"), "IDLE 3 0"},
      {ev(kCC, "1001", "201"), ""},
  });
  EXPECT_EQ(model_.Call(3).connected.name, "Far End");
  EXPECT_EQ(model_.Call(3).called.deviceId, "0301234");
}

TEST_F(CallModelTest, AMakeCallAnsweredWithoutCallIdIsUnderWay) {
  model_.OnCallPlaced(0);
  taken_[0] = true;
  model_.OnCallIdentified(0, "", "");
  EXPECT_EQ(render(model_.OnMakeCallCompleted(0, true, claim())), "DIALING 0 0; PROCEEDING 0 0");
  EXPECT_FALSE(model_.Call(0).failed);
  model_.Call(0).dropRequest = 9;
  EXPECT_EQ(render(model_.OnDropAnswered(8)), "");
  EXPECT_EQ(render(model_.OnDropAnswered(9)), "IDLE 0 0");
}

TEST_F(CallModelTest, FailedMakeCallReleasesTheEventsItHeld) {
  model_.OnCallPlaced(0);
  taken_[0] = true;
  EXPECT_EQ(render(model_.OnEvent(ev(kSI, "77", "201"), claim())), "");
  // The events were not this call's: a desk-phone call announced on its own.
  EXPECT_EQ(render(model_.OnMakeCallCompleted(0, false, claim())), "NEW 1; DIALTONE 1 1");
  EXPECT_TRUE(model_.Call(0).failed);
}

TEST_F(CallModelTest, IncomingCallOfferedAnsweredHeldRetrievedTransferred) {
  CallEvent delivered = ev(kDE, "2001", "201", "201");
  delivered.calling = party("+4930555", "Alice");
  delivered.calling.scope = PartyScope::kExternal;
  delivered.called = party("201");
  CallEvent transferred = ev(kTR, "2001", "201", "201");
  transferred.target = party("305");
  run({
      {delivered, "NEW 0; OFFERING 0 1"},
      {ev(kES, "2001", "201", "201"), "CONNECTED 0 1; INFO 0 0x20000"},
      {ev(kHE, "2001", "201", "201"), "ONHOLD 0 0"},
      {ev(kRE, "2001", "201", "201"), "CONNECTED 0 1"},
      {transferred, "IDLE 0 0"},
  });
  const CtiCall& c = model_.Call(0);
  EXPECT_EQ(c.origin, static_cast<DWORD>(LINECALLORIGIN_EXTERNAL));
  EXPECT_EQ(c.caller.name, "Alice");
  EXPECT_EQ(c.connected.deviceId, "+4930555");
  EXPECT_EQ(c.reason, static_cast<DWORD>(LINECALLREASON_DIRECT));
}

TEST_F(CallModelTest, DeskPhoneCallAndFarEndHangsUp) {
  CallEvent originated = ev(kOR, "3001", "201@office", "201");
  originated.called = party("555");
  run({
      {ev(kSI, "3001", "sip:201@office", "201"), "NEW 0; DIALTONE 0 1"},
      {originated, "DIALING 0 0; PROCEEDING 0 0; INFO 0 0x10000"},
      {ev(kDE, "3001", "555", "555"), "RINGBACK 0 0"},
      {ev(kES, "3001", "555", "555"), "CONNECTED 0 1; INFO 0 0x20000"},
      {ev(kCC, "3001", "555", "555"), "DISCONNECTED 0 1"},
  });
  EXPECT_EQ(model_.Call(0).origin, static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));
}

TEST_F(CallModelTest, FailedCallsTakeTheModeOfTheirCause) {
  struct Case {
    const char* cause;
    DWORD mode;
  };
  const Case cases[] = {{"busy", LINEDISCONNECTMODE_BUSY},
                        {"invalidNumberFormat", LINEDISCONNECTMODE_BADADDRESS},
                        {"destNotObtainable", LINEDISCONNECTMODE_UNREACHABLE},
                        {"somethingElse", LINEDISCONNECTMODE_UNKNOWN}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cause);
    std::string id = "40" + std::to_string(n++);
    model_.OnEvent(ev(kSI, id, "201"), claim());
    CallEvent failed = ev(kFA, id, "555", "555");
    failed.cause = c.cause;
    std::vector<CtiMessage> out = model_.OnEvent(failed, claim());
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].param1, static_cast<DWORD>(LINECALLSTATE_DISCONNECTED));
    EXPECT_EQ(out[0].param2, c.mode);
  }
}

TEST_F(CallModelTest, DivertedAwayAndConferenced) {
  CallEvent diverted = ev(kDI, "5001", "201", "201");
  diverted.target = party("400");
  CallEvent conferenced = ev(kCO, "5002", "201", "201");
  conferenced.secondaryCallId = "5003";
  conferenced.newCallId = "5010";
  conferenced.target = party("306", "Carol");
  run({
      {ev(kDE, "5001", "201", "201"), "NEW 0; OFFERING 0 1"},
      {diverted, "DISCONNECTED 0 16; IDLE 0 0"},
      {ev(kES, "5002", "201", "201"), "NEW 1; CONNECTED 1 1"},
      {ev(kSI, "5003", "201", "201"), "NEW 2; DIALTONE 2 1"},
      {conferenced, "IDLE 2 0; INFO 1 0x20040"},
  });
  EXPECT_EQ(model_.Call(1).callId, "5010");
  EXPECT_EQ(model_.Find("5010"), 1);
}

TEST_F(CallModelTest, OtherDevicesCallsAndUnknownEventsAreIgnored) {
  CallEvent other = ev(kDE, "6001", "305", "305");
  other.calling = party("306");
  run({
      {other, ""},
      {ev(kES, "6001", "305", "305"), ""},
      {ev(CallEventKind::kOther, "6001", "201"), ""},
      {ev(kCC, "6002", "201", "201"), ""},
      {ev(kHE, "6003", "201", "201"), ""},
  });
  for (int i = 0; i < kCallTableSize; ++i) EXPECT_FALSE(model_.Call(i).used);
}

TEST_F(CallModelTest, NoFreeSlotLeavesTheCallUnannouncedOnce) {
  for (bool& t : taken_) t = true;
  run({
      {ev(kDE, "7001", "201", "201"), ""},
      {ev(kES, "7001", "201", "201"), ""},
  });
  for (bool& t : taken_) t = false;
  EXPECT_EQ(render(model_.OnEvent(ev(kCC, "7001", "201", "201"), claim())), "") << "still not this line's";
}

TEST_F(CallModelTest, LinkDownEndsEveryCallStillUp) {
  model_.OnEvent(ev(kDE, "8001", "201", "201"), claim());
  model_.OnEvent(ev(kSI, "8002", "201", "201"), claim());
  model_.OnEvent(ev(kCC, "8002", "201", "201"), claim());
  EXPECT_EQ(render(model_.OnLinkDown()), "DISCONNECTED 0 2; IDLE 0 0");
  EXPECT_EQ(render(model_.OnLinkDown()), "");
}

TEST_F(CallModelTest, ClosedCallsGetNoMessagesAndTheirSlotIsReused) {
  model_.OnEvent(ev(kDE, "9001", "201", "201"), claim());
  std::uint32_t generation = model_.Call(0).generation;
  model_.OnClosed(0);
  taken_[0] = false;
  EXPECT_EQ(render(model_.OnEvent(ev(kES, "9001", "305", "305"), claim())), "");
  EXPECT_EQ(render(model_.OnEvent(ev(kDE, "9002", "201", "201"), claim())), "NEW 0; OFFERING 0 1");
  EXPECT_NE(model_.Call(0).generation, generation);
}

TEST_F(CallModelTest, HeldEventsAreBounded) {
  model_.OnCallPlaced(0);
  for (int i = 0; i < 100; ++i) model_.OnEvent(ev(kSI, std::to_string(i), "201"), claim());
  EXPECT_EQ(model_.WaitingEvents(), CallModel::kMaxWaitingEvents);
}

TEST(CallFeaturesTest, FeaturesFollowTheState) {
  struct Case {
    DWORD state;
    DWORD features;
  };
  const Case cases[] = {
      {LINECALLSTATE_OFFERING, LINECALLFEATURE_ANSWER | LINECALLFEATURE_REDIRECT | LINECALLFEATURE_DROP},
      {LINECALLSTATE_CONNECTED, LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_DROP |
                                    LINECALLFEATURE_GENERATEDIGITS},
      {LINECALLSTATE_ONHOLD, LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP},
      {LINECALLSTATE_ONHOLDPENDTRANSFER, LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP},
      {LINECALLSTATE_RINGBACK, LINECALLFEATURE_DROP},
      {LINECALLSTATE_DISCONNECTED, LINECALLFEATURE_DROP},
      {LINECALLSTATE_IDLE, 0},
      {0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CallFeaturesInState(c.state), c.features) << c.state;
}

TEST(CallModelOwnershipTest, OurDeviceInEveryWritingTheSwitchUses) {
  CallModel model;
  model.Reset("201", "office");
  for (const char* id : {"201", "201@office", "sip:201@office", "tel:201"})
    EXPECT_TRUE(model.IsOurs(id)) << id;
  for (const char* id : {"", "2010", "20", "201@other", "301@office"}) EXPECT_FALSE(model.IsOurs(id)) << id;
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST_F(CallModelTest, CallClosedBeforeItsMakeCallAnswerIsNotAnnouncedLater) {
  model_.OnCallPlaced(0);
  taken_[0] = true;
  model_.OnClosed(0);
  EXPECT_EQ(render(model_.OnEvent(ev(kSI, "1500", "201"), claim())), "") << "held: the answer may name it";
  model_.OnCallIdentified(0, "1500", "201");
  EXPECT_EQ(render(model_.OnMakeCallCompleted(0, true, claim())), "");
  EXPECT_EQ(render(model_.OnEvent(ev(kES, "1500", "555", "555"), claim())), "");
  for (int i = 0; i < kCallTableSize; ++i) EXPECT_FALSE(model_.Call(i).used) << i;
}

TEST_F(CallModelTest, OfferedCallClosedByTapiStaysGone) {
  model_.OnEvent(ev(kDE, "1600", "201", "201"), claim());
  model_.OnClosed(0);
  taken_[0] = false;
  EXPECT_EQ(render(model_.OnEvent(ev(kES, "1600", "201", "201"), claim())), "");
}

}  // namespace
}  // namespace qv
