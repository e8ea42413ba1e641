// The provider's lifecycle entry points and its unserved requests, called
// the way TAPI calls them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/provider_state.h"
#include "tests/session/settings_test_env.h"

namespace qv {
namespace {

void TSPIAPI completion(DRV_REQUESTID, LONG) {}
void TSPIAPI lineEvent(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

class ProviderTest : public ::testing::Test, public testing_support::FoundationTest {
 protected:
  ProviderTest() {
    // The session reads its settings at init: an unreachable PBX fails fast.
    WriteSetting("address", "127.0.0.1");
    WriteSetting("port", "1");
    WriteSetting("encrypt", "0");
  }
  ~ProviderTest() override {
    if (providerState.initialised) TSPI_providerShutdown(kTspiVersion, 0);
  }
  static std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += what.size()) ++n;
    return n;
  }
  LONG init(DWORD permanentId, DWORD lineBase = 3, DWORD phoneBase = 4) {
    return TSPI_providerInit(kTspiVersion, permanentId, lineBase, phoneBase, 1, 1, &completion, nullptr);
  }
};

TEST_F(ProviderTest, LineNegotiationTestsTheLowBound) {
  struct Case {
    DWORD low, high;
    LONG result;
    DWORD version;
  };
  const Case cases[] = {
      {0x00010004, 0x00030000, 0, 0x00020002},
      {0x00010004, 0x00020000, 0, 0x00020000},
      {0x00020002, 0x00020002, 0, 0x00020002},
      {0x00020003, 0x00030000, static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION), 0xDEADBEEF},
      {0x00010000, 0x00010000, 0, 0x00010000},
  };
  enableLog(9);
  for (const auto& c : cases) {
    DWORD version = 0xDEADBEEF;
    EXPECT_EQ(TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, c.low, c.high, &version), c.result);
    EXPECT_EQ(version, c.version);
  }
  EXPECT_EQ(logText(), "");  // the line negotiation writes nothing
}

TEST_F(ProviderTest, PhoneNegotiationTestsTheHighBound) {
  struct Case {
    DWORD low, high;
    LONG result;
    DWORD version;
  };
  const Case cases[] = {
      {0x00010004, 0x00020001, static_cast<LONG>(PHONEERR_INCOMPATIBLEAPIVERSION), 0xDEADBEEF},
      {0x00010004, 0x00020002, 0, 0x00020002},
      {0x00030000, 0x00030001, 0, 0x00020002},  // whatever the low bound
      {0, 0xFFFFFFFF, 0, 0x00020002},
  };
  enableLog(5);
  for (const auto& c : cases) {
    DWORD version = 0xDEADBEEF;
    EXPECT_EQ(TSPI_phoneNegotiateTSPIVersion(0, c.low, c.high, &version), c.result);
    EXPECT_EQ(version, c.version);
  }
  EXPECT_NE(logText().find("]:5 TSPI_phoneNegotiateTSPIVersion dwLowVersion=65540 dwHighVersion=131073 "
                           "myVersion=131074\r"),
            std::string::npos)
      << logText();
}

TEST_F(ProviderTest, InitTwiceKeepsTheFirstAndStartsOneSession) {
  enableLog(5);
  ASSERT_EQ(init(0x12345, 7, 8), 0);
  EXPECT_TRUE(providerState.initialised);
  EXPECT_EQ(providerState.permanentProviderId, 0x12345u);
  EXPECT_EQ(providerState.lineDeviceIdBase, 7u);
  EXPECT_EQ(providerState.phoneDeviceIdBase, 8u);
  EXPECT_EQ(providerState.completionProc, &completion);
  EXPECT_EQ(init(99, 1, 2), 0);
  EXPECT_EQ(providerState.permanentProviderId, 0x12345u);
  EXPECT_EQ(count(logText(), "]:1 Provider Init\r"), 1u);
}

TEST_F(ProviderTest, ShutdownBeforeInitOnlyLogs) {
  enableLog(5);
  EXPECT_EQ(TSPI_providerShutdown(kTspiVersion, 0), 0);
  EXPECT_FALSE(providerState.initialised);
  EXPECT_EQ(count(logText(), "]:5 TSPI_providerShutdown\r"), 1u);
  EXPECT_EQ(count(logText(), "Provider Init"), 0u);
}

TEST_F(ProviderTest, ShutdownThenInitStartsAgainAndKeepsCallCount) {
  enableLog(5);
  ASSERT_EQ(init(1), 0);
  const std::int32_t made = callsMade;
  EXPECT_EQ(TSPI_providerShutdown(kTspiVersion, 1), 0);
  EXPECT_FALSE(providerState.initialised);
  ASSERT_EQ(init(2, 10, 11), 0);
  EXPECT_TRUE(providerState.initialised);
  EXPECT_EQ(providerState.permanentProviderId, 2u);
  EXPECT_EQ(providerState.lineDeviceIdBase, 10u);
  EXPECT_EQ(callsMade, made);
  EXPECT_EQ(count(logText(), "Provider Init"), 2u);
}

// TAPI may call init and shutdown from different threads: whatever the
// interleaving, the provider ends in a consistent state with one session.
TEST_F(ProviderTest, RacingInitAndShutdownStayConsistent) {
  enableLog(5);
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 10; ++i) {
        if ((i + t) % 2 == 0) {
          init(static_cast<DWORD>(t));
        } else {
          TSPI_providerShutdown(kTspiVersion, 0);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(TSPI_providerShutdown(kTspiVersion, 0), 0);
  EXPECT_FALSE(providerState.initialised);
  ASSERT_EQ(init(5), 0);
  EXPECT_TRUE(providerState.initialised);
  EXPECT_EQ(providerState.permanentProviderId, 5u);
}

TEST_F(ProviderTest, DevicesAndLine) {
  DWORD lines = 0, phones = 0;
  EXPECT_EQ(TSPI_providerEnumDevices(1, &lines, &phones, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 1u);
  EXPECT_EQ(phones, 1u);

  int tapiLine1 = 0, tapiLine2 = 0;
  HDRVLINE first = nullptr, second = nullptr;
  EXPECT_EQ(TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(&tapiLine1), &first, kTspiVersion, &lineEvent), 0);
  EXPECT_EQ(TSPI_lineOpen(5, reinterpret_cast<HTAPILINE>(&tapiLine2), &second, kTspiVersion, nullptr), 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, reinterpret_cast<HDRVLINE>(&lineRecord));
  EXPECT_EQ(lineRecord.htLine, reinterpret_cast<HTAPILINE>(&tapiLine2));  // reopening overwrites
  EXPECT_EQ(lineRecord.eventProc, nullptr);
  EXPECT_EQ(TSPI_lineClose(first), 0);
  EXPECT_EQ(lineRecord.htLine, reinterpret_cast<HTAPILINE>(&tapiLine2));  // nothing cleared
}

TEST_F(ProviderTest, UIIdentifyNamesTheOwnModule) {
  enableLog(5);
  WCHAR name[260];
  std::memset(name, 0x55, sizeof name);
  HINSTANCE saved = providerState.moduleHandle;
  providerState.moduleHandle = nullptr;
  EXPECT_EQ(TSPI_providerUIIdentify(name), 1);
  EXPECT_EQ(static_cast<std::uint16_t>(name[0]), 0x5555);  // untouched
  EXPECT_NE(logText().find("]:0 TSPI_providerUIIdentify: Instance not available\r"), std::string::npos);

  providerState.moduleHandle = ownModuleHandle();
  EXPECT_EQ(TSPI_providerUIIdentify(name), 0);
  std::string path;
  for (const WCHAR* p = name; *p != 0; ++p) path += static_cast<char>(*p);
  EXPECT_NE(path.find("provider_lifecycle_test"), std::string::npos) << path;
  providerState.moduleHandle = saved;
}

TEST_F(ProviderTest, AttachKeepsHandleAndLogsFirst) {
  enableLog(0);
  HINSTANCE saved = providerState.moduleHandle;
  AttachProcess(ownModuleHandle());
  EXPECT_EQ(providerState.moduleHandle, ownModuleHandle());
  EXPECT_EQ(logText(), "[0:00:00:000]:0 Loaded TAPI DLL" + testing_support::diskLineEnd());
  providerState.moduleHandle = saved;
}

// Exports whose whole behaviour is a trace and a fixed result.
TEST_F(ProviderTest, UnservedRequestsTraceAndAnswerFixedResults) {
  const LONG invalCall = static_cast<LONG>(LINEERR_INVALCALLHANDLE);
  struct Case {
    const char* name;
    LONG (*call)();
    LONG result;
  };
  const Case cases[] = {
      {"TSPI_lineHold", [] { return TSPI_lineHold(1, nullptr); }, 0},
      {"TSPI_lineAccept", [] { return TSPI_lineAccept(1, nullptr, nullptr, 0); }, invalCall},
      {"TSPI_lineAnswer", [] { return TSPI_lineAnswer(1, nullptr, nullptr, 0); }, invalCall},
      {"TSPI_lineDial", [] { return TSPI_lineDial(1, nullptr, nullptr, 0); }, invalCall},
      {"TSPI_lineForward",
       [] { return TSPI_lineForward(1, nullptr, 0, 0, nullptr, 0, nullptr, nullptr, nullptr); }, 0},
      {"TSPI_lineSetCurrentLocation", [] { return TSPI_lineSetCurrentLocation(0); }, 0},
      {"TSPI_phoneClose", [] { return TSPI_phoneClose(nullptr); }, 0},
      {"TSPI_phoneOpen", [] { return TSPI_phoneOpen(0, nullptr, nullptr, 0, nullptr); }, 0},
      {"TSPI_providerConfig", [] { return TSPI_providerConfig(nullptr, 0); }, 0},
      {"TSPI_providerCreateLineDevice", [] { return TSPI_providerCreateLineDevice(0, 0); }, 0},
      {"TUISPI_phoneConfigDialog", [] { return TUISPI_phoneConfigDialog(nullptr, 0, nullptr, nullptr); }, 0},
      {"TUISPI_providerGenericDialogData", [] { return TUISPI_providerGenericDialogData(0, nullptr, 0); }, 0},
      {"TSPI_providerInstall", [] { return TSPI_providerInstall(nullptr, 0); }, 0},
      {"TUISPI_providerRemove", [] { return TUISPI_providerRemove(nullptr, nullptr, 0); }, 0},
      {"TUISPI_providerUIIdentify", [] { return TUISPI_providerUIIdentify(nullptr); }, 0},
  };
  for (int loglevel : {5, 4}) {
    for (const auto& c : cases) {
      resetLogForTesting();
      std::filesystem::remove(enableLog(loglevel));
      EXPECT_EQ(c.call(), c.result) << c.name;
      std::string expected = loglevel >= 5
                                 ? "[0:00:00:000]:5 " + std::string(c.name) + testing_support::diskLineEnd()
                                 : std::string();
      EXPECT_EQ(logText(), expected) << c.name << " at loglevel " << loglevel;
    }
  }
}

TEST_F(ProviderTest, PhoneCapsLeavesTheStructureUntouched) {
  unsigned char buffer[512];
  std::memset(buffer, 0xA5, sizeof buffer);
  EXPECT_EQ(TSPI_phoneGetDevCaps(0, kTspiVersion, 0, reinterpret_cast<LPPHONECAPS>(buffer)), 0);
  for (unsigned char b : buffer) ASSERT_EQ(b, 0xA5);
}

}  // namespace
}  // namespace qv
