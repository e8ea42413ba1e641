// The call-control line from end to end: the provider's exports against
// pbxsim's call model on loopback, with TAPI's event procedure recorded.
#include "tests/cti/cti_e2e_fixture.h"

namespace qv {
namespace {

TEST_F(CtiE2E, OutgoingCallFromDialingToIdleWithItsIdentities) {
  Start();
  HDRVCALL call = nullptr;
  std::u16string number = u"0301234";
  EXPECT_EQ(Complete(1, TSPI_lineMakeCall(1, line_, kOurCall, &call,
                                          reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(recorder().States(kOurCall),
            (std::vector<DWORD>{LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK,
                                LINECALLSTATE_CONNECTED}));
  auto info = CallInfo(call);
  EXPECT_EQ(At(info, kOrigin), static_cast<DWORD>(LINECALLORIGIN_OUTBOUND));
  EXPECT_EQ(At(info, kCallId), 5001u);
  EXPECT_EQ(At(info, kCalledFlags), static_cast<DWORD>(LINECALLPARTYID_ADDRESS));
  EXPECT_EQ(Text(info, kCalledId), u"0301234");
  EXPECT_EQ(At(info, kConnectedFlags), static_cast<DWORD>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
  EXPECT_EQ(Text(info, kConnectedName), u"Far End");
  EXPECT_EQ(StatusFeatures(call),
            static_cast<DWORD>(LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_DROP |
                               LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_SETUPCONF |
                               LINECALLFEATURE_GENERATEDIGITS));
  EXPECT_EQ(Complete(2, TSPI_lineDrop(2, call, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_IDLE));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  EXPECT_EQ(sim_->Count("ClearConnection"), 1u) << "closing an idle call sends nothing";
  EXPECT_EQ(recorder().CompletionCount(1), 1);
  EXPECT_EQ(recorder().CompletionCount(2), 1);
}

TEST_F(CtiE2E, IncomingCallOfferedAnsweredHeldRetrievedTransferred) {
  Start();
  sim_->calls()->IncomingCall("+4930555", "Alice Example");
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING));
  auto info = CallInfo(call);
  EXPECT_EQ(At(info, kOrigin), static_cast<DWORD>(LINECALLORIGIN_EXTERNAL));
  EXPECT_EQ(At(info, kCallerFlags), static_cast<DWORD>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
  EXPECT_EQ(Text(info, kCallerId), u"+4930555");
  EXPECT_EQ(Text(info, kCallerName), u"Alice Example");
  EXPECT_EQ(Text(info, kCalledId), u"201");
  EXPECT_EQ(StatusFeatures(call),
            static_cast<DWORD>(LINECALLFEATURE_ANSWER | LINECALLFEATURE_REDIRECT | LINECALLFEATURE_DROP));
  // Wrong states are refused at once and nothing is sent.
  EXPECT_EQ(TSPI_lineHold(10, call), kInvalCallState);
  EXPECT_EQ(TSPI_lineUnhold(11, call), kInvalCallState);
  EXPECT_EQ(Complete(12, TSPI_lineAnswer(12, call, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(Text(CallInfo(call), kConnectedId), u"+4930555");
  EXPECT_EQ(TSPI_lineAnswer(13, call, nullptr, 0), kInvalCallState);
  EXPECT_EQ(Complete(14, TSPI_lineHold(14, call)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_ONHOLD));
  EXPECT_EQ(Complete(15, TSPI_lineUnhold(15, call)), 0);
  ASSERT_TRUE(recorder().WaitStates(ht, 4)) << "connected again";
  std::u16string to = u"305";
  EXPECT_EQ(Complete(16, TSPI_lineBlindTransfer(16, call, reinterpret_cast<LPCWSTR>(to.c_str()), 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_IDLE));
  EXPECT_EQ(recorder().States(ht),
            (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD,
                                LINECALLSTATE_CONNECTED, LINECALLSTATE_IDLE}));
  EXPECT_EQ(sim_->Count("HoldCall"), 1u);
  EXPECT_EQ(sim_->Count("AnswerCall"), 1u);
  for (DRV_REQUESTID id : {10, 11, 13}) EXPECT_EQ(recorder().CompletionCount(id), 0) << id;
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

TEST_F(CtiE2E, DeskPhoneCallIsAnnouncedAndTheFarEndHangsUp) {
  Start();
  sim_->calls()->DeskPhoneCall("555");
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_RINGBACK));
  sim_->calls()->FarEndAnswers();
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED));
  sim_->calls()->FarEndHangsUp();
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_IDLE));
  EXPECT_EQ(recorder().States(ht),
            (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING,
                                LINECALLSTATE_RINGBACK, LINECALLSTATE_CONNECTED, LINECALLSTATE_DISCONNECTED,
                                LINECALLSTATE_IDLE}));
  EXPECT_EQ(recorder().ModeOf(ht, LINECALLSTATE_DISCONNECTED), static_cast<DWORD>(LINEDISCONNECTMODE_NORMAL));
  EXPECT_EQ(Text(CallInfo(call), kCalledId), u"555");
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  EXPECT_EQ(sim_->Count("ClearConnection"), 0u);
}

TEST_F(CtiE2E, DialOnTheDeskPhonesDialTone) {
  Start();
  sim_->calls()->DeskPhoneOffHook();
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_DIALTONE));
  EXPECT_EQ(StatusFeatures(call), static_cast<DWORD>(LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP));
  std::u16string number = u"555";
  EXPECT_EQ(Complete(50, TSPI_lineDial(50, call, reinterpret_cast<LPCWSTR>(number.c_str()), 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_RINGBACK));
  EXPECT_EQ(recorder().States(ht), (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                                       LINECALLSTATE_PROCEEDING, LINECALLSTATE_RINGBACK}));
  EXPECT_EQ(TSPI_lineDial(51, call, reinterpret_cast<LPCWSTR>(number.c_str()), 0), kInvalCallState);
  EXPECT_EQ(sim_->Count("DialDigits"), 1u);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

TEST_F(CtiE2E, BusyAndFailedCalls) {
  pbxsim::CallOptions busy;
  busy.failCause = "busy";
  Start(true, busy);
  HDRVCALL call = nullptr;
  std::u16string number = u"0301234";
  EXPECT_EQ(Complete(1, TSPI_lineMakeCall(1, line_, kOurCall, &call,
                                          reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_DISCONNECTED));
  EXPECT_EQ(recorder().ModeOf(kOurCall, LINECALLSTATE_DISCONNECTED),
            static_cast<DWORD>(LINEDISCONNECTMODE_BUSY));
  EXPECT_EQ(Complete(2, TSPI_lineDrop(2, call, nullptr, 0)), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  sim_->calls()->FailedCall("999", "invalidNumberFormat");
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, desk] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_DISCONNECTED));
  EXPECT_EQ(recorder().ModeOf(ht, LINECALLSTATE_DISCONNECTED),
            static_cast<DWORD>(LINEDISCONNECTMODE_BADADDRESS));
  EXPECT_EQ(TSPI_lineCloseCall(desk), 0);
}

TEST_F(CtiE2E, ControlRequestsCompleteOnceOnRefusalAndOnLinkLoss) {
  const std::size_t logFrom = LogText().size();
  pbxsim::CallOptions refuse;
  refuse.refuseControl = true;
  Start(true, refuse);
  sim_->calls()->IncomingCall("306", "");
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING));
  EXPECT_EQ(Complete(20, TSPI_lineAnswer(20, call, nullptr, 0)), kOperationFailed);
  pbxsim::CallOptions silent;
  silent.silentControl = true;
  sim_->calls()->SetOptions(silent);
  std::u16string to = u"400";
  EXPECT_EQ(TSPI_lineRedirect(21, call, reinterpret_cast<LPCWSTR>(to.c_str()), 0), 21);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "DeflectCall") >= 1; }, 5s));
  sim_->DropConnections();
  LONG result = 1;
  ASSERT_TRUE(recorder().WaitCompletion(21, result, 1000ms)) << "failed at the drop, not at the deadline";
  EXPECT_EQ(result, kOperationFailed);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "MonitorStart") >= 2; }, 5s))
      << "monitoring resumes after the reconnection";
  // The PBX still offers the call: it stays as it was.
  ASSERT_TRUE(WaitLog(logFrom, "CTI: snapshot after the reconnection: 1 calls at the PBX, 0 changed"));
  EXPECT_EQ(recorder().States(ht), std::vector<DWORD>{LINECALLSTATE_OFFERING});
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  EXPECT_EQ(recorder().CompletionCount(20), 1);
  EXPECT_EQ(recorder().CompletionCount(21), 1);
}

TEST_F(CtiE2E, UnknownAndMalformedEventsAreIgnoredAndClosedCallsStayQuiet) {
  Start();
  sim_->calls()->SendUnknownEvent();
  sim_->calls()->SendMalformedEvent();
  sim_->calls()->IncomingCall("307", "Bob");
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "ClearConnection") >= 1; }, 5s))
      << "a call still up is dropped with its handle";
  const std::size_t before = recorder().CountFor(ht);
  sim_->calls()->IncomingCall("308", "");
  ASSERT_TRUE(recorder().WaitNewCall(2));
  EXPECT_EQ(recorder().CountFor(ht), before) << "nothing for a call TAPI has closed";
  std::string log = LogText();
  EXPECT_NE(log.find("CSTA Rx: DeliveredEvent ignored: no callID in <connection>"), std::string::npos);
  EXPECT_NE(log.find("CTI: CallInformationEvent not acted on"), std::string::npos);
}

// Closing a call or the line completes what TAPI still waits for before it
// returns; the PBX's later word on those requests is not passed on.
TEST_F(CtiE2E, ClosingCompletesPendingRequestsOnceBeforeReturning) {
  pbxsim::CallOptions silent;
  silent.silentControl = true;
  Start(true, silent);
  sim_->calls()->IncomingCall("310", "");
  sim_->calls()->IncomingCall("311", "");
  ASSERT_TRUE(recorder().WaitNewCall(2));
  auto [ht1, first] = recorder().NewCall(0);
  auto [ht2, second] = recorder().NewCall(1);
  ASSERT_TRUE(recorder().WaitState(ht2, LINECALLSTATE_OFFERING));
  EXPECT_EQ(TSPI_lineAnswer(30, first, nullptr, 0), 30);
  EXPECT_EQ(TSPI_lineAnswer(31, second, nullptr, 0), 31);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "AnswerCall") >= 2; }, 5s));
  EXPECT_EQ(TSPI_lineCloseCall(first), 0);
  EXPECT_EQ(recorder().CompletionCount(30), 1) << "completed before lineCloseCall returned";
  EXPECT_EQ(recorder().CompletionCount(31), 0) << "another call's request stays";
  EXPECT_EQ(TSPI_lineClose(line_), 0);
  EXPECT_EQ(recorder().CompletionCount(31), 1) << "completed before lineClose returned";
  LONG result = 0;
  ASSERT_TRUE(recorder().WaitCompletion(30, result, 0ms));
  EXPECT_EQ(result, kOperationFailed);
  // The link drops: the session fails both requests again, which TAPI must not hear.
  sim_->DropConnections();
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "MonitorStart") >= 2; }, 5s));
  EXPECT_EQ(
      TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(std::uintptr_t{0x1}), &line_, QV_TSPI_VERSION, onEvent),
      0);
  HDRVCALL call = nullptr;
  std::u16string number = u"0301234";
  EXPECT_EQ(Complete(32, TSPI_lineMakeCall(32, line_, kOurCall, &call,
                                           reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr)),
            0);
  EXPECT_EQ(recorder().CompletionCount(30), 1);
  EXPECT_EQ(recorder().CompletionCount(31), 1);
  EXPECT_EQ(TSPI_lineCloseCall(second), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

TEST_F(CtiE2E, ClosingACallWhoseMakeCallIsUnansweredCompletesItInBothModes) {
  for (bool callEvents : {false, true}) {
    SCOPED_TRACE(callEvents ? "callevents 1" : "callevents 0");
    Start(callEvents);
    pbxsim::Behaviour b;
    b.silentMakeCall = true;
    sim_->SetBehaviour(b);
    HDRVCALL call = nullptr;
    std::u16string number = u"0301234";
    EXPECT_EQ(
        TSPI_lineMakeCall(40, line_, kOurCall, &call, reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr),
        40);
    ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "MakeCall") >= 1; }, 5s));
    EXPECT_EQ(TSPI_lineCloseCall(call), 0);
    EXPECT_EQ(recorder().CompletionCount(40), 1);
    EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
    initialised_ = false;
    EXPECT_EQ(recorder().CompletionCount(40), 1) << "the shutdown's failure is not passed on";
    sim_->Stop();
    sim_.reset();
    recorder().Clear();
  }
}

// What the line acts on must be a well-formed document; the shutdown says
// why the calls it ends end.
TEST_F(CtiE2E, MalformedEventsCreateNoCallsAndShutdownEndsCallsAsSuch) {
  Start();
  const std::string head = "<?xml version=\"1.0\"?><DeliveredEvent xmlns=\"urn:x\"><connection><callID>";
  const std::string party =
      "<alertingDevice><deviceIdentifier>201</deviceIdentifier></alertingDevice>"
      "<callingDevice><deviceIdentifier>";
  const std::string malformed[] = {
      head + "BAD-1</callID><deviceID>201</deviceID>",
      head + "BAD-2</deviceID></connection>" + party +
          "555</deviceIdentifier></callingDevice></DeliveredEvent>",
      head + "BAD-3</callID><deviceID>201</deviceID></connection>" + party +
          "&bogus;</deviceIdentifier></callingDevice></DeliveredEvent>",
      head + "BAD-4</callID><deviceID>201</deviceID></connection>" + party +
          "556</deviceIdentifier></callingDevice></DeliveredEvent><DeliveredEvent/>",
  };
  for (const std::string& xml : malformed) sim_->SendRaw(*BuildCstaFrame(9999, xml));
  sim_->calls()->IncomingCall("312", "Carol");
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING));
  EXPECT_EQ(recorder().NewCallCount(), 1u) << "only the well-formed call";
  const std::string log = LogText();
  for (const char* fault :
       {"document ends inside element <connection>", "end tag </deviceID> does not match <callID>",
        "undeclared entity &bogus;", "a second root element"}) {
    EXPECT_NE(log.find(std::string("CSTA Rx: DeliveredEvent ignored: not well-formed XML: ") + fault),
              std::string::npos)
        << fault;
  }
  EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
  initialised_ = false;
  EXPECT_NE(LogText().find("CTI: provider shutting down, call 5"), std::string::npos);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

// A PBX that names no call: the call TAPI placed is under way once the PBX
// took it, and is cleared by its device by a drop and by a close.
TEST_F(CtiE2E, APlacedCallWithoutCallIdCanBeDroppedAndClosed) {
  pbxsim::CallOptions anonymous;
  anonymous.noCallIds = true;
  Start(true, anonymous);
  std::u16string number = u"0301234";
  const HTAPICALL second = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCA12});
  HDRVCALL dropped = nullptr, closed = nullptr;
  EXPECT_EQ(Complete(50, TSPI_lineMakeCall(50, line_, kOurCall, &dropped,
                                           reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_PROCEEDING));
  EXPECT_EQ(Complete(51, TSPI_lineDrop(51, dropped, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_IDLE)) << "the PBX's answer ends it";
  EXPECT_EQ(recorder().States(kOurCall),
            (std::vector<DWORD>{LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING, LINECALLSTATE_IDLE}));
  EXPECT_EQ(TSPI_lineCloseCall(dropped), 0);
  EXPECT_EQ(Complete(52, TSPI_lineMakeCall(52, line_, second, &closed,
                                           reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(second, LINECALLSTATE_PROCEEDING));
  EXPECT_EQ(TSPI_lineCloseCall(closed), 0);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "ClearConnection") >= 2; }, 5s));
  for (const auto& f : sim_->frames()) {
    if (f.root != "ClearConnection") continue;
    EXPECT_EQ(f.field("callID"), "");
    EXPECT_EQ(f.field("deviceID"), "201") << "the device the MakeCall answer named";
  }
}

// A PBX that names devices in its own dialect: our device is recognised and
// the caller's number and name are told apart.
TEST_F(CtiE2E, DialectDeviceIdentifiersOfferTheCallWithNumberAndName) {
  Start();
  sim_->SendRaw(*BuildCstaFrame(
      9999,
      "<?xml version=\"1.0\"?><DeliveredEvent xmlns=\"urn:x\"><connection><callID>D-1</callID>"
      "<deviceID>N&lt;201&gt;;noa=nk</deviceID></connection><alertingDevice><deviceIdentifier>"
      "N&lt;201&gt;;noa=nk</deviceIdentifier></alertingDevice><callingDevice><deviceIdentifier>"
      "N&lt;+4930123456&gt;Erika Mustermann;displayNumber=+4930123456</deviceIdentifier></callingDevice>"
      "<calledDevice><deviceIdentifier>N&lt;201&gt;;noa=nk</deviceIdentifier></calledDevice>"
      "<localConnectionInfo>alerting</localConnectionInfo><cause>newCall</cause></DeliveredEvent>"));
  ASSERT_TRUE(recorder().WaitNewCall(1));
  auto [ht, call] = recorder().NewCall(0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING));
  auto info = CallInfo(call);
  EXPECT_EQ(At(info, kCallerFlags), static_cast<DWORD>(LINECALLPARTYID_ADDRESS | LINECALLPARTYID_NAME));
  EXPECT_EQ(Text(info, kCallerId), u"+4930123456");
  EXPECT_EQ(Text(info, kCallerName), u"Erika Mustermann");
  EXPECT_EQ(Text(info, kCalledId), u"201");
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "ClearConnection") >= 1; }, 5s));
  EXPECT_EQ(sim_->frames().back().field("deviceID"), "N<201>;noa=nk") << "in the PBX's own spelling";
}

TEST_F(CtiE2E, WithoutCallEventsTheLineStaysAsItWas) {
  const std::size_t logFrom = LogText().size();  // the log file is shared by the tests
  Start(false);
  sim_->calls()->IncomingCall("309", "");
  sim_->calls()->SendMalformedEvent();
  HDRVCALL call = nullptr;
  std::u16string number = u"0301234";
  EXPECT_EQ(Complete(1, TSPI_lineMakeCall(1, line_, kOurCall, &call,
                                          reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr)),
            0);
  ASSERT_TRUE(sim_->WaitForSent(11, 5s));
  EXPECT_EQ(recorder().EventCount(), 0u) << "no line events at all";
  // The MakeCall's answer came after the events on the same stream.
  const std::string log = LogText().substr(logFrom);
  EXPECT_EQ(log.find("ignored"), std::string::npos) << "events are only traced";
  EXPECT_EQ(log.find("CTI:"), std::string::npos);
  EXPECT_NE(log.find("CSTA Rx: <DeliveredEvent>"), std::string::npos);
  EXPECT_EQ(TSPI_lineAnswer(5, call, nullptr, 0), static_cast<LONG>(LINEERR_INVALCALLHANDLE));
  EXPECT_EQ(TSPI_lineHold(6, call), 0);
  EXPECT_EQ(TSPI_lineDrop(7, call, nullptr, 0), 0);
  EXPECT_EQ(recorder().CompletionCount(6), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "ClearConnection") >= 1; }, 5s));
}

// Across a reconnection the calls the PBX still has keep their handles and
// states; one that ended meanwhile goes idle, one that started is announced.
TEST_F(CtiE2E, CallsSurviveAReconnectionAsThePbxReportsThem) {
  const std::size_t logFrom = LogText().size();
  Start();
  auto [heldHt, held] = Incoming("301", 0);
  EXPECT_EQ(Complete(20, TSPI_lineHold(20, held)), 0);
  ASSERT_TRUE(recorder().WaitState(heldHt, LINECALLSTATE_ONHOLD));
  auto [activeHt, active] = Incoming("302", 1);
  auto [goneHt, gone] = Incoming("303", 2, false);
  sim_->calls()->EndCallUnseen(sim_->calls()->lastCallId());
  sim_->calls()->AddCallUnseen("304", "alerting");
  const std::size_t heldStates = recorder().States(heldHt).size();
  const std::size_t activeStates = recorder().States(activeHt).size();
  sim_->DropConnections();
  ASSERT_TRUE(WaitLog(logFrom,
                      "CTI: snapshot after the reconnection: 3 calls at the PBX, 0 changed, 1 ended, 1 new"));
  ASSERT_TRUE(recorder().WaitNewCall(4));
  auto [newHt, fresh] = recorder().NewCall(3);
  ASSERT_TRUE(recorder().WaitState(newHt, LINECALLSTATE_OFFERING));
  ASSERT_TRUE(recorder().WaitState(goneHt, LINECALLSTATE_IDLE));
  EXPECT_EQ(recorder().States(goneHt),
            (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}));
  EXPECT_EQ(recorder().ModeOf(goneHt, LINECALLSTATE_DISCONNECTED),
            static_cast<DWORD>(LINEDISCONNECTMODE_UNKNOWN));
  EXPECT_EQ(recorder().States(heldHt).size(), heldStates) << "no flap";
  EXPECT_EQ(recorder().States(activeHt).size(), activeStates) << "no flap";
  EXPECT_EQ(sim_->Count("SnapshotDevice"), 1u);
  // The kept handles still act on their calls.
  EXPECT_EQ(Complete(21, TSPI_lineUnhold(21, held)), 0);
  ASSERT_TRUE(recorder().WaitStates(heldHt, heldStates + 1));
  EXPECT_EQ(recorder().States(heldHt).back(), static_cast<DWORD>(LINECALLSTATE_CONNECTED));
  EXPECT_NE(LogText().find("CTI: connection lost, call 5001 kept in state ONHOLD until the PBX's snapshot",
                           logFrom),
            std::string::npos);
  for (HDRVCALL c : {held, active, gone, fresh}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

TEST_F(CtiE2E, WithoutASnapshotTheCallsEndAsBefore) {
  const std::size_t logFrom = LogText().size();
  pbxsim::CallOptions noSnapshot;
  noSnapshot.refuseSnapshot = true;
  Start(true, noSnapshot);
  auto [ht, call] = Incoming("301", 0);
  sim_->DropConnections();
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_IDLE));
  EXPECT_EQ(recorder().ModeOf(ht, LINECALLSTATE_DISCONNECTED),
            static_cast<DWORD>(LINEDISCONNECTMODE_UNKNOWN));
  EXPECT_TRUE(WaitLog(logFrom, "CTI: no snapshot of the device from the PBX, its calls end"));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

TEST_F(CtiE2E, CallsKeptAcrossALossEndWithTheProviderIfNoSnapshotCame) {
  const std::size_t logFrom = LogText().size();
  Start();
  Incoming("301", 0);
  sim_->Stop();  // no PBX to come back to
  ASSERT_TRUE(WaitLog(logFrom, "CTI: connection lost, call 5001 kept in state CONNECTED"));
  EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
  initialised_ = false;
  EXPECT_TRUE(WaitLog(logFrom, "CTI: provider shutting down, call 5001 ended"));
  sim_.reset();
}

// Do-not-disturb and unconditional forwarding to 305: a LINEFORWARDLIST of
// two 24-byte entries.
std::vector<unsigned char> DndAndUnconditionalTo305() {
  std::vector<unsigned char> list(8 + 2 * 24 + 8, 0);
  auto put = [&](std::size_t at, DWORD v) { std::memcpy(list.data() + at, &v, 4); };
  put(0, static_cast<DWORD>(list.size()));
  put(4, 2);
  put(8, LINEFORWARDMODE_UNCOND);
  put(8 + 16, 8);
  put(8 + 20, 56);
  put(32, LINEFORWARDMODE_UNCOND);
  for (int i = 0; i < 3; ++i) list[56 + 2 * i] = static_cast<unsigned char>("305"[i]);
  return list;
}

// Forwarding and do-not-disturb: read at the monitor's start, set from the
// application, changed on the phone; LINEADDRESSSTATUS lists them.
TEST_F(CtiE2E, ForwardingAndDoNotDisturbFromTheApplicationAndThePhone) {
  const std::size_t logFrom = LogText().size();
  Start();
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "GetDoNotDisturb") >= 1; }, 5s));
  EXPECT_EQ(sim_->Count("GetForwarding"), 1u);
  EXPECT_EQ(TSPI_lineSetStatusMessages(line_, 0, LINEADDRESSSTATE_FORWARD), 0);
  auto forwardList = [this] { return ForwardList(line_); };
  EXPECT_TRUE(forwardList().empty());
  std::vector<unsigned char> list = DndAndUnconditionalTo305();
  HDRVCALL consult = reinterpret_cast<HDRVCALL>(std::uintptr_t{1});
  EXPECT_EQ(Complete(30, TSPI_lineForward(30, line_, 0, 0, reinterpret_cast<LPLINEFORWARDLIST>(list.data()),
                                          0, nullptr, &consult, nullptr)),
            0);
  EXPECT_EQ(consult, nullptr) << "no consultation call";
  EXPECT_EQ(sim_->Count("SetForwarding"), 1u);
  EXPECT_EQ(sim_->Count("SetDoNotDisturb"), 1u);
  EXPECT_EQ(forwardList(), (std::vector<std::pair<DWORD, std::u16string>>{{LINEFORWARDMODE_UNCOND, u""},
                                                                          {LINEFORWARDMODE_UNCOND, u"305"}}));
  EXPECT_TRUE(recorder().WaitLineMessage(LINE_ADDRESSSTATE, LINEADDRESSSTATE_FORWARD));
  // The same list again changes nothing and sends nothing.
  EXPECT_EQ(Complete(31, TSPI_lineForward(31, line_, 0, 0, reinterpret_cast<LPLINEFORWARDLIST>(list.data()),
                                          0, nullptr, nullptr, nullptr)),
            0);
  EXPECT_EQ(sim_->Count("SetForwarding"), 1u);
  // On the phone: busy forwarding on, do-not-disturb off.
  sim_->calls()->PhoneSetsForwarding("forwardBusy", true, "306");
  sim_->calls()->PhoneSetsDoNotDisturb(false);
  ASSERT_TRUE(WaitLog(logFrom, "CTI: forwarding now immediate to 305 busy to 306"));
  EXPECT_EQ(forwardList(), (std::vector<std::pair<DWORD, std::u16string>>{{LINEFORWARDMODE_UNCOND, u"305"},
                                                                          {LINEFORWARDMODE_BUSY, u"306"}}));
  // A null list cancels both kinds.
  EXPECT_EQ(Complete(32, TSPI_lineForward(32, line_, 0, 0, nullptr, 0, nullptr, nullptr, nullptr)), 0);
  EXPECT_EQ(sim_->Count("SetForwarding"), 3u);
  EXPECT_TRUE(forwardList().empty());
  // A refused part fails the request once.
  pbxsim::CallOptions refuse;
  refuse.refuseControl = true;
  sim_->calls()->SetOptions(refuse);
  EXPECT_EQ(Complete(33, TSPI_lineForward(33, line_, 0, 0, reinterpret_cast<LPLINEFORWARDLIST>(list.data()),
                                          0, nullptr, nullptr, nullptr)),
            kOperationFailed);
  // A malformed list is refused at once, without a frame.
  list[4] = 50;  // entries
  EXPECT_EQ(TSPI_lineForward(34, line_, 0, 0, reinterpret_cast<LPLINEFORWARDLIST>(list.data()), 0, nullptr,
                             nullptr, nullptr),
            static_cast<LONG>(LINEERR_INVALPARAM));
  for (DRV_REQUESTID id : {30, 31, 32, 33}) EXPECT_EQ(recorder().CompletionCount(id), 1) << id;
  EXPECT_EQ(recorder().CompletionCount(34), 0);
}

// A TSPI_lineForward still under way (its answers held back) completes once
// when the line closes, the link goes or the provider shuts down; answers
// that come after a close complete nothing.
TEST_F(CtiE2E, AForwardInProgressCompletesOnceAtCloseLinkLossAndShutdown) {
  const std::size_t logFrom = LogText().size();
  Start();
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "GetDoNotDisturb") >= 1; }, 5s));
  std::vector<unsigned char> list = DndAndUnconditionalTo305();  // two parts
  auto forward = [&](DRV_REQUESTID id, bool cancel) {
    return TSPI_lineForward(id, line_, 0, 0,
                            cancel ? nullptr : reinterpret_cast<LPLINEFORWARDLIST>(list.data()), 0, nullptr,
                            nullptr, nullptr);
  };
  EXPECT_EQ(TSPI_lineSetStatusMessages(line_, 0, LINEADDRESSSTATE_FORWARD), 0);
  pbxsim::CallOptions hold;
  hold.holdAnswers = true;
  sim_->calls()->SetOptions(hold);
  EXPECT_EQ(forward(30, false), 30);
  ASSERT_TRUE(WaitHeldRequests(2));
  EXPECT_EQ(TSPI_lineClose(line_), 0);
  EXPECT_EQ(recorder().CompletionCount(30), 1) << "completed before the close returned";
  LONG result = 0;
  EXPECT_TRUE(recorder().WaitCompletion(30, result));
  EXPECT_EQ(result, kOperationFailed);
  EXPECT_TRUE(WaitLog(logFrom, "TSPI_lineClose: TSPI_lineForward 30 still under way"));
  EXPECT_EQ(sim_->calls()->ReleaseAnswers(), 4u) << "two answers, two events";
  ASSERT_TRUE(WaitLog(logFrom, "CTI: forwarding now dnd immediate to 305"));
  EXPECT_EQ(recorder().CompletionCount(30), 1);
  EXPECT_FALSE(recorder().WaitLineMessage(LINE_ADDRESSSTATE, LINEADDRESSSTATE_FORWARD, 0ms))
      << "nothing reaches a closed line";

  // Open again: the link goes while a cancelling forward waits.
  ASSERT_EQ(
      TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(std::uintptr_t{0x1}), &line_, QV_TSPI_VERSION, onEvent),
      0);
  EXPECT_EQ(forward(31, true), 31);
  ASSERT_TRUE(WaitHeldRequests(4));
  sim_->calls()->SetOptions({});
  sim_->DropConnections();
  ASSERT_TRUE(recorder().WaitCompletion(31, result, 1000ms));
  EXPECT_EQ(result, kOperationFailed);
  // Read again after the login: the PBX took the cancel before the link went.
  ASSERT_TRUE(WaitLog(logFrom, "CTI: forwarding now off"));

  // And shutdown while one waits.
  sim_->calls()->SetOptions(hold);
  EXPECT_EQ(forward(32, false), 32);
  ASSERT_TRUE(WaitHeldRequests(6));
  EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
  initialised_ = false;
  for (DRV_REQUESTID id : {30, 31, 32}) EXPECT_EQ(recorder().CompletionCount(id), 1) << id;
  EXPECT_TRUE(recorder().WaitCompletion(32, result, 0ms));
  EXPECT_EQ(result, kOperationFailed);
}

// A colleague's ringing call picked up by device and by group: it becomes
// the call TAPI created for the request, connected to the caller.
TEST_F(CtiE2E, PickupDirectedAndByGroup) {
  Start();
  sim_->calls()->RingColleague("305", "", "+4930777");
  sim_->calls()->RingColleague("306", "7", "+4930888");
  const auto kPicked = reinterpret_cast<HTAPICALL>(std::uintptr_t{0x71C});
  const auto kGroup = reinterpret_cast<HTAPICALL>(std::uintptr_t{0x72C});
  HDRVCALL picked = nullptr, byGroup = nullptr, none = nullptr;
  std::u16string from = u"305", group = u"7";
  EXPECT_EQ(Complete(40, TSPI_linePickup(40, line_, 0, kPicked, &picked,
                                         reinterpret_cast<LPCWSTR>(from.c_str()), nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kPicked, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(recorder().States(kPicked), std::vector<DWORD>{LINECALLSTATE_CONNECTED});
  auto info = CallInfo(picked);
  EXPECT_EQ(At(info, kOrigin), static_cast<DWORD>(LINECALLORIGIN_INBOUND));
  EXPECT_EQ(At(info, kOrigin + 4), static_cast<DWORD>(LINECALLREASON_PICKUP));
  EXPECT_EQ(Text(info, kConnectedId), u"+4930777");
  EXPECT_EQ(Complete(41, TSPI_linePickup(41, line_, 0, kGroup, &byGroup, nullptr,
                                         reinterpret_cast<LPCWSTR>(group.c_str()))),
            0);
  ASSERT_TRUE(recorder().WaitState(kGroup, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(sim_->Count("GroupPickupCall"), 1u);
  // Nothing left to pick up: refused once, and the handle is gone.
  EXPECT_EQ(Complete(42, TSPI_linePickup(42, line_, 0, kOurCall, &none,
                                         reinterpret_cast<LPCWSTR>(from.c_str()), nullptr)),
            kOperationFailed);
  EXPECT_EQ(TSPI_linePickup(43, line_, 0, kOurCall, &none, nullptr, nullptr),
            static_cast<LONG>(LINEERR_INVALADDRESS));
  EXPECT_EQ(recorder().CountFor(kOurCall), 0u);
  EXPECT_EQ(TSPI_lineCloseCall(none), 0);
  for (DRV_REQUESTID id : {40, 41, 42}) EXPECT_EQ(recorder().CompletionCount(id), 1) << id;
  EXPECT_EQ(TSPI_lineCloseCall(picked), 0);
  EXPECT_EQ(TSPI_lineCloseCall(byGroup), 0);
}

// Digits: DONE after the answer; CANCEL for the one a new request or null
// digits replace, for a refusal, and when the call leaves CONNECTED.
TEST_F(CtiE2E, GeneratedDigitsEndOnceEachWithDoneOrCancel) {
  Start();
  auto [ht, call] = Incoming("301", 0, false);
  std::u16string digits = u"12#";
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 1, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0),
      kInvalCallState)
      << "only once connected";
  EXPECT_EQ(Complete(100, TSPI_lineAnswer(100, call, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 2, LINEDIGITMODE_PULSE, reinterpret_cast<LPCWSTR>(digits.c_str()), 0),
      static_cast<LONG>(LINEERR_INVALDIGITMODE));
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 3, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0), 0);
  ASSERT_TRUE(recorder().WaitCallMessages(ht, LINE_GENERATE, 1));
  pbxsim::CallOptions silent;
  silent.silentControl = true;
  sim_->calls()->SetOptions(silent);
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 4, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0), 0);
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 5, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0), 0);
  EXPECT_EQ(TSPI_lineGenerateDigits(call, 6, LINEDIGITMODE_DTMF, nullptr, 0), 0);
  ASSERT_TRUE(recorder().WaitCallMessages(ht, LINE_GENERATE, 3));
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 7, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0), 0);
  pbxsim::CallOptions refuse;
  refuse.refuseControl = true;
  sim_->calls()->SetOptions(refuse);
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 8, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0), 0);
  ASSERT_TRUE(recorder().WaitCallMessages(ht, LINE_GENERATE, 5));
  sim_->calls()->SetOptions({});
  EXPECT_EQ(sim_->Count("GenerateDigits"), 5u);
  // 9 waits unanswered while the far end hangs up.
  sim_->calls()->SetOptions(silent);
  EXPECT_EQ(
      TSPI_lineGenerateDigits(call, 9, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0), 0);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "GenerateDigits") >= 6; }, 5s));
  sim_->calls()->FarEndHangsUp();
  ASSERT_TRUE(recorder().WaitCallMessages(ht, LINE_GENERATE, 6));
  const DWORD kDone = LINEGENERATETERM_DONE, kCancel = LINEGENERATETERM_CANCEL;
  EXPECT_EQ(recorder().CallMessages(ht, LINE_GENERATE),
            (std::vector<std::pair<DWORD_PTR, DWORD_PTR>>{
                {kDone, 3}, {kCancel, 4}, {kCancel, 5}, {kCancel, 7}, {kCancel, 8}, {kCancel, 9}}));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

// Consultation: an incoming call answered, then put aside for a call to 305.
class ConsultationE2E : public CtiE2E {
 protected:
  static constexpr std::size_t kLineDevStatusSize = 88;
  static constexpr DWORD kHeldPending = LINECALLSTATE_ONHOLDPENDTRANSFER;
  const HTAPICALL kConsult = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xC0});
  const HTAPICALL kConf = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCF});

  void Answered() {
    sim_->calls()->IncomingCall("+4930555", "Alice Example");
    ASSERT_TRUE(recorder().WaitNewCall(1));
    std::tie(ht_, call_) = recorder().NewCall(0);
    ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_OFFERING));
    ASSERT_EQ(Complete(1, TSPI_lineAnswer(1, call_, nullptr, 0)), 0);
    ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_CONNECTED));
  }
  void SetUpConsultation(DRV_REQUESTID id) {
    ASSERT_EQ(Complete(id, TSPI_lineSetupTransfer(id, call_, kConsult, &consult_, nullptr)), 0);
    ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_DIALTONE));
    ASSERT_TRUE(recorder().WaitState(ht_, kHeldPending));
  }
  void Consult(DRV_REQUESTID id) {
    SetUpConsultation(id);
    EXPECT_EQ(StatusFeatures(consult_), static_cast<DWORD>(LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP));
    std::u16string to = u"305";
    ASSERT_EQ(Complete(id + 1, TSPI_lineDial(id + 1, consult_, reinterpret_cast<LPCWSTR>(to.c_str()), 0)), 0);
    ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_CONNECTED));
  }

  HTAPICALL ht_ = nullptr;
  HDRVCALL call_ = nullptr;
  HDRVCALL consult_ = nullptr;
  HDRVCALL conf_ = nullptr;
};

TEST_F(ConsultationE2E, ConsultSwapAndTransfer) {
  Start();
  EXPECT_EQ(TSPI_lineSetStatusMessages(line_, LINEDEVSTATE_NUMCALLS, LINEADDRESSSTATE_NUMCALLS), 0);
  Answered();
  EXPECT_EQ(StatusFeatures(call_),
            static_cast<DWORD>(LINECALLFEATURE_HOLD | LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_DROP |
                               LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_SETUPCONF |
                               LINECALLFEATURE_GENERATEDIGITS));
  Consult(10);
  const DWORD pair = LINECALLFEATURE_COMPLETETRANSF | LINECALLFEATURE_SWAPHOLD | LINECALLFEATURE_DROP;
  EXPECT_EQ(StatusFeatures(call_), pair | LINECALLFEATURE_UNHOLD);
  EXPECT_EQ(StatusFeatures(consult_), pair | LINECALLFEATURE_GENERATEDIGITS);
  // One call active, one held for the transfer; TAPI's own members untouched.
  std::vector<unsigned char> dev(kLineDevStatusSize, 0xCC);
  reinterpret_cast<LPLINEDEVSTATUS>(dev.data())->dwTotalSize = kLineDevStatusSize;
  EXPECT_EQ(TSPI_lineGetLineDevStatus(line_, reinterpret_cast<LPLINEDEVSTATUS>(dev.data())), 0);
  EXPECT_EQ(At(dev, 12), 0xCCCCCCCCu) << "dwNumOpens";
  EXPECT_EQ(At(dev, 20), 1u) << "dwNumActiveCalls";
  EXPECT_EQ(At(dev, 24), 0u) << "dwNumOnHoldCalls";
  EXPECT_EQ(At(dev, 28), 1u) << "dwNumOnHoldPendCalls";
  EXPECT_EQ(At(dev, 56), static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE));
  std::vector<unsigned char> addr(64, 0xCC);
  reinterpret_cast<LPLINEADDRESSSTATUS>(addr.data())->dwTotalSize = 64;
  EXPECT_EQ(TSPI_lineGetAddressStatus(line_, 0, reinterpret_cast<LPLINEADDRESSSTATUS>(addr.data())), 0);
  EXPECT_EQ(At(addr, 12), 1u) << "dwNumInUse";
  EXPECT_EQ(At(addr, 16), 1u) << "dwNumActiveCalls";
  EXPECT_EQ(At(addr, 24), 1u) << "dwNumOnHoldPendCalls";
  EXPECT_TRUE(recorder().WaitLineMessage(LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS));
  EXPECT_TRUE(recorder().WaitLineMessage(LINE_ADDRESSSTATE, LINEADDRESSSTATE_NUMCALLS));
  // Wrong handles and states are refused at once, without a frame.
  const std::size_t framesBefore = sim_->frames().size();
  EXPECT_EQ(TSPI_lineSetupTransfer(20, consult_, kConf, &conf_, nullptr), kInvalCallState);
  EXPECT_EQ(TSPI_lineSwapHold(21, call_, consult_), kInvalCallState) << "the active call comes first";
  EXPECT_EQ(TSPI_lineCompleteTransfer(22, call_, consult_, nullptr, nullptr, 0x10),
            static_cast<LONG>(LINEERR_INVALTRANSFERMODE));
  EXPECT_EQ(TSPI_lineDial(23, call_, reinterpret_cast<LPCWSTR>(u"1"), 0), kInvalCallState);
  EXPECT_EQ(sim_->frames().size(), framesBefore);
  EXPECT_EQ(Complete(12, TSPI_lineSwapHold(12, consult_, call_)), 0);
  ASSERT_TRUE(recorder().WaitState(kConsult, kHeldPending));
  ASSERT_TRUE(recorder().WaitStates(ht_, 4)) << "the first call is back";
  EXPECT_EQ(Complete(13, TSPI_lineCompleteTransfer(13, call_, consult_, nullptr, nullptr,
                                                   LINETRANSFERMODE_TRANSFER)),
            0);
  ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_IDLE));
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_IDLE));
  EXPECT_EQ(recorder().States(ht_),
            (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED, kHeldPending,
                                LINECALLSTATE_CONNECTED, LINECALLSTATE_IDLE}));
  EXPECT_EQ(recorder().States(kConsult),
            (std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING, LINECALLSTATE_PROCEEDING,
                                LINECALLSTATE_RINGBACK, LINECALLSTATE_CONNECTED, kHeldPending,
                                LINECALLSTATE_IDLE}));
  EXPECT_EQ(sim_->Count("TransferCall"), 1u);
  EXPECT_EQ(sim_->Count("AlternateCall"), 1u);
  for (DRV_REQUESTID id : {10, 11, 12, 13}) EXPECT_EQ(recorder().CompletionCount(id), 1) << id;
  for (DRV_REQUESTID id : {20, 21, 22, 23}) EXPECT_EQ(recorder().CompletionCount(id), 0) << id;
  EXPECT_EQ(TSPI_lineCloseCall(consult_), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call_), 0);
}

TEST_F(ConsultationE2E, ConsultThenConferenceUntilTheConferenceIsDropped) {
  Start();
  Answered();
  Consult(10);
  EXPECT_EQ(Complete(12, TSPI_lineCompleteTransfer(12, call_, consult_, kConf, &conf_,
                                                   LINETRANSFERMODE_CONFERENCE)),
            0);
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_CONNECTED));
  ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_CONFERENCED));
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_CONFERENCED));
  EXPECT_EQ(StatusFeatures(conf_),
            static_cast<DWORD>(LINECALLFEATURE_HOLD | LINECALLFEATURE_DROP | LINECALLFEATURE_GENERATEDIGITS |
                               LINECALLFEATURE_PREPAREADDCONF));
  EXPECT_EQ(At(CallInfo(conf_), kOrigin), static_cast<DWORD>(LINECALLORIGIN_CONFERENCE));
  EXPECT_EQ(Complete(13, TSPI_lineDrop(13, conf_, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kConf, LINECALLSTATE_IDLE));
  ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_IDLE)) << "the parties end with their conference";
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_IDLE));
  EXPECT_EQ(sim_->Count("ConferenceCall"), 1u);
  for (HDRVCALL c : {conf_, consult_, call_}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

TEST_F(ConsultationE2E, DroppingTheConsultationLeavesTheFirstCallOnHold) {
  Start();
  Answered();
  SetUpConsultation(10);
  // Not dialled yet: the PBX has nothing to clear.
  EXPECT_EQ(Complete(11, TSPI_lineDrop(11, consult_, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_IDLE));
  ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_ONHOLD));
  EXPECT_EQ(sim_->Count("ClearConnection"), 0u);
  EXPECT_EQ(TSPI_lineCloseCall(consult_), 0);
  EXPECT_EQ(Complete(12, TSPI_lineUnhold(12, call_)), 0);
  ASSERT_TRUE(recorder().WaitStates(ht_, 5));
  recorder().Clear();
  Consult(20);
  EXPECT_EQ(Complete(22, TSPI_lineDrop(22, consult_, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_IDLE));
  ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_ONHOLD));
  EXPECT_EQ(Complete(23, TSPI_lineUnhold(23, call_)), 0);
  ASSERT_TRUE(recorder().WaitState(ht_, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(recorder().States(ht_),
            (std::vector<DWORD>{kHeldPending, LINECALLSTATE_ONHOLD, LINECALLSTATE_CONNECTED}));
  EXPECT_EQ(sim_->Count("RetrieveCall"), 2u);
  EXPECT_EQ(TSPI_lineCloseCall(consult_), 0);
  // Unholding beside a consultation not dialled yet ends it here and retrieves.
  recorder().Clear();
  SetUpConsultation(30);
  EXPECT_EQ(Complete(32, TSPI_lineUnhold(32, call_)), 0);
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_IDLE));
  ASSERT_TRUE(recorder().WaitStates(ht_, 3));
  EXPECT_EQ(recorder().States(ht_).back(), static_cast<DWORD>(LINECALLSTATE_CONNECTED));
  EXPECT_EQ(sim_->Count("RetrieveCall"), 3u);
  EXPECT_EQ(sim_->Count("ReconnectCall"), 0u);
  EXPECT_EQ(TSPI_lineCloseCall(consult_), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call_), 0);
}

// Unholding the held call while the consultation is up returns to it: one
// ReconnectCall where the PBX offers it; after a refusal ClearConnection then
// RetrieveCall, also for the next return on that connection.
TEST_F(ConsultationE2E, UnholdingTheHeldCallDropsTheConsultationOnBothPaths) {
  struct Row {
    bool refused;
    std::size_t reconnects, clears, retrieves;  // after two returns
  };
  for (const Row& row : {Row{false, 2, 0, 0}, Row{true, 1, 2, 2}}) {
    SCOPED_TRACE(row.refused ? "refused" : "offered");
    const std::size_t logFrom = LogText().size();
    pbxsim::CallOptions calls;
    calls.refuseReconnect = row.refused;
    Start(true, calls);
    Answered();
    recorder().Clear();
    for (DRV_REQUESTID id : {10, 20}) {
      Consult(id);
      EXPECT_EQ(Complete(id + 2, TSPI_lineUnhold(id + 2, call_)), 0);
      ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_IDLE));
      ASSERT_TRUE(recorder().WaitStates(ht_, 3));
      EXPECT_EQ(recorder().States(ht_),
                (std::vector<DWORD>{kHeldPending, LINECALLSTATE_ONHOLD, LINECALLSTATE_CONNECTED}));
      EXPECT_EQ(recorder().States(kConsult).rbegin()[1], static_cast<DWORD>(LINECALLSTATE_CONNECTED));
      EXPECT_EQ(StatusFeatures(call_) & LINECALLFEATURE_SETUPTRANSFER,
                static_cast<DWORD>(LINECALLFEATURE_SETUPTRANSFER));
      EXPECT_EQ(TSPI_lineCloseCall(consult_), 0);
      recorder().Clear();
    }
    EXPECT_EQ(sim_->Count("ReconnectCall"), row.reconnects);
    EXPECT_EQ(sim_->Count("ClearConnection"), row.clears);
    EXPECT_EQ(sim_->Count("RetrieveCall"), row.retrieves);
    EXPECT_EQ(LogText().find("the PBX refused ReconnectCall", logFrom) != std::string::npos, row.refused);
    EXPECT_EQ(TSPI_lineCloseCall(call_), 0);
    EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
    initialised_ = false;
    sim_->Stop();
    sim_.reset();
  }
}

// Returning completes once: when the held call is closed before the answers
// come (nothing more is sent then), and when the link goes during the
// fallback's RetrieveCall.
TEST_F(ConsultationE2E, ReturningToTheHeldCallCompletesOnce) {
  const std::size_t logFrom = LogText().size();
  pbxsim::CallOptions calls;
  calls.refuseReconnect = true;
  Start(true, calls);
  Answered();
  Consult(10);
  const std::string consultId = std::to_string(At(CallInfo(consult_), kCallId));
  calls.holdAnswers = true;
  sim_->calls()->SetOptions(calls);
  EXPECT_EQ(TSPI_lineUnhold(12, call_), 12);
  ASSERT_TRUE(WaitHeldRequests(1));
  EXPECT_EQ(TSPI_lineCloseCall(call_), 0);
  EXPECT_EQ(recorder().CompletionCount(12), 1) << "completed before the close returned";
  LONG result = 0;
  EXPECT_TRUE(recorder().WaitCompletion(12, result));
  EXPECT_EQ(result, kOperationFailed);
  EXPECT_EQ(sim_->calls()->ReleaseAnswers(), 1u);
  ASSERT_TRUE(WaitLog(logFrom, "the PBX refused ReconnectCall"));
  EXPECT_EQ(TSPI_lineCloseCall(consult_), 0);
  recorder().Clear();

  // The next return goes by ClearConnection at once; its RetrieveCall is lost with the link.
  calls.holdAnswers = false;
  sim_->calls()->SetOptions(calls);
  Answered();
  Consult(20);
  calls.silentControl = true;
  sim_->calls()->SetOptions(calls);
  EXPECT_EQ(TSPI_lineUnhold(22, call_), 22);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "RetrieveCall") >= 1; }, 5s));
  ASSERT_TRUE(recorder().WaitState(kConsult, LINECALLSTATE_IDLE));
  sim_->DropConnections();
  ASSERT_TRUE(recorder().WaitCompletion(22, result, 1000ms));
  EXPECT_EQ(result, kOperationFailed);
  EXPECT_EQ(sim_->Count("ReconnectCall"), 1u) << "refused once on this connection";
  std::size_t clearsOfFirstConsult = 0;
  for (const auto& f : sim_->frames())
    clearsOfFirstConsult += f.root == "ClearConnection" && f.field("callID") == consultId ? 1 : 0;
  EXPECT_EQ(clearsOfFirstConsult, 1u) << "only the close's";
  EXPECT_EQ(recorder().CompletionCount(22), 1);
  EXPECT_EQ(TSPI_lineCloseCall(consult_), 0);
  EXPECT_EQ(TSPI_lineCloseCall(call_), 0);
}

TEST_F(ConsultationE2E, AFailedConsultationCompletesOnceAndLeavesNoCall) {
  const std::size_t logFrom = LogText().size();
  Start();
  Answered();
  pbxsim::CallOptions refuse;
  refuse.refuseControl = true;
  sim_->calls()->SetOptions(refuse);
  EXPECT_EQ(Complete(10, TSPI_lineSetupTransfer(10, call_, kConsult, &consult_, nullptr)), kOperationFailed);
  pbxsim::CallOptions silent;
  silent.silentControl = true;
  sim_->calls()->SetOptions(silent);
  EXPECT_EQ(TSPI_lineSetupTransfer(11, call_, kConsult, &consult_, nullptr), 11);
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "HoldCall") >= 2; }, 5s));
  sim_->DropConnections();
  LONG result = 1;
  ASSERT_TRUE(recorder().WaitCompletion(11, result, 1000ms)) << "failed at the drop";
  EXPECT_EQ(result, kOperationFailed);
  ASSERT_TRUE(WaitLog(logFrom, "CTI: snapshot after the reconnection"));
  EXPECT_EQ(recorder().States(ht_), (std::vector<DWORD>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED}))
      << "the first call is where it was";
  EXPECT_EQ(recorder().CountFor(kConsult), 0u) << "TAPI drops the consultation call itself";
  EXPECT_EQ(recorder().CompletionCount(10), 1);
  EXPECT_EQ(recorder().CompletionCount(11), 1);
  EXPECT_EQ(TSPI_lineCloseCall(call_), 0);
}

}  // namespace
}  // namespace qv
