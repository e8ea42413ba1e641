#include "session/settings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

#include "platform/registry.h"
#include "tests/session/settings_test_env.h"

namespace qv {
namespace {

class SettingsTest : public ::testing::Test, public testing_support::FoundationTest {};

bool isGuidForm(const std::string& g) {
  if (g.size() != 36) return false;
  for (std::size_t i = 0; i < g.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (g[i] == '-')) return false;
    if (!dash && !std::isxdigit(static_cast<unsigned char>(g[i]))) return false;
    if (std::isupper(static_cast<unsigned char>(g[i]))) return false;
  }
  return g[14] == '4' && std::string("89ab").find(g[19]) != std::string::npos;
}

TEST(ParseStoredNumber, StandardDecimalConversion) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
  };
  const Case cases[] = {
      {"5060", true, 5060},
      {"5060abc", true, 5060},
      {"  42", true, 42},
      {"\t\n-7x", true, -7},
      {"+3", true, 3},
      {"0", true, 0},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"99999999999999999999999", false, 0},
      {"abc", false, 0},
      {"-", false, 0},
      {" + 5", false, 0},
      {"0x10", true, 0},
  };
  for (const auto& c : cases) {
    std::int32_t value = -1;
    EXPECT_EQ(parseStoredNumber(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(MakeGuidTest, VersionFourFormFromSecureSource) {
  std::set<std::string> seen;
  bool highFirstDigit = false;
  for (int i = 0; i < 200; ++i) {
    std::string g = MakeGuid();
    EXPECT_TRUE(isGuidForm(g)) << g;
    highFirstDigit = highFirstDigit || g[0] >= '8';
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_TRUE(highFirstDigit);  // full 16-bit groups, not a 15-bit generator
}

TEST_F(SettingsTest, NoKeyGivesDefaultsAndFreshGuid) {
  ReadSettings();
  ProviderSettings s = SettingsSnapshot();
  EXPECT_EQ(s.port, 443);
  EXPECT_TRUE(s.encrypt);
  EXPECT_FALSE(s.autooriginate);
  EXPECT_EQ(s.loglevel, 0);
  EXPECT_EQ(s.loglength, 1000);
  EXPECT_EQ(s.username, "");
  EXPECT_EQ(s.logfile, "");
  EXPECT_TRUE(isGuidForm(s.guid));
  ReadSettings();
  EXPECT_NE(SettingsSnapshot().guid, s.guid);  // not stored: made anew each time
}

TEST_F(SettingsTest, MissingKeyClearsTextFieldsKeepsNumbers) {
  ProviderSettings before;
  before.username = "40";
  before.address = "pbx";
  before.port = 8443;
  before.encrypt = false;
  ReplaceSettings(before);
  ReadSettings();
  ProviderSettings s = SettingsSnapshot();
  EXPECT_EQ(s.username, "");
  EXPECT_EQ(s.address, "");
  EXPECT_EQ(s.port, 8443);
  EXPECT_FALSE(s.encrypt);
}

TEST_F(SettingsTest, SwitchesAndNumbersFromText) {
  struct Case {
    const char* stored;
    bool encrypt;
  };
  const Case cases[] = {{"0", false}, {"-1", false}, {" 0", false}, {"2", true}, {"1", true}, {"", true}};
  for (const auto& c : cases) {
    ReplaceSettings(ProviderSettings{});
    WriteSetting("encrypt", c.stored);
    WriteSetting("port", "5060abc");
    ReadSettings();
    EXPECT_EQ(SettingsSnapshot().encrypt, c.encrypt) << "\"" << c.stored << "\"";
    EXPECT_EQ(SettingsSnapshot().port, 5060);
  }
}

TEST_F(SettingsTest, NonNumbersKeepFieldAndAreReported) {
  auto logPath = dir / "settings.log";
  WriteSetting("logfile", logPath.string());
  WriteSetting("loglevel", "9");
  ReadSettings();  // logging now on for the next read
  WriteSetting("port", "https");
  WriteSetting("loglength", "99999999999");
  WriteSetting("autooriginate", "yes");
  ReadSettings();
  ProviderSettings s = SettingsSnapshot();
  EXPECT_EQ(s.port, 443);
  EXPECT_EQ(s.loglength, 1000);
  EXPECT_FALSE(s.autooriginate);
  std::string log = testing_support::readFile(logPath);
  EXPECT_NE(log.find("]:1 Cannot read registry key port"), std::string::npos) << log;
  EXPECT_NE(log.find("]:1 Cannot read registry key loglength"), std::string::npos) << log;
  EXPECT_NE(log.find("]:1 Cannot read registry key autooriginate"), std::string::npos) << log;
}

TEST_F(SettingsTest, WriteThenReadRoundTripsEveryField) {
  ProviderSettings s;
  s.username = "201";
  s.password = "p\"a\\ss word";
  s.domain = "pbx.example.com";
  s.address = "10.0.0.5";
  s.port = -1;
  s.encrypt = false;
  s.autooriginate = true;
  s.loglevel = 5;
  s.loglength = 0;
  s.logfile = "C:\\logs\\tapi.log";
  s.guid = "0F1E2D3C-not-checked";
  ReplaceSettings(s);
  WriteSettings();
  ReplaceSettings(ProviderSettings{});
  ReadSettings();
  ProviderSettings r = SettingsSnapshot();
  EXPECT_EQ(r.username, s.username);
  EXPECT_EQ(r.password, s.password);
  EXPECT_EQ(r.domain, s.domain);
  EXPECT_EQ(r.address, s.address);
  EXPECT_EQ(r.port, -1);
  EXPECT_FALSE(r.encrypt);
  EXPECT_TRUE(r.autooriginate);
  EXPECT_EQ(r.loglevel, 5);
  EXPECT_EQ(r.loglength, 0);
  EXPECT_EQ(r.logfile, s.logfile);
  EXPECT_EQ(r.guid, s.guid);  // taken unchanged, without a check of its form
  EXPECT_EQ(ReadSetting("encrypt"), "0");
  EXPECT_EQ(ReadSetting("autooriginate"), "1");
}

TEST_F(SettingsTest, ValueTypesAsTheNarrowApiReturnsThem) {
  std::string multi("first\0second\0\0", 14);
  ASSERT_EQ(writeProviderValue("multi", kRegMultiSz, multi), RegistryWriteStatus::ok);
  EXPECT_EQ(ReadSetting("multi"), multi);  // embedded and final zero bytes kept

  ASSERT_EQ(writeProviderValue("number", kRegDword, std::string("5\0\0\0", 4)), RegistryWriteStatus::ok);
  EXPECT_EQ(ReadSetting("number"), "5");  // bytes up to the first zero, not a number

  ASSERT_EQ(writeProviderValue("big", kRegSz, std::string(kRegistryValueLimit + 10, 'x') + '\0'),
            RegistryWriteStatus::ok);
  EXPECT_EQ(ReadSetting("big"), "");  // larger than the read buffer
  ASSERT_EQ(writeProviderValue("fits", kRegSz, std::string(kRegistryValueLimit - 1, 'y') + '\0'),
            RegistryWriteStatus::ok);
  EXPECT_EQ(ReadSetting("fits").size(), kRegistryValueLimit - 1);
}

TEST_F(SettingsTest, MissingValueAndKeyAreReported) {
  auto logPath = enableLog(1);
  EXPECT_EQ(ReadSetting("username"), "");
  WriteSetting("domain", "x");
  EXPECT_EQ(ReadSetting("username"), "");
  std::string log = testing_support::readFile(logPath);
  EXPECT_NE(log.find("]:1 Cannot open registry for reading"), std::string::npos) << log;
  EXPECT_NE(log.find("]:1 Cannot read registry key username"), std::string::npos) << log;
}

// Installations from before the later values were added must read and log
// exactly as before; stored ones are picked up.
TEST_F(SettingsTest, LaterValuesAreSilentWhenAbsentAndReadWhenStored) {
  auto logPath = dir / "settings.log";
  WriteSetting("logfile", logPath.string());
  WriteSetting("loglevel", "9");
  for (const char* name :
       {"username", "password", "domain", "address", "port", "encrypt", "autooriginate", "loglength", "guid"})
    WriteSetting(name, std::string(name) == "port" ? "443" : "1");
  ReadSettings();
  ReadSettings();
  ProviderSettings s = SettingsSnapshot();
  EXPECT_EQ(s.logrotate, 0);
  EXPECT_FALSE(s.callevents);
  EXPECT_EQ(s.certpin, "");
  EXPECT_FALSE(s.verifycert);
  EXPECT_EQ(s.cafile, "");
  EXPECT_EQ(s.tlsversion, "1.0");
  EXPECT_EQ(s.clientcert, "");
  EXPECT_EQ(testing_support::readFile(logPath).find("Cannot read"), std::string::npos);

  WriteSetting("logrotate", "3");
  WriteSetting("callevents", "1");
  WriteSetting("certpin", "AA:BB");
  WriteSetting("verifycert", "1");
  WriteSetting("cafile", "/etc/pbx-ca.pem");
  WriteSetting("tlsversion", "auto");
  WriteSetting("clientcert", "C:\\certs\\tapi client.pem");
  ReadSettings();
  s = SettingsSnapshot();
  EXPECT_EQ(s.logrotate, 3);
  EXPECT_TRUE(s.callevents);
  EXPECT_EQ(s.certpin, "AA:BB");
  EXPECT_TRUE(s.verifycert);
  EXPECT_EQ(s.cafile, "/etc/pbx-ca.pem");
  EXPECT_EQ(s.tlsversion, "auto");
  EXPECT_EQ(s.clientcert, "C:\\certs\\tapi client.pem");

  WriteSetting("logrotate", "many");
  ReadSettings();
  EXPECT_EQ(SettingsSnapshot().logrotate, 3);
  EXPECT_NE(testing_support::readFile(logPath).find("]:1 Cannot read registry key logrotate: \"many\""),
            std::string::npos);
}

}  // namespace
}  // namespace qv
