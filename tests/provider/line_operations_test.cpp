// Making and closing calls through the exports, with the PBX end on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/session_event_sink.h"
#include "provider/tapi_delivery.h"
#include "session/csta_responses.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "session/settings.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

std::vector<std::pair<DRV_REQUESTID, LONG>> completions;
std::mutex completionsLock;
void recordCompletion(DRV_REQUESTID id, LONG result) {
  std::lock_guard lock(completionsLock);
  completions.emplace_back(id, result);
}

constexpr LONG kFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);

std::string tagText(const std::string& xml, const std::string& tag) {
  std::size_t open = xml.find("<" + tag + ">");
  std::size_t close = xml.find("</" + tag + ">");
  if (open == std::string::npos || close == std::string::npos) return "<missing>";
  open += tag.size() + 2;
  return xml.substr(open, close - open);
}

std::string makeCallAnswer(const std::string& callId, const std::string& deviceId) {
  return "<MakeCallResponse><callingDevice><callID>" + callId + "</callID><deviceID>" + deviceId +
         "</deviceID></callingDevice></MakeCallResponse>";
}

class LineOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer_.Ok());
    pbxLink().Attach(peer_.TakeClient(), false, "office");
    {
      std::lock_guard lock(callTableLock);
      for (CallSlot& slot : callTable) slot = CallSlot{};
    }
    completions.clear();
    StartTapiDelivery(recordCompletion);
    SetSessionEvents(&providerSessionEvents());
    settings_ = SettingsSnapshot();
  }
  void TearDown() override {
    FailPendingRequests(RequestOutcome::kShutdown);
    SetSessionEvents(nullptr);
    StopTapiDelivery();
    closeSocket(pbxLink().Detach());
    ReplaceSettings(settings_);
  }

  LONG Make(DRV_REQUESTID id, const std::u16string& destination, HDRVCALL* call, DWORD country = 0) {
    return TSPI_lineMakeCall(id, nullptr, reinterpret_cast<HTAPICALL>(std::uintptr_t{0x100} + id), call,
                             reinterpret_cast<LPCWSTR>(destination.c_str()), country, nullptr);
  }
  // The PBX's answer, as the worker would dispatch it.
  void Answer(std::uint32_t invokeId, const std::string& xml) {
    SessionState state;
    DispatchCstaFrame(state, invokeId, xml);
  }
  // Everything queued so far reaches the completion procedure.
  std::vector<std::pair<DRV_REQUESTID, LONG>> Completions() {
    StopTapiDelivery();
    StartTapiDelivery(recordCompletion);
    std::lock_guard lock(completionsLock);
    return completions;
  }

  test::LoopbackPeer peer_;
  ProviderSettings settings_;
};

TEST_F(LineOperations, MakeCallSendsTheFilteredNumberAndRemembersTheInvokeId) {
  struct Case {
    std::u16string destination;
    std::string sent;
  };
  const Case cases[] = {{u"+49 (30) 1234-5678", "493012345678"},
                        {u"*97#", "*97#"},
                        {u"T555,1234", "5551234"},
                        {u"abc", ""},
                        {std::u16string(u"1\uFF122") + u"\u0133", "12"}};
  DRV_REQUESTID id = 10;
  for (const Case& c : cases) {
    HDRVCALL call = nullptr;
    ASSERT_EQ(Make(id, c.destination, &call), static_cast<LONG>(id));
    auto frame = peer_.NextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(tagText(frame->xml, "calledDirectoryNumber"), c.sent);
    EXPECT_EQ(tagText(frame->xml, "callingDevice"), "201@office");
    EXPECT_EQ(frame->xml.find("autoOriginate"), std::string::npos);
    CallSlot* slot = SlotFromHandle(call);
    ASSERT_NE(slot, nullptr);
    EXPECT_TRUE(slot->makeCallPending);
    EXPECT_EQ(slot->makeCallRequestId, id);
    EXPECT_EQ(TSPI_lineCloseCall(call), 0);
    ASSERT_TRUE(peer_.NextFrame());                     // ClearConnection
    Answer(frame->invokeId, makeCallAnswer("x", "y"));  // settles the completion, frees the slot
    EXPECT_FALSE(slot->makeCallPending);
    ++id;
  }
}

TEST_F(LineOperations, MakeCallLogLineAndAutoOriginate) {
  ProviderSettings s = SettingsSnapshot();
  s.autooriginate = true;
  ReplaceSettings(s);
  std::size_t mark = test::LogMark();
  HDRVCALL call = nullptr;
  Make(1, u"0301234", &call, 49);
  auto frame = peer_.NextFrame();
  ASSERT_TRUE(frame);
  EXPECT_EQ(tagText(frame->xml, "autoOriginate"), "doNotPrompt");
  std::string log = test::LogSince(mark);
  EXPECT_NE(log.find("]:5 TSPI_lineMakeCall to 0301234 CountryCode = 49\r\n"), std::string::npos);
  EXPECT_EQ(log.find("]:5 TSPI_lineMakeCall\r\n"), std::string::npos) << "no bare entry trace";
}

TEST_F(LineOperations, NullDestinationIsRefusedAtOnceWithoutASlot) {
  HDRVCALL call = nullptr;
  EXPECT_EQ(TSPI_lineMakeCall(5, nullptr, nullptr, &call, nullptr, 0, nullptr),
            static_cast<LONG>(LINEERR_INVALADDRESS));
  EXPECT_EQ(call, nullptr);
  EXPECT_TRUE(peer_.Quiet());
  EXPECT_TRUE(Completions().empty());
  std::lock_guard lock(callTableLock);
  for (const CallSlot& slot : callTable) EXPECT_FALSE(slot.inUse);
}

TEST_F(LineOperations, TenOpenCallsAtMostAndClosedSlotsAreReused) {
  HDRVCALL calls[10] = {};
  std::uint32_t invokeIds[10] = {};
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(Make(100 + i, u"1", &calls[i]), 100 + i);
    invokeIds[i] = peer_.NextFrame()->invokeId;
    Answer(invokeIds[i], makeCallAnswer("call" + std::to_string(i), "dev"));
  }
  std::size_t mark = test::LogMark();
  HDRVCALL extra = nullptr;
  EXPECT_EQ(Make(200, u"1", &extra), static_cast<LONG>(LINEERR_CALLUNAVAIL));
  EXPECT_NE(test::LogSince(mark).find("]:5 TSPI_lineMakeCall: No free line available\r\n"),
            std::string::npos);
  EXPECT_TRUE(peer_.Quiet()) << "nothing sent for the refused call";

  ASSERT_EQ(TSPI_lineCloseCall(calls[4]), 0);
  ASSERT_TRUE(peer_.NextFrame());
  HDRVCALL reused = nullptr;
  ASSERT_EQ(Make(201, u"2", &reused), 201);
  EXPECT_EQ(reused, calls[4]);
  CallSlot* slot = SlotFromHandle(reused);
  EXPECT_EQ(slot->callId, "") << "nothing of the earlier call survives";
  EXPECT_EQ(slot->deviceId, "201@office");
}

TEST_F(LineOperations, CloseSendsThePbxIdentityOnceAndRefusesTheSecondClose) {
  HDRVCALL call = nullptr;
  Make(7, u"55", &call);
  auto make = peer_.NextFrame();
  ASSERT_TRUE(make);
  Answer(make->invokeId, makeCallAnswer("C-1", "N201"));
  EXPECT_EQ(TSPI_lineDrop(8, call, nullptr, 0), 0);
  EXPECT_TRUE(peer_.Quiet()) << "drop sends nothing";
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  auto clear = peer_.NextFrame();
  ASSERT_TRUE(clear);
  EXPECT_EQ(tagText(clear->xml, "callID"), "C-1");
  EXPECT_EQ(tagText(clear->xml, "deviceID"), "N201");
  EXPECT_EQ(TSPI_lineCloseCall(call), static_cast<LONG>(LINEERR_INVALCALLHANDLE));
  EXPECT_EQ(TSPI_lineCloseCall(reinterpret_cast<HDRVCALL>(&completions)),
            static_cast<LONG>(LINEERR_INVALCALLHANDLE));
  EXPECT_TRUE(peer_.Quiet());
}

TEST_F(LineOperations, CloseBeforeTheAnswerNamesTheConfiguredDevice) {
  HDRVCALL call = nullptr;
  Make(7, u"55", &call);
  ASSERT_TRUE(peer_.NextFrame());
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  auto clear = peer_.NextFrame();
  ASSERT_TRUE(clear);
  EXPECT_EQ(tagText(clear->xml, "callID"), "");
  EXPECT_EQ(tagText(clear->xml, "deviceID"), "201@office");
}

TEST_F(LineOperations, EveryMakeCallIsCompletedExactlyOnce) {
  HDRVCALL a = nullptr, b = nullptr, c = nullptr, d = nullptr, e = nullptr;
  Make(1, u"1", &a);
  std::uint32_t ia = peer_.NextFrame()->invokeId;
  Make(2, u"2", &b);
  std::uint32_t ib = peer_.NextFrame()->invokeId;
  Make(3, u"3", &c);
  ASSERT_TRUE(peer_.NextFrame());
  Make(5, u"5", &e);
  ASSERT_TRUE(peer_.NextFrame());
  const std::string refusal = "<CSTAErrorCode><operation>x</operation></CSTAErrorCode>";
  Answer(ia, makeCallAnswer("A", "dev"));
  Answer(ib, refusal);
  Answer(ia, makeCallAnswer("A", "dev"));
  Answer(ia, refusal);
  // The third waits; its deadline passes.
  ExpireOverdueRequests(std::chrono::steady_clock::now() + std::chrono::seconds(31));
  // No connection: the request cannot be sent and fails at once.
  closeSocket(pbxLink().Detach());
  EXPECT_EQ(Make(4, u"4", &d), 4);
  FailPendingRequests(RequestOutcome::kLinkLost);
  EXPECT_EQ(Completions(), (std::vector<std::pair<DRV_REQUESTID, LONG>>{
                               {1, 0}, {2, kFailed}, {3, kFailed}, {5, kFailed}, {4, kFailed}}));
  std::lock_guard lock(callTableLock);
  for (const CallSlot& slot : callTable) EXPECT_FALSE(slot.makeCallPending);
}

TEST_F(LineOperations, NoCompletionReachesTapiOnceDeliveryHasStopped) {
  HDRVCALL a = nullptr;
  Make(1, u"1", &a);
  ASSERT_TRUE(peer_.NextFrame());
  StopTapiDelivery();
  FailPendingRequests(RequestOutcome::kShutdown);
  std::lock_guard lock(completionsLock);
  EXPECT_TRUE(completions.empty());
}

TEST_F(LineOperations, OversizedRequestIsNotSentAndFails) {
  std::size_t mark = test::LogMark();
  HDRVCALL call = nullptr;
  EXPECT_EQ(Make(9, std::u16string(70000, u'5'), &call), 9);
  EXPECT_TRUE(peer_.Quiet());
  EXPECT_NE(test::LogSince(mark).find("]:1 CSTA Tx: message of "), std::string::npos);
  EXPECT_EQ(Completions(), (std::vector<std::pair<DRV_REQUESTID, LONG>>{{9, kFailed}}));
}

TEST_F(LineOperations, CallInfoAndStatusAreFixedAnswers) {
  alignas(8) unsigned char info[sizeof(LINECALLINFO) + 64];
  std::memset(info, 0xAB, sizeof info);
  auto* ci = reinterpret_cast<LINECALLINFO*>(info);
  ci->dwTotalSize = sizeof info;
  EXPECT_EQ(TSPI_lineGetCallInfo(nullptr, ci), 0);
  EXPECT_EQ(ci->dwTotalSize, sizeof info);
  EXPECT_EQ(ci->dwNeededSize, 324u);
  EXPECT_EQ(ci->dwUsedSize, 324u);
  EXPECT_EQ(ci->dwBearerMode, DWORD{LINEBEARERMODE_SPEECH});
  EXPECT_EQ(ci->dwOrigin, DWORD{LINECALLORIGIN_INBOUND});
  EXPECT_EQ(ci->dwReason, DWORD{LINECALLREASON_DIRECT});
  EXPECT_EQ(ci->dwTrunk, 0xFFFFFFFFu);
  EXPECT_EQ(ci->dwCallerIDFlags, 0u);
  EXPECT_EQ(ci->dwConnectedIDNameOffset, 0u);
  EXPECT_EQ(ci->dwMediaMode, 0xABABABABu) << "members outside the table are left alone";
  EXPECT_EQ(ci->dwCallID, 0xABABABABu);

  LINECALLSTATUS status;
  std::memset(&status, 0xAB, sizeof status);
  EXPECT_EQ(TSPI_lineGetCallStatus(nullptr, &status), 0);
  EXPECT_EQ(status.dwNeededSize, 56u);
  EXPECT_EQ(status.dwUsedSize, 0u);
  EXPECT_EQ(status.dwCallStateMode, 0u);
  EXPECT_EQ(status.dwCallPrivilege, 0xD7u);
  EXPECT_EQ(status.dwCallFeatures, DWORD{LINECALLFEATURE_ACCEPT});
  EXPECT_EQ(status.dwCallState, 0xABABABABu);

  DWORD address = 0x55;
  EXPECT_EQ(TSPI_lineGetCallAddressID(nullptr, &address), 0);
  EXPECT_EQ(address, 0x55u);
}

}  // namespace
}  // namespace qv
