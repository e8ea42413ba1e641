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

#include "provider/line_changes.h"
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

// What reached the procedure TAPI gave at enumeration.
struct DeviceMessages {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::pair<DWORD, DWORD_PTR>> seen;  // message, its first parameter
  std::vector<DWORD_PTR> created;                 // LINE_CREATE's temporary IDs
  bool WaitFor(DWORD message, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, timeout, [&] {
      for (const auto& m : seen) {
        if (m.first == message) return true;
      }
      return false;
    });
  }
};

DeviceMessages& deviceMessages() {
  static DeviceMessages m;
  return m;
}

const auto kProvider = reinterpret_cast<HPROVIDER>(std::uintptr_t{0x77});

void TSPIAPI onDeviceEvent(HTAPILINE, HTAPICALL, DWORD msg, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR) {
  {
    std::lock_guard guard(deviceMessages().lock);
    deviceMessages().seen.emplace_back(msg, param1);
    if (msg == LINE_CREATE) deviceMessages().created.push_back(param2);
  }
  deviceMessages().changed.notify_all();
}

std::string LineName(DWORD deviceId, LONG* rc = nullptr) {
  std::vector<std::uint32_t> words(1024, 0);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(words.data());
  caps->dwTotalSize = 4096;
  const LONG result = TSPI_lineGetDevCaps(deviceId, QV_TSPI_VERSION, 0, caps);
  if (rc != nullptr) *rc = result;
  std::string name;
  const auto* bytes = reinterpret_cast<const unsigned char*>(words.data()) + caps->dwLineNameOffset;
  for (DWORD i = 0; result == 0 && i + 2 < caps->dwLineNameSize; i += 2)
    name.push_back(static_cast<char>(bytes[i]));
  return name;
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
    {
      std::lock_guard guard(lineStates().lock);
      for (auto& states : lineStates().states) states.clear();
    }
    {
      std::lock_guard guard(deviceMessages().lock);
      deviceMessages().seen.clear();
      deviceMessages().created.clear();
    }
    pbxsim::Options options;
    options.devices = "200-349";
    sim_ = std::make_unique<pbxsim::Simulator>(options);
    ASSERT_TRUE(sim_->Start());
    store_.port = sim_->port();
    store_.lines = "202=Reception; 300-302; 7";
    store_.guid = "6ba7b810-9dad-11d1-80b4-00c04fd430c8";
    WriteSettingsStore(store_);
    completions().Clear();
    DWORD numLines = 0, numPhones = 0;
    ASSERT_EQ(TSPI_providerEnumDevices(7, &numLines, &numPhones, kProvider, onDeviceEvent, nullptr), 0);
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
    for (const auto& p : sim_->problems()) ADD_FAILURE() << p.problem << " " << p.invokeId << " " << p.root;
    if (HasFailure())
      for (const auto& f : sim_->frames())
        std::printf("%d %u %s\n", f.connection, f.invokeId, f.root.c_str());
    sim_->Stop();
  }
  static void TSPIAPI OnCompletion(DRV_REQUESTID id, LONG result) { completions().Add(id, result); }

  LONG Call(HDRVLINE line, DRV_REQUESTID id, HDRVCALL* call) {
    EXPECT_EQ(TSPI_lineMakeCall(id, line, reinterpret_cast<HTAPICALL>(std::uintptr_t{id}), call,
                                reinterpret_cast<LPCWSTR>(u"555"), 0, nullptr),
              static_cast<LONG>(id));
    LONG result = 1;
    EXPECT_TRUE(completions().Wait(id, 5s, result));
    return result;
  }

  SettingsStore store_;
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

TEST_F(ListedLinesE2E, ListChangesWhileRunningCreateAndRemoveLines) {
  for (DWORD i = 0; i < 4; ++i) ASSERT_TRUE(lineStates().WaitFor(i, LINEDEVSTATE_INSERVICE, 1)) << i;
  HDRVCALL onRemoved = nullptr;
  ASSERT_EQ(Call(lines_[1], 21, &onRemoved), 0);

  // 300 goes, 340 comes, 202 is renamed; the others stay as they are.
  store_.lines = "202=Front desk; 301-302; 7; 340";
  WriteSettingsStore(store_);
  ApplyLinesSetting();
  ASSERT_TRUE(deviceMessages().WaitFor(LINE_REMOVE));
  ASSERT_TRUE(deviceMessages().WaitFor(LINE_CREATE));
  {
    std::lock_guard guard(deviceMessages().lock);
    EXPECT_EQ(deviceMessages().seen,
              (std::vector<std::pair<DWORD, DWORD_PTR>>{
                  {LINE_REMOVE, 1}, {LINE_CREATE, reinterpret_cast<DWORD_PTR>(kProvider)}}));
    ASSERT_EQ(deviceMessages().created.size(), 1u);
  }
  // Before LINE_REMOVE its call was cleared and its monitor stopped.
  ASSERT_TRUE(sim_->WaitFor(
      [](const Frames& f) {
        return CountRoot(f, "ClearConnection") >= 1 && CountRoot(f, "MonitorStop") >= 1;
      },
      5s));
  for (const auto& f : sim_->frames()) {
    if (f.root == "ClearConnection") {
      EXPECT_EQ(f.field("deviceID"), "300");
    }
    if (f.root == "MonitorStop") {
      EXPECT_EQ(f.field("monitorCrossRefID"), "m2");
    }
  }
  LONG rc = 0;
  LineName(1, &rc);
  EXPECT_EQ(rc, static_cast<LONG>(LINEERR_BADDEVICEID)) << "the removed device is gone";

  // TAPI names the new device; its monitor starts at once.
  const DWORD_PTR temp = deviceMessages().created.front();
  EXPECT_EQ(TSPI_providerCreateLineDevice(temp, 9), 0);
  EXPECT_EQ(TSPI_providerCreateLineDevice(temp, 10), static_cast<LONG>(LINEERR_OPERATIONFAILED));
  EXPECT_EQ(LineName(9), "340");
  ASSERT_TRUE(sim_->WaitFor(
      [](const Frames& f) {
        for (const auto& frame : f) {
          if (frame.root == "MonitorStart" && frame.field("deviceObject") == "340@office") return true;
        }
        return false;
      },
      5s));
  ASSERT_TRUE(WaitForLog("lines: monitoring extension 340", 5s));
  EXPECT_EQ(RunningLineMonitors(), 4u);

  // The lines that stayed keep their device IDs and handles.
  EXPECT_EQ(LineName(0), "Front desk (202)");
  EXPECT_EQ(LineName(2), "301");
  HDRVCALL kept = nullptr;
  EXPECT_EQ(Call(lines_[0], 22, &kept), 0);
  EXPECT_EQ(TSPI_lineCloseCall(kept), 0);
  // TAPI closes what it held of the removed line.
  EXPECT_EQ(TSPI_lineCloseCall(onRemoved), static_cast<LONG>(LINEERR_INVALCALLHANDLE));
  EXPECT_EQ(TSPI_lineClose(lines_[1]), 0);
}

}  // namespace
}  // namespace qv::test
