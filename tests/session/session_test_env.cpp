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
  void TearDown() override { stopNetworking(); }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

}  // namespace

std::string LogText() {
  std::ifstream in(logPath(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  // Windows text-mode streams write CR CR LF for each "\r\n".
  std::string log = text.str();
  for (std::size_t at; (at = log.find("\r\r\n")) != std::string::npos;) log.erase(at, 1);
  return log;
}

std::size_t LogMark() { return LogText().size(); }

std::string LogSince(std::size_t mark) {
  std::string text = LogText();
  return mark < text.size() ? text.substr(mark) : std::string();
}

}  // namespace qv::test
