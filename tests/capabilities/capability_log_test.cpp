// What the capability and configuration entry points leave in the log.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/provider_state.h"
#include "session/settings.h"
#include "tests/capabilities/capability_bytes.h"

namespace qv {
namespace {

class CapabilityLogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = new std::filesystem::path(
        std::filesystem::temp_directory_path() /
        ("qv-caps-log-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
         ".txt"));
    ProviderSettings settings;
    settings.loglevel = 5;
    settings.logfile = path_->string();
    settings.guid = "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9";
    ReplaceSettings(settings);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove(*path_, ignored);
    delete path_;
  }

  // Log lines written since the last call, as "level message".
  std::vector<std::string> newLines() {
    std::ifstream in(*path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(text, line)) {
      while (!line.empty() && line.back() == '\r') line.pop_back();
      const auto at = line.find("]:");
      lines.push_back(at == std::string::npos ? line : line.substr(at + 2));
    }
    std::vector<std::string> fresh(lines.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, lines.size())),
                                   lines.end());
    seen_ = lines.size();
    return fresh;
  }

  static std::filesystem::path* path_;
  std::size_t seen_ = 0;
};

std::filesystem::path* CapabilityLogTest::path_ = nullptr;

TEST_F(CapabilityLogTest, EntryPointsLeaveTheirLines) {
  test::CapsBuffer caps(1024);
  TSPI_lineGetDevCaps(7, 0x00020002, 0, caps.as<LINEDEVCAPS>());
  test::CapsBuffer address(1024);
  TSPI_lineGetAddressCaps(7, 0, 0x00020002, 0, address.as<LINEADDRESSCAPS>());
  TSPI_lineGetAdressStatus(nullptr, 0, nullptr);
  TSPI_lineSetStatusMessages(nullptr, 0, 0);
  // Without a module handle nothing is shown; only providerConfig logs.
  providerState.moduleHandle = nullptr;
  TUISPI_lineConfigDialog(nullptr, 0, nullptr, nullptr);
  TUISPI_providerConfig(nullptr, nullptr, 1);
  EXPECT_EQ(newLines(), (std::vector<std::string>{
                            "5 TSPI_lineGetDevCaps dwDeviceID=7",
                            "5 TSPI_lineGetAddressCaps",
                            "5 TSPI_lineGetAdressStatus",
                            "5 TSPI_lineSetStatusMessages",
                            "5 TUISPI_providerConfig",
                        }));
}

TEST_F(CapabilityLogTest, StatusMessagesLogEveryRowInTableOrder) {
  newLines();
  TSPI_lineSetStatusMessages(nullptr, 0xFFFFFFFF, 0xFFFFFFFF);
  std::vector<std::string> lines = newLines();
  std::vector<std::string> expected = {"5 TSPI_lineSetStatusMessages"};
  for (const char* name : {"BATTERY",     "CAPSCHANGE",  "CLOSE",        "CONFIGCHANGE", "COMPLCANCEL",
                           "CONNECTED",   "DEVSPECIFIC", "DISCONNECTED", "INSERVICE",    "LOCK",
                           "MAINTENANCE", "MSGWAITOFF",  "MSGWAITON",    "NUMCALLS",     "NUMCOMPLETIONS",
                           "OPEN",        "OTHER",       "OUTOFSERVICE", "REINIT",       "REMOVED",
                           "RINGING",     "ROAMMODE",    "SIGNAL",       "TERMINALS",    "TRANSLATECHANGE"}) {
    expected.push_back(std::string("5 SetStatusMessages: LINEDEVSTATE_") + name);
  }
  for (const char* name : {"CAPSCHANGE", "DEVSPECIFIC", "FORWARD", "INUSEMANY", "INUSEONE", "INUSEZERO",
                           "NUMCALLS", "OTHER", "TERMINALS"}) {
    expected.push_back(std::string("5 SetStatusMessages: LINEADDRESSSTATE_") + name);
  }
  ASSERT_EQ(expected.size(), 1u + 25u + 9u);
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace qv
