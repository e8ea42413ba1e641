#include "tests/session/session_test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/socket.h"
#include "session/settings.h"

namespace qv::test {

namespace {

std::string& logPath() {
  static std::string path;
  return path;
}

class SessionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    startNetworking();
    std::random_device seed;
    logPath() =
        (std::filesystem::temp_directory_path() / ("qv-session-test-" + std::to_string(seed()) + ".log"))
            .string();
    ProviderSettings settings = SettingsSnapshot();
    settings.username = "201";
    settings.domain = "office";
    settings.loglevel = 5;
    settings.loglength = 1 << 30;
    settings.logfile = logPath();
    settings.encrypt = false;
    ReplaceSettings(settings);
  }
  void TearDown() override {
    stopNetworking();
    // The log of a passing run is of no further use (it is megabytes).
    std::error_code ignored;
    if (::testing::UnitTest::GetInstance()->Passed()) std::filesystem::remove(logPath(), ignored);
  }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

}  // namespace

std::string LogText() {
  std::ifstream in(logPath(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  // Windows text-mode streams write CR CR LF for each "\r\n". One pass:
  // the log of a whole run under wine holds megabytes of frames.
  const std::string raw = text.str();
  std::string log;
  log.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && raw.compare(i, 3, "\r\r\n") == 0) continue;
    log.push_back(raw[i]);
  }
  return log;
}

std::size_t LogMark() { return LogText().size(); }

std::string LogSince(std::size_t mark) {
  std::string text = LogText();
  return mark < text.size() ? text.substr(mark) : std::string();
}

}  // namespace qv::test
