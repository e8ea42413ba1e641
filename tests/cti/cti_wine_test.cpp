// The main call-control sequences with the Windows build: the provider's
// exports against the native pbxsim (started by wine_cti.sh with --calls),
// whose commands this program appends to a file pbxsim reads. Skipped when
// the script did not set the environment.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <tuple>

#include "tests/cti/wine_pbx.h"

namespace qv {
namespace {

using namespace wine;

const auto kOurCall = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCA11});

class CtiWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("QV_PBX_PORT").empty()) GTEST_SKIP() << "run by wine_cti.sh";
    wine::WriteCallControlSettings();
    recorder().Clear();
    const std::size_t monitors = Count(Record(), kMonitorStart);
    DWORD options = 0;
    ASSERT_EQ(TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, 1, 1, onCompletion, &options), 0);
    initialised_ = true;
    ASSERT_EQ(
        TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(std::uintptr_t{0x1}), &line_, QV_TSPI_VERSION, onEvent),
        0);
    // Calls from the PBX's side need this session's monitor in place.
    ASSERT_TRUE(WaitRecord(kMonitorStart, monitors + 1)) << "no MonitorStart";
  }
  static constexpr const char* kMonitorStart = "<csta:MonitorStartResponse xmlns";
  void TearDown() override {
    if (initialised_) {
      EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
    }
  }

  // The PBX offers the first call of the test; it is answered.
  void AnswerIncoming(const std::string& from, DRV_REQUESTID id, HTAPICALL& ht, HDRVCALL& call) {
    Command("incoming " + from);
    ASSERT_TRUE(recorder().WaitNewCall(1, 10s));
    std::tie(ht, call) = recorder().NewCall(0);
    ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING, 10s));
    EXPECT_EQ(Complete(id, TSPI_lineAnswer(id, call, nullptr, 0)), 0);
    ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED, 10s));
  }

  HDRVLINE line_ = nullptr;
  bool initialised_ = false;
};

TEST_F(CtiWine, OutgoingCallStatesAndDrop) {
  HDRVCALL call = nullptr;
  std::u16string number = u"0301234";
  EXPECT_EQ(Complete(1, TSPI_lineMakeCall(1, line_, kOurCall, &call,
                                          reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_CONNECTED, 10s));
  EXPECT_EQ(recorder().States(kOurCall),
            (std::vector<DWORD>{LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                LINECALLSTATE_CONNECTED}));
  std::vector<unsigned char> buffer(1024, 0xCC);
  auto* info = reinterpret_cast<LPLINECALLINFO>(buffer.data());
  info->dwTotalSize = 1024;
  ASSERT_EQ(TSPI_lineGetCallInfo(call, info), 0);
  EXPECT_EQ(info->dwOrigin, static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));
  EXPECT_EQ(info->dwConnectedIDFlags, static_cast<DWORD>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
  EXPECT_GT(info->dwConnectedIDNameSize, 0u);
  EXPECT_EQ(Complete(2, TSPI_lineDrop(2, call, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_IDLE, 10s));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

TEST_F(CtiWine, IncomingCallAnsweredHeldRetrievedTransferred) {
  Command("incoming +4930555 Alice Example");
  ASSERT_TRUE(recorder().WaitNewCall(1, 10s));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING, 10s));
  std::vector<unsigned char> buffer(1024, 0xCC);
  auto* info = reinterpret_cast<LPLINECALLINFO>(buffer.data());
  info->dwTotalSize = 1024;
  ASSERT_EQ(TSPI_lineGetCallInfo(call, info), 0);
  EXPECT_EQ(info->dwOrigin, static_cast<DWORD>(LINECALLORIGIN_EXTERNAL));
  ASSERT_EQ(info->dwCallerIDSize, 18u);
  EXPECT_EQ(buffer[info->dwCallerIDOffset], '+');
  EXPECT_EQ(TSPI_lineHold(10, call), static_cast<LONG>(LINEERR_INVALCALLSTATE));
  EXPECT_EQ(Complete(11, TSPI_lineAnswer(11, call, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED, 10s));
  EXPECT_EQ(Complete(12, TSPI_lineHold(12, call)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_ONHOLD, 10s));
  EXPECT_EQ(Complete(13, TSPI_lineUnhold(13, call)), 0);
  ASSERT_TRUE(recorder().WaitStates(ht, 4, 10s));
  std::u16string to = u"305";
  EXPECT_EQ(Complete(14, TSPI_lineBlindTransfer(14, call, reinterpret_cast<LPCWSTR>(to.c_str()), 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_IDLE, 10s));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  const std::string record = Record();
  EXPECT_EQ(Count(record, "\"root\":\"HoldCall\""), 1u);
  EXPECT_EQ(Count(record, "\"root\":\"SingleStepTransferCall\""), 1u);
}

TEST_F(CtiWine, DeskPhoneCallAndFarEndHangsUp) {
  Command("desk 555");
  ASSERT_TRUE(recorder().WaitNewCall(1, 10s));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_RINGBACK, 10s));
  Command("answer");
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED, 10s));
  Command("hangup");
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_IDLE, 10s));
  EXPECT_EQ(recorder().States(ht),
            (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING,
                                LINECALLSTATE_RINGBACK, LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED,
                                LINECALLSTATE_IDLE}));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

TEST_F(CtiWine, ConsultationThenConferenceAndForwardingFromThePhone) {
  HTAPICALL ht = nullptr;
  HDRVCALL call = nullptr;
  ASSERT_NO_FATAL_FAILURE(AnswerIncoming("+4930555 Alice Example", 20, ht, call));
  const auto kConsult = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xC0});
  const auto kConf = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCF});
  HDRVCALL consult = nullptr, conf = nullptr;
  EXPECT_EQ(Complete(21, TSPI_lineSetupTransfer(21, call, kConsult, &consult, nullptr)), 0);
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_DIALTONE, 10s));
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_ONHOLDPENDTRANSFER, 10s));
  std::u16string to = u"305";
  EXPECT_EQ(Complete(22, TSPI_lineDial(22, consult, reinterpret_cast<LPCWSTR>(to.c_str()), 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_CONNECTED, 10s));
  EXPECT_EQ(
      Complete(23, TSPI_lineCompleteTransfer(23, call, consult, kConf, &conf, LINETRANSFERMODE_CONFERENCE)),
      0);
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_CONNECTED, 10s));
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONFERENCED, 10s));
  EXPECT_EQ(Complete(24, TSPI_lineDrop(24, conf, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_IDLE, 10s));
  for (HDRVCALL c : {conf, consult, call}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
  // Forwarding set on the desk phone shows in LINEADDRESSSTATUS.
  Command("forward forwardBusy on 306");
  std::vector<unsigned char> b(256, 0);
  auto* status = reinterpret_cast<LPLINEADDRESSSTATUS>(b.data());
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  do {
    status->dwTotalSize = 256;
    ASSERT_EQ(TSPI_lineGetAddressStatus(line_, 0, status), 0);
    if (status->dwForwardNumEntries == 1) break;
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < deadline);
  ASSERT_EQ(status->dwForwardNumEntries, 1u);
  ASSERT_EQ(status->dwForwardSize, 24u + 8u) << "six DWORDs an entry";
  DWORD mode = 0;
  std::memcpy(&mode, b.data() + status->dwForwardOffset, 4);
  EXPECT_EQ(mode, static_cast<DWORD>(LINEFORWARDMODE_BUSY));
  Command("forward forwardBusy off");
  const std::string record = Record();
  EXPECT_EQ(Count(record, "\"root\":\"ConferenceCall\""), 1u);
}

// A conference built step by step through the Windows build.
TEST_F(CtiWine, ConferenceSetUpAddedAndAPartyRemoved) {
  HTAPICALL ht = nullptr;
  HDRVCALL call = nullptr;
  ASSERT_NO_FATAL_FAILURE(AnswerIncoming("+4930666 Bob Example", 30, ht, call));
  const auto kConf = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCF});
  const auto kAdded = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xA1});
  HDRVCALL conf = nullptr, added = nullptr;
  EXPECT_EQ(Complete(31, TSPI_lineSetupConference(31, call, line_, kConf, &conf, kAdded, &added, 3, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kAdded, LINECALLSTATE_DIALTONE, 10s));
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_ONHOLDPENDCONF, 10s));
  std::u16string to = u"305";
  EXPECT_EQ(Complete(32, TSPI_lineDial(32, added, reinterpret_cast<LPCWSTR>(to.c_str()), 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kAdded, LINECALLSTATE_CONNECTED, 10s));
  EXPECT_EQ(Complete(33, TSPI_lineAddToConference(33, conf, added)), 0);
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_CONNECTED, 10s));
  ASSERT_TRUE(recorder().WaitState(kAdded, LINECALLSTATE_CONFERENCED, 10s));
  EXPECT_EQ(Complete(34, TSPI_lineRemoveFromConference(34, added)), 0);
  ASSERT_TRUE(recorder().WaitState(kAdded, LINECALLSTATE_IDLE, 10s));
  EXPECT_EQ(Complete(35, TSPI_lineDrop(35, conf, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_IDLE, 10s));
  for (HDRVCALL c : {conf, added, call}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

// A colleague's ringing call picked up by device and by group through the
// Windows build: each becomes the call TAPI created for the request.
TEST_F(CtiWine, PickupDirectedAndByGroup) {
  ASSERT_EQ(TSPI_lineSetStatusMessages(line_, 0, LINEADDRESSSTATE_FORWARD), 0);
  Command("colleague 305 8 +4930777");
  Command("colleague 306 7 +4930888");
  // pbxsim reads its commands in order: once do-not-disturb shows, both ring.
  Command("dnd on");
  ASSERT_TRUE(recorder().WaitLineMessage(LINE_ADDRESSSTATE, LINEADDRESSSTATE_FORWARD, 10s));
  Command("dnd off");
  const auto kPicked = reinterpret_cast<HTAPICALL>(std::uintptr_t{0x71C});
  const auto kGroup = reinterpret_cast<HTAPICALL>(std::uintptr_t{0x72C});
  HDRVCALL picked = nullptr, byGroup = nullptr, none = nullptr;
  std::u16string from = u"305", group = u"7";
  EXPECT_EQ(Complete(40, TSPI_linePickup(40, line_, 0, kPicked, &picked,
                                         reinterpret_cast<LPCWSTR>(from.c_str()), nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kPicked, LINECALLSTATE_CONNECTED, 10s));
  EXPECT_EQ(recorder().States(kPicked), std::vector<DWORD>{LINECALLSTATE_CONNECTED});
  std::vector<unsigned char> buffer(1024, 0xCC);
  auto* info = reinterpret_cast<LPLINECALLINFO>(buffer.data());
  info->dwTotalSize = 1024;
  ASSERT_EQ(TSPI_lineGetCallInfo(picked, info), 0);
  EXPECT_EQ(info->dwOrigin, static_cast<DWORD>(LINECALLORIGIN_INBOUND));
  EXPECT_EQ(info->dwReason, static_cast<DWORD>(LINECALLREASON_PICKUP));
  ASSERT_EQ(info->dwConnectedIDSize, 18u);
  EXPECT_EQ(buffer[info->dwConnectedIDOffset], '+');
  EXPECT_EQ(Complete(41, TSPI_linePickup(41, line_, 0, kGroup, &byGroup, nullptr,
                                         reinterpret_cast<LPCWSTR>(group.c_str()))),
            0);
  ASSERT_TRUE(recorder().WaitState(kGroup, LINECALLSTATE_CONNECTED, 10s));
  // Nothing left ringing at 305: refused once, and TAPI hears nothing of the call.
  EXPECT_EQ(Complete(42, TSPI_linePickup(42, line_, 0, kOurCall, &none,
                                         reinterpret_cast<LPCWSTR>(from.c_str()), nullptr)),
            static_cast<LONG>(LINEERR_OPERATIONFAILED));
  EXPECT_EQ(recorder().CountFor(kOurCall), 0u);
  EXPECT_EQ(TSPI_lineCloseCall(none), 0);
  EXPECT_EQ(Complete(43, TSPI_lineDrop(43, picked, nullptr, 0)), 0);
  EXPECT_EQ(Complete(44, TSPI_lineDrop(44, byGroup, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kPicked, LINECALLSTATE_IDLE, 10s));
  ASSERT_TRUE(recorder().WaitState(kGroup, LINECALLSTATE_IDLE, 10s));
  for (DRV_REQUESTID id = 40; id <= 44; ++id) EXPECT_EQ(recorder().CompletionCount(id), 1) << id;
  for (HDRVCALL c : {picked, byGroup}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
  const std::string record = Record();
  EXPECT_EQ(Count(record, "\"root\":\"DirectedPickupCall\""), 2u);
  EXPECT_EQ(Count(record, "\"root\":\"GroupPickupCall\""), 1u);
}

}  // namespace
}  // namespace qv
