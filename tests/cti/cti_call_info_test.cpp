// LINECALLSTATUS and LINECALLINFO of the call-control line at their
// published offsets: variable parts, short buffers, names in UTF-8.
#include <gtest/gtest.h>

#include "provider/cti_call_info.h"
#include "tests/capabilities/capability_bytes.h"

namespace qv {
namespace {

using test::CapsBuffer;

CtiCall incomingCall() {
  CtiCall c;
  c.used = true;
  c.callId = "1234";
  c.state = LINECALLSTATE_OFFERING;
  c.mode = LINEOFFERINGMODE_ACTIVE;
  c.origin = LINECALLORIGIN_INTERNAL;
  c.caller.deviceId = "305";
  c.caller.name = "J\xC3\xBCrgen";  // UTF-8 u-umlaut
  c.called.deviceId = "201";
  return c;
}

TEST(CtiCallInfoTest, VariablePartFollowsTheFixedPartInOrder) {
  CapsBuffer b(1024);
  ASSERT_EQ(FillCtiCallInfo(b.as<LINECALLINFO>(), incomingCall()), 0);
  const std::uint32_t needed = 324 + 8 + 14 + 8;
  EXPECT_EQ(b.at(4), needed);
  EXPECT_EQ(b.at(8), needed);
  EXPECT_EQ(b.at(40), 1234u);                               // dwCallID
  EXPECT_EQ(b.at(52), static_cast<std::uint32_t>(0x7F3B));  // dwCallStates
  EXPECT_EQ(b.at(80), static_cast<std::uint32_t>(LINECALLORIGIN_INTERNAL));
  EXPECT_EQ(b.at(84), static_cast<std::uint32_t>(LINECALLREASON_DIRECT));
  EXPECT_EQ(b.at(108), static_cast<std::uint32_t>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
  EXPECT_EQ(b.at(112), 8u);
  EXPECT_EQ(b.at(116), 324u);
  EXPECT_EQ(b.wide(324, 8), u"305");
  EXPECT_EQ(b.at(120), 14u);
  EXPECT_EQ(b.at(124), 332u);
  EXPECT_EQ(b.wide(332, 14), u"J\u00FCrgen");
  EXPECT_EQ(b.at(128), static_cast<std::uint32_t>(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(b.wide(b.at(136), b.at(132)), u"201");
  EXPECT_EQ(b.at(148), static_cast<std::uint32_t>(LINECALLPARTYID_UNKNOWN)) << "not connected yet";
  EXPECT_EQ(b.at(152), 0u);
  EXPECT_EQ(b.bytes[needed], test::kMarker);
}

TEST(CtiCallInfoTest, ShortBuffersKeepWhatFitsAndSayWhatIsNeeded) {
  {
    CapsBuffer b(340);  // the caller ID fits, its name does not
    ASSERT_EQ(FillCtiCallInfo(b.as<LINECALLINFO>(), incomingCall()), 0);
    EXPECT_EQ(b.at(4), 354u);
    EXPECT_EQ(b.at(8), 332u);
    EXPECT_EQ(b.at(112), 8u);
    EXPECT_EQ(b.at(120), 0u);
    EXPECT_EQ(b.at(132), 0u) << "texts after one that does not fit are left out too";
    EXPECT_EQ(b.bytes[340], test::kMarker);
  }
  {
    CapsBuffer b(100);
    EXPECT_EQ(FillCtiCallInfo(b.as<LINECALLINFO>(), incomingCall()),
              static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
    EXPECT_EQ(b.at(4), 354u);
    for (std::size_t i = 12; i < 400; ++i) ASSERT_EQ(b.bytes[i], test::kMarker) << i;
  }
}

TEST(CtiCallInfoTest, StatusCarriesStateModeOwnerAndFeatures) {
  CapsBuffer b(56);
  ASSERT_EQ(FillCtiCallStatus(b.as<LINECALLSTATUS>(), incomingCall()), 0);
  EXPECT_EQ(b.at(4), 56u);
  EXPECT_EQ(b.at(8), 56u);
  EXPECT_EQ(b.at(12), static_cast<std::uint32_t>(LINECALLSTATE_OFFERING));
  EXPECT_EQ(b.at(16), static_cast<std::uint32_t>(LINEOFFERINGMODE_ACTIVE));
  EXPECT_EQ(b.at(20), static_cast<std::uint32_t>(LINECALLPRIVILEGE_OWNER));
  EXPECT_EQ(b.at(24), static_cast<std::uint32_t>(LINECALLFEATURE_ANSWER | LINECALLFEATURE_REDIRECT |
                                                 LINECALLFEATURE_DROP));
  EXPECT_EQ(b.bytes[56], test::kMarker);
  CapsBuffer small(40);
  EXPECT_EQ(FillCtiCallStatus(small.as<LINECALLSTATUS>(), incomingCall()),
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
  EXPECT_EQ(small.at(4), 56u);
}

TEST(CtiCallInfoTest, PartyFlagsCallIdsAndUtf8) {
  CallParty withheld;
  withheld.restricted = true;
  EXPECT_EQ(PartyIdFlags(withheld), static_cast<DWORD>(LINECALLPARTYID_BLOCKED));
  CallParty unknown;
  unknown.notKnown = true;
  EXPECT_EQ(PartyIdFlags(unknown), static_cast<DWORD>(LINECALLPARTYID_UNAVAIL));
  EXPECT_EQ(PartyIdFlags(CallParty{}), static_cast<DWORD>(LINECALLPARTYID_UNKNOWN));
  EXPECT_EQ(NumericCallId("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(NumericCallId("4294967296"), 0u);
  EXPECT_EQ(NumericCallId("12a"), 0u);
  EXPECT_EQ(NumericCallId(""), 0u);
  EXPECT_EQ(Utf8ToUtf16("A\xE2\x82\xAC\xF0\x9F\x93\x9E"), u"A\u20AC\U0001F4DE");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF\xED\xA0\x80\xFF\xE2\x82"),
            u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

// A call's features depend on the calls it belongs with, not its state alone.
TEST(CtiCallInfoTest, FeaturesOfConsultationAndConferenceCalls) {
  constexpr DWORD kPair = LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_DROP;
  struct Case {
    const char* name;
    DWORD state;
    bool consultation;
    const char* callId;
    int partner;
    bool isConference;
    int conference;
    DWORD features;
    int joining = -1;
    bool joined = false;
  };
  const Case cases[] = {
      {"lone connected", LINECALLSTATE_CONNECTED, false, "1", -1, false, -1,
       LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_DROP |
           LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_SETUPCONF | LINECALLFEATURE_GENERATEDIGITS},
      {"undialled consultation", LINECALLSTATE_DIALTONE, true, "", 0, false, -1,
       LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP},
      {"consultation ringing", LINECALLSTATE_RINGBACK, true, "2", 0, false, -1,
       LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_DROP},
      {"consultation connected", LINECALLSTATE_CONNECTED, true, "2", 0, false, -1,
       kPair | LINECALLFEATURE_GENERATEDIGITS},
      {"held for transfer", LINECALLSTATE_ONHOLDPENDTRANSFER, false, "1", 1, false, -1,
       kPair | LINECALLFEATURE_UNHOLD},
      {"held, consultation gone", LINECALLSTATE_ONHOLD, false, "1", -1, false, -1,
       LINECALLFEATURE_UNHOLD | LINECALLFEATURE_DROP},
      {"conference call", LINECALLSTATE_CONNECTED, false, "9", -1, true, -1,
       LINECALLFEATURE_HOLD | LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS |
           LINECALLFEATURE_PREPAREADDCONF},
      {"conference party", LINECALLSTATE_CONFERENCED, false, "1", -1, false, 3, 0},
      {"party of a reported conference", LINECALLSTATE_CONFERENCED, false, "1", -1, false, 3,
       LINECALLFEATURE_REMOVEFROMCONF, -1, true},
      {"conference waiting for a party", LINECALLSTATE_ONHOLDPENDCONF, false, "9", -1, true, -1,
       LINECALLFEATURE_DROP | LINECALLFEATURE_UNHOLD},
      {"conference being set up", LINECALLSTATE_ONHOLDPENDCONF, false, "", -1, true, -1, 0},
      {"call to add, ringing", LINECALLSTATE_RINGBACK, true, "2", -1, false, -1,
       LINECALLFEATURE_ADDTOCONF | LINECALLFEATURE_DROP, 4},
      {"call to add, connected", LINECALLSTATE_CONNECTED, true, "2", -1, false, -1,
       LINECALLFEATURE_ADDTOCONF | LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CtiCall call;
    call.used = true;
    call.state = c.state;
    call.consultation = c.consultation;
    call.callId = c.callId;
    call.partner = c.partner;
    call.isConference = c.isConference;
    call.conference = c.conference;
    call.joining = c.joining;
    call.joined = c.joined;
    EXPECT_EQ(ReportedCallFeatures(call), c.features);
  }
}

}  // namespace
}  // namespace qv
