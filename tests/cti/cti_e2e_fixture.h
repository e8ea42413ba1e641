#pragma once
// The call-control line's end-to-end fixture: pbxsim's call model on
// loopback, the provider's exports, TAPI's procedures recorded. Each test
// program that includes it has its own working folder and registry file.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "platform/tapi.h"
#include "tests/cti/line_recorder.h"
#include "session/csta_frame.h"
#include "session/session_timing.h"
#include "tools/pbxsim/call_model.h"
#include "tools/pbxsim/pbx_simulator.h"

namespace qv {

using namespace std::chrono_literals;

// One folder and registry file for the whole test program: the registry's
// path is read once per process.
inline std::filesystem::path workDir() {
  static std::filesystem::path dir = [] {
    std::random_device seed;
    auto d = std::filesystem::temp_directory_path() / ("qv-cti-e2e-" + std::to_string(seed()));
    std::filesystem::create_directories(d);
    setenv("QUORVELONE_REGISTRY", (d / "registry.reg").string().c_str(), 1);
    return d;
  }();
  return dir;
}

inline std::string LogText() {
  std::ifstream in(workDir() / "provider.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

constexpr LONG kInvalCallState = static_cast<LONG>(LINEERR_INVALCALLSTATE);
constexpr LONG kOperationFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);
const auto kOurCall = reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCA11});

class CtiE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    SessionTiming t;
    t.completionTimeout = 1500ms;
    t.firstRetryDelay = 100ms;
    t.maxRetryDelay = 400ms;
    SetSessionTiming(t);
    recorder().Clear();
  }
  void TearDown() override {
    if (initialised_) {
      EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0);
    }
    if (sim_) {
      auto problems = sim_->problems();
      EXPECT_TRUE(problems.empty()) << problems.front().problem;
      sim_->Stop();
    }
  }
  // The provider with one line open, monitoring.
  void Start(bool callEvents = true, pbxsim::CallOptions calls = {}) {
    StartProvider(callEvents, calls);
    ASSERT_EQ(
        TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(std::uintptr_t{0x1}), &line_, QV_TSPI_VERSION, onEvent),
        0);
    ASSERT_TRUE(sim_->WaitFor([](const auto& f) { return CountRoot(f, "MonitorStart") >= 1; }, 5s));
    // The monitor answer is out before the test starts calls from the PBX's side.
    ASSERT_TRUE(sim_->WaitForSent(1, 5s));
  }
  // pbxsim and the provider, no line open; simOptions_ and extraValues_ add
  // to what every test has.
  void StartProvider(bool callEvents, pbxsim::CallOptions calls) {
    pbxsim::Options o = simOptions_;
    o.calls = true;
    sim_ = std::make_unique<pbxsim::Simulator>(o);
    ASSERT_TRUE(sim_->Start());
    sim_->calls()->SetOptions(calls);
    std::ofstream out(workDir() / "registry.reg", std::ios::binary | std::ios::trunc);
    auto value = [&](const std::string& name, const std::string& v) {
      out << "\"" << name << "\"=\"" << v << "\"\r\n";
    };
    out << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n";
    value("username", "201");
    value("password", "secret");
    value("domain", "office");
    value("address", "127.0.0.1");
    value("port", std::to_string(sim_->port()));
    value("encrypt", "0");
    value("loglevel", "5");
    value("loglength", "100000000");
    value("logfile", (workDir() / "provider.log").string());
    value("callevents", callEvents ? "1" : "0");
    for (const auto& [name, v] : extraValues_) value(name, v);
    out << "\r\n";
    out.close();
    DWORD options = 0;
    ASSERT_EQ(TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, 1, 1, onCompletion, &options), 0);
    initialised_ = true;
  }
  static std::size_t CountRoot(const std::vector<pbxsim::ReceivedFrame>& f, const std::string& root) {
    std::size_t n = 0;
    for (const auto& x : f) n += x.root == root ? 1 : 0;
    return n;
  }
  LONG Complete(DRV_REQUESTID id, LONG returned) {
    EXPECT_EQ(returned, static_cast<LONG>(id));
    LONG result = 1;
    EXPECT_TRUE(recorder().WaitCompletion(id, result)) << "no completion for " << id;
    return result;
  }
  std::vector<unsigned char> CallInfo(HDRVCALL call) {
    std::vector<unsigned char> buffer(1024, 0xCC);
    auto* info = reinterpret_cast<LPLINECALLINFO>(buffer.data());
    info->dwTotalSize = 1024;
    EXPECT_EQ(TSPI_lineGetCallInfo(call, info), 0);
    return buffer;
  }
  static DWORD At(const std::vector<unsigned char>& b, std::size_t offset) {
    return static_cast<DWORD>(b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 | b[offset + 3] << 24);
  }
  // The UTF-16 text a size/offset pair at `sizeAt` names.
  static std::u16string Text(const std::vector<unsigned char>& b, std::size_t sizeAt) {
    DWORD size = At(b, sizeAt), offset = At(b, sizeAt + 4);
    std::u16string s;
    for (DWORD i = 0; i + 3 < size; i += 2)
      s.push_back(static_cast<char16_t>(b[offset + i] | b[offset + i + 1] << 8));
    return s;
  }
  DWORD StatusFeatures(HDRVCALL call, DWORD* state = nullptr) {
    LINECALLSTATUS status{};
    status.dwTotalSize = 56;
    EXPECT_EQ(TSPI_lineGetCallStatus(call, &status), 0);
    if (state != nullptr) *state = status.dwCallState;
    return status.dwCallFeatures;
  }

  // The forwarding entries of a line's LINEADDRESSSTATUS: (mode, destination).
  std::vector<std::pair<DWORD, std::u16string>> ForwardList(HDRVLINE line) {
    std::vector<unsigned char> b(256, 0);
    reinterpret_cast<LPLINEADDRESSSTATUS>(b.data())->dwTotalSize = 256;
    EXPECT_EQ(TSPI_lineGetAddressStatus(line, 0, reinterpret_cast<LPLINEADDRESSSTATUS>(b.data())), 0);
    std::vector<std::pair<DWORD, std::u16string>> entries;
    for (DWORD i = 0; i < At(b, 36); ++i) {
      const std::size_t e = At(b, 44) + i * 24;
      entries.emplace_back(At(b, e), Text(b, e + 16));
    }
    EXPECT_EQ(At(b, 28), static_cast<DWORD>(0x3607)) << "dwAddressFeatures";
    return entries;
  }
  // Waits until the log written since `from` contains the text.
  static bool WaitLog(std::size_t from, const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string log = LogText();
      if (log.size() > from && log.find(text, from) != std::string::npos) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  // Waits until pbxsim holds back the answers of `count` requests (CallOptions::holdAnswers).
  bool WaitHeldRequests(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (sim_->calls()->HeldRequests() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  // An incoming call from the PBX, answered unless asked otherwise.
  std::pair<HTAPICALL, HDRVCALL> Incoming(const std::string& from, std::size_t index, bool answer = true) {
    sim_->calls()->IncomingCall(from, "");
    EXPECT_TRUE(recorder().WaitNewCall(index + 1));
    auto [ht, call] = recorder().NewCall(index);
    EXPECT_TRUE(recorder().WaitState(ht, LINECALLSTATE_OFFERING));
    if (answer) {
      const DRV_REQUESTID id = 100 + static_cast<DRV_REQUESTID>(index);
      EXPECT_EQ(Complete(id, TSPI_lineAnswer(id, call, nullptr, 0)), 0);
      EXPECT_TRUE(recorder().WaitState(ht, LINECALLSTATE_CONNECTED));
    }
    return {ht, call};
  }

  pbxsim::Options simOptions_;
  std::vector<std::pair<std::string, std::string>> extraValues_;
  std::unique_ptr<pbxsim::Simulator> sim_;
  HDRVLINE line_ = nullptr;
  bool initialised_ = false;
};

// LINECALLINFO offsets (TAPI 2.x).
constexpr std::size_t kCallId = 40, kOrigin = 80, kCallerFlags = 108, kCallerId = 112, kCallerName = 120,
                      kCalledFlags = 128, kCalledId = 132, kConnectedFlags = 148, kConnectedId = 152,
                      kConnectedName = 160;

}  // namespace
}  // namespace qv
