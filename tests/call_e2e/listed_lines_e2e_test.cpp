// A list of lines from end to end: the provider's exports against pbxsim
// with a range of devices, one monitor per line, a refused extension, calls
// on several lines at once, and the lines' service state across a link drop.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "session/line_monitors.h"
#include "tests/call_e2e/provider_harness.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;
using Frames = std::vector<pbxsim::ReceivedFrame>;

constexpr DWORD kLines = 5;  // "202=Reception; 300-302; 7"

// What reached each line's event procedure: LINE_LINEDEVSTATE states in order.
struct LineStates {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::vector<DWORD>> states = std::vector<std::vector<DWORD>>(kLines);

  bool WaitFor(DWORD line, DWORD state, std::size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, timeout, [&] {
      std::size_t n = 0;
      for (DWORD s : states[line]) n += s == state ? 1 : 0;
      return n >= count;
    });
  }
  std::size_t Count(DWORD line, DWORD state) {
    std::lock_guard guard(lock);
    std::size_t n = 0;
    for (DWORD s : states[line]) n += s == state ? 1 : 0;
    return n;
  }
};

LineStates& lineStates() {
  static LineStates s;
  return s;
}

void TSPIAPI onLineEvent(HTAPILINE htLine, HTAPICALL, DWORD msg, DWORD_PTR param1, DWORD_PTR, DWORD_PTR) {
  if (msg != LINE_LINEDEVSTATE) return;
  const auto line = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(htLine) - 0x100);
  if (line >= kLines) return;
  {
    std::lock_guard guard(lineStates().lock);
    lineStates().states[line].push_back(static_cast<DWORD>(param1));
  }
  lineStates().changed.notify_all();
}

DWORD DevStatusFlags(HDRVLINE line) {
  std::vector<std::uint32_t> words(64, 0);
  auto* status = reinterpret_cast<LINEDEVSTATUS*>(words.data());
  status->dwTotalSize = 256;
  status->dwNumOpens = 3;  // as TAPI fills it
  EXPECT_EQ(TSPI_lineGetLineDevStatus(line, status), 0);
  EXPECT_EQ(status->dwNumOpens, 3u);
  EXPECT_EQ(status->dwUsedSize, 88u);
  return status->dwDevStatusFlags;
}

constexpr DWORD kInService = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;

class ListedLinesE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    UseShortTimings();
    pbxsim::Options options;
    options.devices = "200-349";
    sim_ = std::make_unique<pbxsim::Simulator>(options);
    ASSERT_TRUE(sim_->Start());
    SettingsStore store;
    store.port = sim_->port();
    store.lines = "202=Reception; 300-302; 7";
    store.guid = "6ba7b810-9dad-11d1-80b4-00c04fd430c8";
    WriteSettingsStore(store);
    completions().Clear();
    DWORD numLines = 0, numPhones = 0;
    ASSERT_EQ(TSPI_providerEnumDevices(7, &numLines, &numPhones, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(numLines, kLines);
    DWORD options2 = 0;
    ASSERT_EQ(TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, numLines, 1, OnCompletion, &options2), 0);
    for (DWORD i = 0; i < kLines; ++i) {
      ASSERT_EQ(TSPI_lineOpen(i, reinterpret_cast<HTAPILINE>(std::uintptr_t{0x100} + i), &lines_[i],
                              QV_TSPI_VERSION, onLineEvent),
                0);
      ASSERT_EQ(TSPI_lineSetStatusMessages(lines_[i], LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE, 0),
                0);
    }
  }
  void TearDown() override {
    for (HDRVLINE line : lines_) TSPI_lineClose(line);
    EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
    EXPECT_TRUE(sim_->problems().empty());
    sim_->Stop();
  }
  static void TSPIAPI OnCompletion(DRV_REQUESTID id, LONG result) { completions().Add(id, result); }

  std::unique_ptr<pbxsim::Simulator> sim_;
  HDRVLINE lines_[kLines] = {};
};

TEST_F(ListedLinesE2E, EachLineIsMonitoredCallsFromItsExtensionAndFollowsTheLink) {
  // One monitor per line in the order listed; the PBX has no device 7.
  ASSERT_TRUE(WaitForLog("lines: the PBX refused to monitor extension 7, its line is out of service", 5s));
  for (DWORD i = 0; i < 4; ++i) ASSERT_TRUE(lineStates().WaitFor(i, LINEDEVSTATE_INSERVICE, 1)) << i;
  std::vector<std::string> monitored;
  for (const auto& f : sim_->frames()) {
    if (f.root == "MonitorStart") monitored.push_back(f.field("deviceObject"));
  }
  EXPECT_EQ(monitored,
            (std::vector<std::string>{"202@office", "300@office", "301@office", "302@office", "7@office"}));
  for (DWORD i = 0; i < 4; ++i) EXPECT_EQ(DevStatusFlags(lines_[i]), kInService) << i;
  EXPECT_EQ(DevStatusFlags(lines_[4]), 0u);
  EXPECT_EQ(lineStates().Count(4, LINEDEVSTATE_INSERVICE), 0u);

  // Calls on two lines at once go out from their own extensions.
  HDRVCALL first = nullptr, second = nullptr;
  ASSERT_EQ(TSPI_lineMakeCall(11, lines_[1], reinterpret_cast<HTAPICALL>(std::uintptr_t{11}), &first,
                              reinterpret_cast<LPCWSTR>(u"555"), 0, nullptr),
            11);
  ASSERT_EQ(TSPI_lineMakeCall(12, lines_[3], reinterpret_cast<HTAPICALL>(std::uintptr_t{12}), &second,
                              reinterpret_cast<LPCWSTR>(u"556"), 0, nullptr),
            12);
  LONG result = 1;
  ASSERT_TRUE(completions().Wait(11, 5s, result));
  EXPECT_EQ(result, 0);
  ASSERT_TRUE(completions().Wait(12, 5s, result));
  EXPECT_EQ(result, 0);
  std::set<std::string> callers;
  for (const auto& f : sim_->frames()) {
    if (f.root == "MakeCall")
      callers.insert(f.field("callingDevice") + ">" + f.field("calledDirectoryNumber"));
  }
  EXPECT_EQ(callers, (std::set<std::string>{"300@office>555", "302@office>556"}));
  EXPECT_EQ(TSPI_lineCloseCall(first), 0);
  EXPECT_EQ(TSPI_lineCloseCall(second), 0);

  // The link drops: every line is out of service until its monitor runs
  // again; the refused extension is asked for again.
  sim_->DropConnections();
  for (DWORD i = 0; i < 4; ++i) ASSERT_TRUE(lineStates().WaitFor(i, LINEDEVSTATE_OUTOFSERVICE, 1)) << i;
  for (DWORD i = 0; i < 4; ++i) ASSERT_TRUE(lineStates().WaitFor(i, LINEDEVSTATE_INSERVICE, 2)) << i;
  ASSERT_TRUE(sim_->WaitFor([](const Frames& f) { return CountRoot(f, "MonitorStart") >= 10; }, 5s));
  for (DWORD i = 0; i < 4; ++i) EXPECT_EQ(DevStatusFlags(lines_[i]), kInService) << i;
  EXPECT_EQ(DevStatusFlags(lines_[4]), 0u);
  EXPECT_EQ(lineStates().Count(4, LINEDEVSTATE_OUTOFSERVICE), 0u) << "never in service, nothing to leave";
  EXPECT_EQ(RunningLineMonitors(), 4u);
}

}  // namespace
}  // namespace qv::test
