#include "tests/call_e2e/provider_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/socket.h"
#include "session/session_timing.h"

namespace qv::test {

namespace {

std::filesystem::path& workDir() {
  static std::filesystem::path dir;
  return dir;
}

HDRVLINE line = nullptr;

std::atomic<int> completionsInside{0};
std::atomic<int> completionOverlaps{0};
std::atomic<std::int64_t> completionDelayMicros{0};

void onCompletion(DRV_REQUESTID id, LONG result) {
  if (completionsInside.fetch_add(1) != 0) ++completionOverlaps;
  if (auto delay = completionDelayMicros.load())
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
  completions().Add(id, result);
  completionsInside.fetch_sub(1);
}

class HarnessEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::random_device seed;
    workDir() = std::filesystem::temp_directory_path() / ("qv-call-e2e-" + std::to_string(seed()));
    std::filesystem::create_directories(workDir());
    std::string registry = (workDir() / "registry.reg").string();
    setenv("QUORVELONE_REGISTRY", registry.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(workDir(), ignored);
  }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new HarnessEnvironment);

}  // namespace

void WriteSettingsStore(const SettingsStore& s) {
  std::ofstream out(workDir() / "registry.reg", std::ios::binary | std::ios::trunc);
  auto value = [&](const std::string& name, const std::string& v) {
    out << "\"" << name << "\"=\"" << v << "\"\r\n";
  };
  out << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n";
  value("username", s.username);
  value("password", s.password);
  value("domain", s.domain);
  value("address", s.address);
  value("port", std::to_string(s.port));
  value("encrypt", s.encrypt ? "1" : "0");
  if (!s.tlsversion.empty()) value("tlsversion", s.tlsversion);
  if (!s.invokeid.empty()) value("invokeid", s.invokeid);
  value("autooriginate", s.autooriginate ? "1" : "0");
  value("loglevel", std::to_string(s.loglevel));
  value("loglength", "100000000");
  value("logfile", (workDir() / "provider.log").string());
  if (!s.certpin.empty()) value("certpin", s.certpin);
  if (!s.verifycert.empty()) value("verifycert", s.verifycert);
  if (!s.cafile.empty()) value("cafile", s.cafile);
  if (!s.lines.empty()) value("lines", s.lines);
  if (!s.guid.empty()) value("guid", s.guid);
  out << "\r\n";
}

std::string LogText() {
  std::ifstream in(workDir() / "provider.log", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Completions::Add(DRV_REQUESTID id, LONG result) {
  {
    std::lock_guard lock(lock_);
    all_.emplace_back(id, result);
  }
  changed_.notify_all();
}

bool Completions::Wait(DRV_REQUESTID id, std::chrono::milliseconds timeout, LONG& result) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, timeout, [&] {
    for (const auto& c : all_) {
      if (c.first == id) {
        result = c.second;
        return true;
      }
    }
    return false;
  });
}

int Completions::Count(DRV_REQUESTID id) {
  std::lock_guard lock(lock_);
  int n = 0;
  for (const auto& c : all_) n += c.first == id ? 1 : 0;
  return n;
}

std::size_t Completions::Total() {
  std::lock_guard lock(lock_);
  return all_.size();
}

void Completions::Clear() {
  std::lock_guard lock(lock_);
  all_.clear();
}

Completions& completions() {
  static Completions c;
  return c;
}

void SetCompletionDelay(std::chrono::microseconds delay) { completionDelayMicros = delay.count(); }

int CompletionOverlaps() { return completionOverlaps.load(); }

void InitProvider() {
  DWORD options = 0;
  ASSERT_EQ(TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, 1, 1, onCompletion, &options), 0);
  ASSERT_EQ(
      TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(std::uintptr_t{0x1}), &line, QV_TSPI_VERSION, nullptr), 0);
}

void ShutdownProvider() { EXPECT_EQ(TSPI_providerShutdown(QV_TSPI_VERSION, 7), 0); }

HDRVLINE Line() { return line; }

LONG MakeCall(DRV_REQUESTID id, const std::u16string& number, HDRVCALL* call) {
  return TSPI_lineMakeCall(id, line, reinterpret_cast<HTAPICALL>(std::uintptr_t{0x1000} + id), call,
                           reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr);
}

void UseShortTimings() {
  SessionTiming t;
  t.completionTimeout = std::chrono::milliseconds(1500);
  t.keepAliveAnswerTimeout = std::chrono::milliseconds(800);
  t.firstRetryDelay = std::chrono::milliseconds(100);
  t.maxRetryDelay = std::chrono::milliseconds(400);
  t.loginTimeout = std::chrono::milliseconds(1000);
  t.requestTimeout = std::chrono::milliseconds(2000);
  t.connectTimeout = std::chrono::milliseconds(3000);
  SetSessionTiming(t);
}

bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout, std::size_t from) {
  auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::string log = LogText();
    if (log.size() > from && log.find(text, from) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::size_t CountInLog(const std::string& text, std::size_t from) {
  std::string log = LogText();
  std::size_t n = 0;
  for (std::size_t at = from; (at = log.find(text, at)) != std::string::npos; at += text.size()) ++n;
  return n;
}

BlackHole::BlackHole() {
  listener_ = listenTcp("127.0.0.1", 0, port_);
  std::atomic<bool> never{false};
  for (int i = 0; i < 256; ++i) {
    ConnectResult r = connectTcp("127.0.0.1", std::to_string(port_), never, 300);
    if (r.status != 0) {
      holding_ = true;
      break;
    }
    fillers_.push_back(r.socket);
  }
}

BlackHole::~BlackHole() {
  for (SocketHandle s : fillers_) closeSocket(s);
  closeSocket(listener_);
}

std::size_t CountRoot(const std::vector<pbxsim::ReceivedFrame>& frames, const std::string& root) {
  std::size_t n = 0;
  for (const auto& f : frames) n += f.root == root ? 1 : 0;
  return n;
}

}  // namespace qv::test
