// LINEADDRESSCAPS of the call-control line read back at the published
// offsets; with callevents 0 the answer stays that of the plain line.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/tapi.h"
#include "provider/capability_answers.h"
#include "session/settings.h"
#include "tests/capabilities/capability_bytes.h"

namespace qv {
namespace {

using test::CapsBuffer;

struct Member {
  std::size_t offset;
  std::uint32_t plain;
  std::uint32_t cti;
  const char* name;
};

const Member kMembers[] = {
    {36, test::kMarkerWord, 0x60, "dwAddressStates"},
    {40, 0x30, 0x38340, "dwCallInfoStates"},
    {44, 0x28, 0x6D, "dwCallerIDFlags"},
    {48, 0x28, 0x6D, "dwCalledIDFlags"},
    {52, test::kMarkerWord, 0x6D, "dwConnectedIDFlags"},
    {56, 0x28, 0x28, "dwRedirectionIDFlags"},
    {64, 0x117, 0x7F3B, "dwCallStates"},
    {68, 0x20, 0x1, "dwDialToneModes"},
    {72, 0x8, 0x8, "dwBusyModes"},
    {80, 0x800, 0x3B3, "dwDisconnectModes"},
    {84, 1, 1, "dwMaxNumActiveCalls"},
    {88, test::kMarkerWord, 1, "dwMaxNumOnHoldCalls"},
    {92, test::kMarkerWord, 1, "dwMaxNumOnHoldPendingCalls"},
    {96, test::kMarkerWord, 3, "dwMaxNumConference"},
    {100, test::kMarkerWord, 3, "dwMaxNumTransConf"},
    {104, 0x100020, 0x4020, "dwAddrCapFlags"},
    {108, 0x2C5, 0x0F070AEE, "dwCallFeatures"},
    {112, test::kMarkerWord, 3, "dwRemoveFromConfCaps"},
    {116, test::kMarkerWord, 1, "dwRemoveFromConfState"},
    {120, test::kMarkerWord, 3, "dwTransferModes"},
    {128, test::kMarkerWord, 0x1111, "dwForwardModes"},
    {132, test::kMarkerWord, 4, "dwMaxForwardEntries"},
    {176, 0x3, 0x3607, "dwAddressFeatures"},
};

class CtiCapabilitiesTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = SettingsSnapshot(); }
  void TearDown() override { ReplaceSettings(saved_); }
  void setCallEvents(bool on) {
    ProviderSettings s = SettingsSnapshot();
    s.username = "201";
    s.callevents = on;
    ReplaceSettings(s);
  }
  ProviderSettings saved_;
};

TEST_F(CtiCapabilitiesTest, AddressCapsInBothModes) {
  for (bool on : {false, true}) {
    SCOPED_TRACE(on ? "callevents 1" : "callevents 0");
    setCallEvents(on);
    CapsBuffer buffer(1024);
    ASSERT_EQ(TSPI_lineGetAddressCaps(0, 0, 0x00020002, 0, buffer.as<LINEADDRESSCAPS>()), 0);
    for (const Member& m : kMembers) EXPECT_EQ(buffer.at(m.offset), on ? m.cti : m.plain) << m.name;
    EXPECT_EQ(buffer.at(4), 236u);
    EXPECT_EQ(buffer.wide(228, 8), u"201");
  }
}

TEST_F(CtiCapabilitiesTest, LineStatesAreAdvertisedOnlyWithCallEvents) {
  for (bool on : {false, true}) {
    setCallEvents(on);
    CapsBuffer buffer(1024);
    ASSERT_EQ(TSPI_lineGetDevCaps(0, 0x00020002, 0, buffer.as<LINEDEVCAPS>()), 0);
    EXPECT_EQ(
        buffer.at(offsetof(LINEDEVCAPS, dwLineStates)),
        on ? static_cast<DWORD>(LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE | LINEDEVSTATE_NUMCALLS)
           : 0u);
  }
}

TEST_F(CtiCapabilitiesTest, AdvertisedFeaturesAreTheOnesTheStatesOffer) {
  // Every call feature and state the line reports somewhere is advertised.
  EXPECT_EQ(kCtiCallFeatures,
            static_cast<DWORD>(
                LINECALLFEATURE_ANSWER | LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_DROP |
                LINECALLFEATURE_HOLD | LINECALLFEATURE_REDIRECT | LINECALLFEATURE_UNHOLD |
                LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_DIAL | LINECALLFEATURE_SETUPTRANSFER |
                LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_GENERATEDIGITS | LINECALLFEATURE_SETUPCONF |
                LINECALLFEATURE_ADDTOCONF | LINECALLFEATURE_PREPAREADDCONF | LINECALLFEATURE_REMOVEFROMCONF));
  EXPECT_EQ(kCtiCallStates,
            static_cast<DWORD>(LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_DIALTONE |
                               LINECALLSTATE_DIALING | LINECALLSTATE_RINGBACK | LINECALLSTATE_CONNECTED |
                               LINECALLSTATE_PROCEEDING | LINECALLSTATE_ONHOLD | LINECALLSTATE_DISCONNECTED |
                               LINECALLSTATE_CONFERENCED | LINECALLSTATE_ONHOLDPENDTRANSFER |
                               LINECALLSTATE_ONHOLDPENDCONF));
  EXPECT_EQ(kCtiDisconnectModes,
            static_cast<DWORD>(LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_UNKNOWN |
                               LINEDISCONNECTMODE_FORWARDED | LINEDISCONNECTMODE_BUSY |
                               LINEDISCONNECTMODE_BADADDRESS | LINEDISCONNECTMODE_UNREACHABLE |
                               LINEDISCONNECTMODE_CONGESTION));
  EXPECT_EQ(kCtiCallInfoStates,
            static_cast<DWORD>(LINECALLINFOSTATE_CALLID | LINECALLINFOSTATE_ORIGIN |
                               LINECALLINFOSTATE_REASON | LINECALLINFOSTATE_CALLERID |
                               LINECALLINFOSTATE_CALLEDID | LINECALLINFOSTATE_CONNECTEDID));
}

}  // namespace
}  // namespace qv
