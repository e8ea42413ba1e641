// The line's calls against the PBX's snapshot after a reconnection.
#include <gtest/gtest.h>

#include "provider/call_reconcile.h"
#include "session/device_snapshot.h"

namespace qv {
namespace {

using Kind = Reconciled::Kind;

TEST(CallReconcileTest, EachCallKeepsMovesEndsOrIsAnnounced) {
  struct Case {
    const char* name;
    std::vector<KnownCall> ours;
    std::vector<SnapshotCall> snapshot;
    std::vector<Reconciled> expected;
  };
  const DWORD kConnected = LINECALLSTATE_CONNECTED, kHeld = LINECALLSTATE_ONHOLD;
  const Case cases[] = {
      {"same state: nothing", {{0, "1", kConnected, true, false}}, {{"1", "connected"}}, {}},
      {"ringing far end stays ringback",
       {{0, "1", LINECALLSTATE_RINGBACK, false, false}},
       {{"1", "connected"}},
       {}},
      {"held meanwhile",
       {{0, "1", kConnected, true, false}},
       {{"1", "hold"}},
       {{Kind::kMove, 0, {}, kHeld, false}}},
      {"retrieved meanwhile",
       {{2, "1", kHeld, true, false}},
       {{"1", "connected"}},
       {{Kind::kMove, 2, {}, kConnected, false}}},
      {"answered meanwhile",
       {{0, "1", LINECALLSTATE_OFFERING, true, false}},
       {{"1", "connected"}},
       {{Kind::kMove, 0, {}, kConnected, false}}},
      {"held for transfer stays",
       {{0, "1", LINECALLSTATE_ONHOLDPENDTRANSFER, true, false}},
       {{"1", "hold"}},
       {}},
      {"gone", {{3, "1", kConnected, true, false}}, {}, {{Kind::kEnd, 3, {}, 0, false}}},
      {"null connection is gone",
       {{3, "1", kConnected, true, false}},
       {{"1", "null"}},
       {{Kind::kEnd, 3, {}, 0, false}}},
      {"named by an event since: kept", {{3, "1", kConnected, true, true}}, {}, {}},
      {"new ringing call",
       {},
       {{"7", "alerting"}},
       {{Kind::kAnnounce, -1, "7", LINECALLSTATE_OFFERING, true}}},
      {"new held call", {}, {{"7", "hold"}}, {{Kind::kAnnounce, -1, "7", kHeld, false}}},
      {"failed or unknown: not announced", {}, {{"7", "fail"}, {"8", "null"}, {"9", "parked"}}, {}},
      {"repeated entry announced once",
       {},
       {{"7", "connected"}, {"7", "connected"}},
       {{Kind::kAnnounce, -1, "7", kConnected, false}}},
      {"mixed",
       {{0, "1", kConnected, true, false}, {1, "2", kHeld, false, false}},
       {{"2", "connected"}, {"5", "alerting"}},
       {{Kind::kEnd, 0, {}, 0, false},
        {Kind::kMove, 1, {}, kConnected, false},
        {Kind::kAnnounce, -1, "5", LINECALLSTATE_OFFERING, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Reconciled> got = ReconcileCalls(c.ours, c.snapshot);
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].kind, c.expected[i].kind) << i;
      EXPECT_EQ(got[i].slot, c.expected[i].slot) << i;
      EXPECT_EQ(got[i].callId, c.expected[i].callId) << i;
      EXPECT_EQ(got[i].state, c.expected[i].state) << i;
      EXPECT_EQ(got[i].incoming, c.expected[i].incoming) << i;
    }
  }
}

TEST(CallReconcileTest, SnapshotResponsesInTheirForms) {
  const std::string ns = " xmlns=\"http://www.ecma-international.org/standards/ecma-323/csta/ed5\"";
  auto info = [](const std::string& id, const std::string& state) {
    return "<snapshotDeviceResponseInfo><connectionIdentifier><callID>" + id +
           "</callID><deviceID>201</deviceID></connectionIdentifier><localCallState><compoundCallState>"
           "<localConnectionState>" +
           state +
           "</localConnectionState></compoundCallState></localCallState></snapshotDeviceResponseInfo>";
  };
  std::vector<SnapshotCall> calls = ParseSnapshotDeviceResponse(
      parseXml("<SnapshotDeviceResponse" + ns + "><crossRefIDorSnapshotData><snapshotData>" +
                   info("1", "connected") + info("", "hold") + info(" 2 ", " hold ") +
                   "</snapshotData></crossRefIDorSnapshotData></SnapshotDeviceResponse>",
               true));
  ASSERT_EQ(calls.size(), 2u) << "an entry without a callID is skipped";
  EXPECT_EQ(calls[1].callId, "2");
  EXPECT_EQ(calls[1].localState, "hold");
  calls = ParseSnapshotDeviceResponse(parseXml(
      "<SnapshotDeviceResponse" + ns +
          "><snapshotData><snapshotDeviceResponseInfo><connectionIdentifier><callID>3"
          "</callID></connectionIdentifier><localCallState><simpleCallState>alerting</simpleCallState>"
          "</localCallState></snapshotDeviceResponseInfo></snapshotData></SnapshotDeviceResponse>",
      true));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].localState, "alerting");
  std::string many;
  for (int i = 0; i < 40; ++i) many += info(std::to_string(i), "connected");
  calls = ParseSnapshotDeviceResponse(parseXml(
      "<SnapshotDeviceResponse" + ns + "><snapshotData>" + many + "</snapshotData></SnapshotDeviceResponse>",
      true));
  EXPECT_EQ(calls.size(), kMaxSnapshotCalls);
  EXPECT_TRUE(ParseSnapshotDeviceResponse(parseXml("<SnapshotDeviceResponse" + ns + "/>", true)).empty());
}

}  // namespace
}  // namespace qv
