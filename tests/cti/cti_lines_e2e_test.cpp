// Call control on a list of lines from end to end: each extension's calls,
// requests, forwarding and reconnection snapshot stay on its own line.
#include "tests/cti/cti_e2e_fixture.h"

namespace qv {
namespace {

constexpr std::size_t kLines = 3;

class ListedLinesE2E : public CtiE2E {
 protected:
  static HTAPILINE Ht(std::size_t i) { return reinterpret_cast<HTAPILINE>(std::uintptr_t{0x100} + i); }
  // Lines 301, 302 and 303 at a PBX that knows those devices; `open` of
  // them opened, each monitored.
  void StartLines(std::size_t open = kLines) {
    simOptions_.devices = "301-303";
    extraValues_ = {{"lines", "301;302=Desk;303"}};
    StartProvider(true, {});
    for (std::size_t i = 0; i < open; ++i) OpenLine(i);
    ASSERT_TRUE(WaitSent("MonitorStartResponse", kLines));
  }
  void OpenLine(std::size_t i) {
    ASSERT_EQ(TSPI_lineOpen(static_cast<DWORD>(i), Ht(i), &lines_[i], QV_TSPI_VERSION, onEvent), 0);
  }
  // Waits until pbxsim has sent `count` frames with this root.
  bool WaitSent(const std::string& root, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      std::size_t n = 0;
      for (const std::string& xml : sim_->sentFrames()) n += xml.find(root) != std::string::npos ? 1 : 0;
      if (n >= count) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  std::vector<std::string> Fields(const std::string& root, const std::string& field) {
    std::vector<std::string> out;
    for (const auto& f : sim_->frames()) {
      if (f.root == root) out.push_back(f.field(field));
    }
    return out;
  }
  // An incoming call at a device; its new call's index in the recorder.
  std::pair<HTAPICALL, HDRVCALL> IncomingAt(const std::string& device, const std::string& from,
                                            std::size_t index) {
    sim_->calls()->UseDevice(device);
    return Incoming(from, index);
  }

  HDRVLINE lines_[kLines] = {};
};

TEST_F(ListedLinesE2E, EachLinesCallsRequestsAndForwardingStayOnIt) {
  const std::size_t logFrom = LogText().size();
  StartLines();
  ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "GetDoNotDisturb") >= kLines; }, 5s));
  EXPECT_EQ(Fields("GetForwarding", "device"),
            (std::vector<std::string>{"301@office", "302@office", "303@office"}));

  // A call placed on the second line leaves from its extension.
  HDRVCALL placed = nullptr;
  EXPECT_EQ(Complete(1, TSPI_lineMakeCall(1, lines_[1], kOurCall, &placed,
                                          reinterpret_cast<LPCWSTR>(u"0301234"), 0, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_CONNECTED));
  EXPECT_EQ(Fields("MakeCall", "callingDevice"), (std::vector<std::string>{"302@office"}));
  EXPECT_EQ(recorder().LinesOf(kOurCall), (std::vector<HTAPILINE>{Ht(1)}));

  // A call from the PBX at 303 is offered on the third line only; held there.
  auto [heldHt, held] = IncomingAt("303", "+4930555", 0);
  EXPECT_EQ(recorder().LinesOf(heldHt), (std::vector<HTAPILINE>{Ht(2)}));
  EXPECT_EQ(Complete(2, TSPI_lineHold(2, held)), 0);
  ASSERT_TRUE(recorder().WaitState(heldHt, LINECALLSTATE_ONHOLD));
  EXPECT_EQ(Fields("HoldCall", "deviceID"), (std::vector<std::string>{"303"})) << "as the PBX named it";

  // Calls of two lines are no transfer of one line.
  EXPECT_EQ(TSPI_lineCompleteTransfer(3, held, placed, nullptr, nullptr, LINETRANSFERMODE_TRANSFER),
            static_cast<LONG>(LINEERR_INVALCALLHANDLE));
  EXPECT_EQ(sim_->Count("TransferCall"), 0u);

  // Forwarding set on the first line, changed on the second line's phone.
  std::vector<unsigned char> list(8 + 24 + 8, 0);
  auto put = [&](std::size_t at, DWORD v) { std::memcpy(list.data() + at, &v, 4); };
  put(0, static_cast<DWORD>(list.size()));
  put(4, 1);
  put(8, LINEFORWARDMODE_UNCOND);
  put(8 + 16, 8);
  put(8 + 20, 32);
  for (int i = 0; i < 3; ++i) list[32 + 2 * i] = static_cast<unsigned char>("305"[i]);
  EXPECT_EQ(Complete(4, TSPI_lineForward(4, lines_[0], 0, 0, reinterpret_cast<LPLINEFORWARDLIST>(list.data()),
                                         0, nullptr, nullptr, nullptr)),
            0);
  EXPECT_EQ(Fields("SetForwarding", "device"), (std::vector<std::string>{"301@office"}));
  sim_->calls()->UseDevice("302");
  sim_->calls()->PhoneSetsForwarding("forwardBusy", true, "306");
  ASSERT_TRUE(WaitLog(logFrom, "CTI: forwarding now busy to 306 on line 302"));
  using Entries = std::vector<std::pair<DWORD, std::u16string>>;
  EXPECT_EQ(ForwardList(lines_[0]), (Entries{{LINEFORWARDMODE_UNCOND, u"305"}}));
  EXPECT_EQ(ForwardList(lines_[1]), (Entries{{LINEFORWARDMODE_BUSY, u"306"}}));
  EXPECT_TRUE(ForwardList(lines_[2]).empty());

  // A lost connection keeps both calls; each line in use reads its own
  // snapshot (a call may have started while the link was down), and
  // neither call flaps.
  const std::size_t placedStates = recorder().States(kOurCall).size();
  const std::size_t heldStates = recorder().States(heldHt).size();
  sim_->DropConnections();
  ASSERT_TRUE(WaitLog(logFrom, "0 changed, 0 ended, 0 new on line 301"));
  ASSERT_TRUE(WaitLog(logFrom, "0 changed, 0 ended, 0 new on line 302"));
  ASSERT_TRUE(WaitLog(logFrom, "0 changed, 0 ended, 0 new on line 303"));
  std::vector<std::string> snapshots = Fields("SnapshotDevice", "snapshotObject");
  std::sort(snapshots.begin(), snapshots.end());
  EXPECT_EQ(snapshots, (std::vector<std::string>{"301@office", "302@office", "303@office"}));
  EXPECT_EQ(recorder().States(kOurCall).size(), placedStates);
  EXPECT_EQ(recorder().States(heldHt).size(), heldStates);
  EXPECT_EQ(Complete(5, TSPI_lineUnhold(5, held)), 0);
  ASSERT_TRUE(recorder().WaitStates(heldHt, heldStates + 1));
  EXPECT_EQ(recorder().LinesOf(heldHt), (std::vector<HTAPILINE>{Ht(2)}));
  for (HDRVCALL c : {placed, held}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

TEST_F(ListedLinesE2E, ALineNotOpenActsOnNothingUntilItIsOpened) {
  const std::size_t logFrom = LogText().size();
  StartLines(2);
  sim_->calls()->UseDevice("303");
  const std::string unseen = sim_->calls()->IncomingCall("+4930777", "");
  ASSERT_TRUE(WaitLog(logFrom, "CTI: DeliveredEvent of a line not open, not acted on"));
  sim_->calls()->FarEndHangsUp(unseen);
  ASSERT_TRUE(WaitLog(logFrom, "CTI: ConnectionClearedEvent of a line not open, not acted on"));
  EXPECT_EQ(recorder().NewCallCount(), 0u);
  OpenLine(2);
  auto [ht, call] = IncomingAt("303", "+4930888", 0);
  EXPECT_EQ(recorder().LinesOf(ht), (std::vector<HTAPILINE>{Ht(2)}));
  EXPECT_EQ(TSPI_lineCloseCall(call), 0);
}

}  // namespace
}  // namespace qv
