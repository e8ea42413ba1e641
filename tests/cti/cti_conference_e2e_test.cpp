// A conference built up step by step through the exports, against pbxsim:
// set up from a call, parties added, one removed, one leaving on its own.
#include "tests/cti/cti_e2e_fixture.h"

namespace qv {
namespace {

class ConferenceE2E : public CtiE2E {
 protected:
  const HTAPICALL kConf = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCF});
  const HTAPICALL kFirstAdded = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xA1});
  const HTAPICALL kSecondAdded = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xA2});

  // Dials the call to add and waits until the far end answered.
  void DialToAdd(DRV_REQUESTID id, HDRVCALL call, HTAPICALL ht, const std::u16string& number) {
    ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_DIALTONE));
    ASSERT_EQ(Complete(id, TSPI_lineDial(id, call, reinterpret_cast<LPCWSTR>(number.c_str()), 0)), 0);
    ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED));
    EXPECT_NE(StatusFeatures(call) & LINECALLFEATURE_ADDTOCONF, 0u);
  }
  std::string LastFrameField(const std::string& root, const std::string& field) {
    std::string value;
    for (const auto& f : sim_->frames()) {
      if (f.root == root) value = f.field(field);
    }
    return value;
  }
};

TEST_F(ConferenceE2E, BuiltUpStepByStepAPartyRemovedAnotherLeaves) {
  Start();
  auto [firstHt, first] = Incoming("+4930555", 0);
  HDRVCALL conf = nullptr, added = nullptr, second = nullptr;
  EXPECT_EQ(TSPI_lineSetupConference(1, first, line_, kConf, &conf, kFirstAdded, &added, 4, nullptr),
            static_cast<LONG>(LINEERR_CONFERENCEFULL));
  EXPECT_EQ(
      Complete(2, TSPI_lineSetupConference(2, first, line_, kConf, &conf, kFirstAdded, &added, 3, nullptr)),
      0);
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_ONHOLDPENDCONF));
  EXPECT_EQ(recorder().States(firstHt).back(), static_cast<DWORD>(LINECALLSTATE_CONFERENCED));
  // Not dialled yet: nothing to add, refused without a frame.
  EXPECT_EQ(TSPI_lineAddToConference(3, conf, added), kInvalCallState);
  DialToAdd(4, added, kFirstAdded, u"305");
  EXPECT_EQ(Complete(5, TSPI_lineAddToConference(5, conf, added)), 0);
  ASSERT_TRUE(recorder().WaitState(kFirstAdded, LINECALLSTATE_CONFERENCED));
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(recorder().States(firstHt),
            (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED, LINECALLSTATE_CONFERENCED}));
  const std::string confId = std::to_string(At(CallInfo(conf), kCallId));
  EXPECT_EQ(At(CallInfo(conf), kOrigin), static_cast<DWORD>(LINECALLORIGIN_CONFERENCE));
  // Three parties (with us) fill it.
  EXPECT_EQ(TSPI_linePrepareAddToConference(6, conf, kSecondAdded, &second, nullptr),
            static_cast<LONG>(LINEERR_CONFERENCEFULL));

  // Removing a party clears its connection in the conference's call.
  EXPECT_EQ(Complete(7, TSPI_lineRemoveFromConference(7, added)), 0);
  ASSERT_TRUE(recorder().WaitState(kFirstAdded, LINECALLSTATE_IDLE));
  EXPECT_EQ(LastFrameField("ClearConnection", "callID"), confId);
  EXPECT_EQ(LastFrameField("ClearConnection", "deviceID"), "305");
  EXPECT_EQ(recorder().States(kFirstAdded).back(), static_cast<DWORD>(LINECALLSTATE_IDLE));
  EXPECT_EQ(recorder().States(kFirstAdded).rbegin()[1], static_cast<DWORD>(LINECALLSTATE_CONFERENCED));

  // The next party joins the held conference.
  EXPECT_EQ(Complete(8, TSPI_linePrepareAddToConference(8, conf, kSecondAdded, &second, nullptr)), 0);
  ASSERT_TRUE(recorder().WaitStates(kConf, 3));
  EXPECT_EQ(recorder().States(kConf).back(), static_cast<DWORD>(LINECALLSTATE_ONHOLDPENDCONF));
  DialToAdd(9, second, kSecondAdded, u"306");
  EXPECT_EQ(Complete(10, TSPI_lineAddToConference(10, conf, second)), 0);
  ASSERT_TRUE(recorder().WaitState(kSecondAdded, LINECALLSTATE_CONFERENCED));
  ASSERT_TRUE(recorder().WaitStates(kConf, 4));
  EXPECT_EQ(recorder().States(kConf),
            (std::vector<DWORD>{LINECALLSTATE_ONHOLDPENDCONF, LINECALLSTATE_CONNECTED,
                                LINECALLSTATE_ONHOLDPENDCONF, LINECALLSTATE_CONNECTED}));

  // The first caller hangs up; the conference goes on.
  sim_->calls()->PartyLeaves(std::to_string(At(CallInfo(conf), kCallId)), "+4930555");
  ASSERT_TRUE(recorder().WaitState(firstHt, LINECALLSTATE_IDLE));
  EXPECT_EQ(recorder().ModeOf(firstHt, LINECALLSTATE_DISCONNECTED),
            static_cast<DWORD>(LINEDISCONNECTMODE_NORMAL));
  EXPECT_EQ(recorder().States(kConf).size(), 4u);
  EXPECT_EQ(Complete(11, TSPI_lineDrop(11, conf, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kSecondAdded, LINECALLSTATE_IDLE));
  EXPECT_EQ(sim_->Count("ConferenceCall"), 2u);
  EXPECT_EQ(sim_->Count("HoldCall"), 2u);
  for (DRV_REQUESTID id = 2; id <= 11; ++id)
    EXPECT_EQ(recorder().CompletionCount(id), id == 3 || id == 6 ? 0 : 1);
  for (HDRVCALL c : {first, conf, added, second}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

// Unholding the conference while the next party's call is up returns to the
// conference and drops that call, with ReconnectCall.
TEST_F(ConferenceE2E, UnholdingTheConferenceDropsTheCallToAdd) {
  Start();
  auto [firstHt, first] = Incoming("+4930555", 0);
  HDRVCALL conf = nullptr, added = nullptr, second = nullptr;
  EXPECT_EQ(
      Complete(1, TSPI_lineSetupConference(1, first, line_, kConf, &conf, kFirstAdded, &added, 3, nullptr)),
      0);
  DialToAdd(2, added, kFirstAdded, u"305");
  EXPECT_EQ(Complete(3, TSPI_lineAddToConference(3, conf, added)), 0);
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_CONNECTED));
  // Room for the next party.
  EXPECT_EQ(Complete(7, TSPI_lineRemoveFromConference(7, added)), 0);
  ASSERT_TRUE(recorder().WaitState(kFirstAdded, LINECALLSTATE_IDLE));
  EXPECT_EQ(Complete(4, TSPI_linePrepareAddToConference(4, conf, kSecondAdded, &second, nullptr)), 0);
  DialToAdd(5, second, kSecondAdded, u"306");
  EXPECT_EQ(StatusFeatures(conf), static_cast<DWORD>(LINECALLFEATURE_DROP | LINECALLFEATURE_UNHOLD));
  EXPECT_EQ(Complete(6, TSPI_lineUnhold(6, conf)), 0);
  ASSERT_TRUE(recorder().WaitState(kSecondAdded, LINECALLSTATE_IDLE));
  ASSERT_TRUE(recorder().WaitStates(kConf, 5));
  EXPECT_EQ(
      recorder().States(kConf),
      (std::vector<DWORD>{LINECALLSTATE_ONHOLDPENDCONF, LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLDPENDCONF,
                          LINECALLSTATE_ONHOLD, LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(recorder().States(firstHt).back(), static_cast<DWORD>(LINECALLSTATE_CONFERENCED));
  EXPECT_EQ(sim_->Count("ReconnectCall"), 1u);
  EXPECT_EQ(sim_->Count("RetrieveCall"), 0u);
  for (HDRVCALL c : {first, conf, added, second}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

// Dropping the call to add before it joins takes the conference set up for
// it away and leaves the first call on hold.
TEST_F(ConferenceE2E, DroppingTheCallToAddUndoesTheSetUp) {
  Start();
  auto [firstHt, first] = Incoming("+4930555", 0);
  HDRVCALL conf = nullptr, added = nullptr;
  EXPECT_EQ(
      Complete(1, TSPI_lineSetupConference(1, first, line_, kConf, &conf, kFirstAdded, &added, 3, nullptr)),
      0);
  ASSERT_TRUE(recorder().WaitState(kFirstAdded, LINECALLSTATE_DIALTONE));
  EXPECT_EQ(Complete(2, TSPI_lineDrop(2, added, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_IDLE));
  ASSERT_TRUE(recorder().WaitState(firstHt, LINECALLSTATE_ONHOLD));
  EXPECT_EQ(Complete(3, TSPI_lineUnhold(3, first)), 0);
  ASSERT_TRUE(recorder().WaitStates(firstHt, 5));
  EXPECT_EQ(recorder().States(firstHt).back(), static_cast<DWORD>(LINECALLSTATE_CONNECTED));
  for (HDRVCALL c : {first, conf, added}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

}  // namespace
}  // namespace qv
