// Listed lines with the Windows build: the provider's exports against the
// native pbxsim (started by wine_cti.sh with --calls --devices 301-305),
// whose commands this program appends to a file pbxsim reads. Skipped when
// the script did not set the environment.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/cti/wine_pbx.h"

namespace qv {
namespace {

using namespace wine;

// 309 is no device of the PBX.
constexpr const char* kLines = "301, 302=Desk; 303-304; 309";
constexpr std::size_t kLineCount = 5;
constexpr std::size_t kRefused = 4;
const auto kOurCall = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCA11});
constexpr DWORD kInService = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;

HTAPILINE Ht(std::size_t i) { return reinterpret_cast<HTAPILINE>(std::uintptr_t{0x100} + i); }

std::string LineName(DWORD deviceId) {
  std::vector<std::uint32_t> words(1024, 0);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(words.data());
  caps->dwTotalSize = 4096;
  EXPECT_EQ(TSPI_lineGetDevCaps(deviceId, QV_TSPI_VERSION, 0, caps), 0);
  std::string name;
  const auto* bytes = reinterpret_cast<const unsigned char*>(words.data()) + caps->dwLineNameOffset;
  for (DWORD i = 0; i + 2 < caps->dwLineNameSize; i += 2) name.push_back(static_cast<char>(bytes[i]));
  return name;
}

DWORD DevStatusFlags(HDRVLINE line) {
  std::vector<std::uint32_t> words(64, 0);
  auto* status = reinterpret_cast<LINEDEVSTATUS*>(words.data());
  status->dwTotalSize = 256;
  EXPECT_EQ(TSPI_lineGetLineDevStatus(line, status), 0);
  return status->dwDevStatusFlags;
}

class CtiLinesWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("QV_PBX_PORT").empty()) GTEST_SKIP() << "run by wine_cti.sh";
    wine::WriteCallControlSettings();
    WriteSetting("lines", kLines);
    written_ = true;
    recorder().Clear();
    const std::string before = Record();
    monitorsBefore_ = Count(before, kMonitorStarted);
    refusalsBefore_ = Count(before, kRefusal);
    DWORD lines = 0, phones = 0;
    ASSERT_EQ(TSPI_providerEnumDevices(7, &lines, &phones, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(lines, kLineCount);
    DWORD options = 0;
    ASSERT_EQ(TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, lines, 1, onCompletion, &options), 0);
    initialised_ = true;
    for (std::size_t i = 0; i < kLineCount; ++i)
      ASSERT_EQ(TSPI_lineOpen(static_cast<DWORD>(i), Ht(i), &lines_[i], QV_TSPI_VERSION, onEvent), 0);
    // Calls from the PBX's side need this session's monitors in place.
    ASSERT_TRUE(WaitRecord(kMonitorStarted, monitorsBefore_ + kLineCount - 1)) << "monitors not started";
  }
  void TearDown() override {
    if (initialised_) {
      for (HDRVLINE line : lines_) {
        if (line != nullptr) TSPI_lineClose(line);
      }
      EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
    }
    // The other wine suites may share this prefix: they expect the single line.
    if (written_) WriteSetting("lines", "");
  }
  // Until the line's status shows `flags` (or the time is up).
  static bool WaitStatus(HDRVLINE line, DWORD flags) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((DevStatusFlags(line) & kInService) != flags) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  // A call from the PBX at a device, the recorder's `index`-th new call.
  std::pair<HTAPICALL, HDRVCALL> IncomingAt(const std::string& device, std::size_t index) {
    Command("device " + device);
    Command("incoming +4930555" + device + " Caller " + device);
    EXPECT_TRUE(recorder().WaitNewCall(index + 1, 10s)) << "no call at " << device;
    if (recorder().NewCallCount() <= index) return {};
    auto call = recorder().NewCall(index);
    EXPECT_TRUE(recorder().WaitState(call.first, LINECALLSTATE_OFFERING, 10s));
    return call;
  }

  static constexpr const char* kMonitorStarted = "<csta:MonitorStartResponse xmlns";
  static constexpr const char* kRefusal = "invalidMonitorObject";
  HDRVLINE lines_[kLineCount] = {};
  std::size_t monitorsBefore_ = 0, refusalsBefore_ = 0;
  bool initialised_ = false;
  bool written_ = false;
};

TEST_F(CtiLinesWine, ListedLinesCallsLandOnTheirLinesAndARefusedExtensionIsOutOfService) {
  // Numbers, a named number and a range, in the order given.
  std::vector<std::string> names;
  for (DWORD i = 0; i < kLineCount; ++i) names.push_back(LineName(i));
  EXPECT_EQ(names, (std::vector<std::string>{"301", "Desk (302)", "303", "304", "309"}));

  // 309 is refused by the PBX and out of service; the other lines work.
  ASSERT_TRUE(WaitRecord(kRefusal, refusalsBefore_ + 1));
  EXPECT_TRUE(WaitStatus(lines_[kRefused], 0)) << "the refused line stays out of service";
  for (std::size_t i = 0; i < kRefused; ++i)
    EXPECT_TRUE(WaitStatus(lines_[i], kInService)) << "line " << i << " not in service";

  // A call placed on the named line leaves from its extension.
  HDRVCALL placed = nullptr;
  EXPECT_EQ(Complete(1, TSPI_lineMakeCall(1, lines_[1], kOurCall, &placed,
                                          reinterpret_cast<LPCWSTR>(u"0301234"), 0, nullptr)),
            0);
  ASSERT_TRUE(recorder().WaitState(kOurCall, LINECALLSTATE_CONNECTED, 10s));
  EXPECT_NE(Record().find("<callingDevice>302@office</callingDevice>"), std::string::npos);

  // Calls from the PBX at two devices of the range, while the first is up:
  // each on its own line only.
  auto [at303, call303] = IncomingAt("303", 0);
  auto [at304, call304] = IncomingAt("304", 1);
  EXPECT_EQ(recorder().LinesOf(kOurCall), (std::vector<HTAPILINE>{Ht(1)}));
  EXPECT_EQ(recorder().LinesOf(at303), (std::vector<HTAPILINE>{Ht(2)}));
  EXPECT_EQ(recorder().LinesOf(at304), (std::vector<HTAPILINE>{Ht(3)}));

  // The call at 304 is answered on its line, the one at 303 dropped on its own.
  EXPECT_EQ(Complete(2, TSPI_lineAnswer(2, call304, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(at304, LINECALLSTATE_CONNECTED, 10s));
  EXPECT_EQ(Complete(3, TSPI_lineDrop(3, call303, nullptr, 0)), 0);
  ASSERT_TRUE(recorder().WaitState(at303, LINECALLSTATE_IDLE, 10s));
  EXPECT_EQ(recorder().LinesOf(at303), (std::vector<HTAPILINE>{Ht(2)}));
  EXPECT_EQ(recorder().LinesOf(at304), (std::vector<HTAPILINE>{Ht(3)}));
  EXPECT_EQ(DevStatusFlags(lines_[kRefused]) & kInService, 0u);
  for (HDRVCALL c : {placed, call303, call304}) EXPECT_EQ(TSPI_lineCloseCall(c), 0);
}

}  // namespace
}  // namespace qv
