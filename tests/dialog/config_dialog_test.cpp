// The dialog's rules, without a screen: what it shows, what OK stores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"

#include "session/config_dialog.h"
#include "session/settings.h"
#include "tests/dialog/registry_sandbox.h"

namespace qv {
namespace {

using ConfigDialogTest = test::RegistrySandbox;

ConfigForm filledForm() {
  ConfigForm form;
  form.username = "40";
  form.password = "secret";
  form.passwordRepeat = "secret";
  form.domain = "example.com";
  form.address = "pbx.example.com";
  form.port = "5061";
  form.encrypt = false;
  form.autooriginate = true;
  return form;
}

TEST_F(ConfigDialogTest, WithoutKeyTheDialogShowsTheDefaults) {
  ProviderSettings loaded = LoadConfigSettings();
  ConfigForm form = MakeConfigForm(loaded);
  EXPECT_EQ(form.username, "");
  EXPECT_EQ(form.password, "");
  EXPECT_EQ(form.passwordRepeat, "");
  EXPECT_EQ(form.domain, "");
  EXPECT_EQ(form.address, "");
  EXPECT_EQ(form.port, "443");
  EXPECT_TRUE(form.encrypt);
  EXPECT_FALSE(form.autooriginate);
  EXPECT_EQ(loaded.guid.size(), 36u);
  // Opening the dialog writes nothing.
  EXPECT_EQ(ReadSetting("guid"), "");
}

TEST_F(ConfigDialogTest, FirstOkStoresEveryValueTheDialogShows) {
  ProviderSettings loaded = LoadConfigSettings();
  ASSERT_FALSE(AcceptConfigForm(loaded, filledForm()).has_value());
  const std::pair<const char*, std::string> expected[] = {
      {"username", "40"},        {"password", "secret"},
      {"domain", "example.com"}, {"address", "pbx.example.com"},
      {"port", "5061"},          {"encrypt", "0"},
      {"autooriginate", "1"},    {"loglevel", "0"},
      {"loglength", "1000"},     {"logfile", ""},
      {"guid", loaded.guid},     {"callevents", "0"},
      {"tlsversion", "1.0"},     {"clientcert", ""},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(ReadSetting(name), value) << name;
  // The process's own record follows.
  EXPECT_EQ(SettingsSnapshot().port, 5061);
  EXPECT_EQ(SettingsSnapshot().username, "40");
  // Reopened, the dialog shows what was stored and the guid stays.
  ProviderSettings reread = LoadConfigSettings();
  EXPECT_EQ(reread.guid, loaded.guid);
  EXPECT_EQ(MakeConfigForm(reread).port, "5061");
  EXPECT_FALSE(MakeConfigForm(reread).encrypt);
}

TEST_F(ConfigDialogTest, MismatchedPasswordsAreRefusedAndNothingIsStored) {
  ProviderSettings loaded = LoadConfigSettings();
  const std::pair<std::string, std::string> pairs[] = {
      {"secret", "Secret"}, {"secret", "secret "}, {"", "x"}, {"abc", "ab"}};
  for (const auto& [first, second] : pairs) {
    ConfigForm form = filledForm();
    form.password = first;
    form.passwordRepeat = second;
    auto refusal = AcceptConfigForm(loaded, form);
    ASSERT_TRUE(refusal.has_value()) << first << "/" << second;
    EXPECT_EQ(refusal->message, "The passwords do not match!");
    EXPECT_EQ(refusal->caption, "Error");
  }
  EXPECT_EQ(ReadSetting("username"), "");
  EXPECT_EQ(ReadSetting("guid"), "");
  EXPECT_EQ(SettingsSnapshot().username, "");
}

TEST_F(ConfigDialogTest, PortMustBeANumberFrom1To65535) {
  struct Case {
    const char* text;
    int port;  // 0: refused
  };
  const Case cases[] = {
      {"1", 1},   {"443", 443},   {"65535", 65535},   {"08080", 8080}, {" 80 ", 80},
      {"", 0},    {"0", 0},       {"65536", 0},       {"-1", 0},       {"+80", 0},
      {"abc", 0}, {"5060abc", 0}, {"99999999999", 0}, {"4 43", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = ParseConfigPort(c.text);
    EXPECT_EQ(parsed.value_or(0), c.port);
  }
  ProviderSettings loaded = LoadConfigSettings();
  ConfigForm form = filledForm();
  form.port = "";
  auto refusal = AcceptConfigForm(loaded, form);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->message, "The port must be a number from 1 to 65535.");
  EXPECT_EQ(ReadSetting("port"), "");
  EXPECT_EQ(ReadSetting("username"), "");
}

TEST_F(ConfigDialogTest, UntouchedPasswordFieldsKeepThePassword) {
  ProviderSettings stored;
  stored.password = "kept";
  stored.username = "41";
  ReplaceSettings(stored);
  WriteSettings();

  ProviderSettings loaded = LoadConfigSettings();
  ConfigForm form = MakeConfigForm(loaded);
  EXPECT_EQ(form.password, "kept");
  EXPECT_EQ(form.passwordRepeat, "kept");
  form.username = "42";
  ASSERT_FALSE(AcceptConfigForm(loaded, form).has_value());
  EXPECT_EQ(ReadSetting("password"), "kept");
  EXPECT_EQ(ReadSetting("username"), "42");
}

TEST_F(ConfigDialogTest, OkKeepsTheLogSettingsReadWhenTheDialogOpened) {
  ProviderSettings stored;
  stored.loglevel = 7;
  stored.loglength = 50;
  stored.logfile = "C:\\log.txt";
  stored.guid = "00000000-1111-4222-8333-444444444444";
  ReplaceSettings(stored);
  WriteSettings();
  ProviderSettings loaded = LoadConfigSettings();
  ASSERT_FALSE(AcceptConfigForm(loaded, filledForm()).has_value());
  EXPECT_EQ(ReadSetting("loglevel"), "7");
  EXPECT_EQ(ReadSetting("loglength"), "50");
  EXPECT_EQ(ReadSetting("logfile"), "C:\\log.txt");
  EXPECT_EQ(ReadSetting("guid"), "00000000-1111-4222-8333-444444444444");
}

// What each stored tlsversion shows as, and what OK stores when the choice
// is left alone or changed.
TEST_F(ConfigDialogTest, TlsVersionChoiceShowsTheStoredValueAndKeepsUnknownOnes) {
  struct Case {
    const char* stored;  // nullptr: not stored
    std::size_t shown;
    std::size_t picked;
    const char* written;
  };
  const Case cases[] = {
      {nullptr, 0, 0, "1.0"}, {"1.0", 0, 3, "auto"}, {"1.2", 1, 1, "1.2"},
      {"1.3", 2, 0, "1.0"},   {"auto", 3, 2, "1.3"}, {"1.1", 0, 0, "1.1"},
      {"AUTO", 0, 1, "1.2"},  {"", 0, 0, "1.0"},     {"1.1", 0, 99, "1.1"},  // no selection at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "(absent)");
    deleteProviderKeyForTesting();
    if (c.stored != nullptr) WriteSetting("tlsversion", c.stored);
    ProviderSettings loaded = LoadConfigSettings();
    ConfigForm form = MakeConfigForm(loaded);
    ASSERT_EQ(form.tlsVersionChoices,
              (std::vector<std::string>{"1.0 as in the first release", "1.2", "1.3", "best available"}));
    EXPECT_EQ(form.tlsVersion, c.shown);
    form.tlsVersion = c.picked;
    ASSERT_FALSE(AcceptConfigForm(loaded, form).has_value());
    EXPECT_EQ(ReadSetting("tlsversion"), c.written);
    EXPECT_EQ(SettingsSnapshot().tlsversion, c.written);
  }
}

TEST_F(ConfigDialogTest, ClientCertificateIsShownAndStoredAsTyped) {
  WriteSetting("clientcert", "store:0123456789abcdef0123456789abcdef01234567");
  ProviderSettings loaded = LoadConfigSettings();
  ConfigForm form = MakeConfigForm(loaded);
  EXPECT_EQ(form.clientcert, "store:0123456789abcdef0123456789abcdef01234567");
  form.clientcert = "C:\\certs\\tapi client.pem";
  ASSERT_FALSE(AcceptConfigForm(loaded, form).has_value());
  EXPECT_EQ(ReadSetting("clientcert"), "C:\\certs\\tapi client.pem");
  form.clientcert.clear();
  ASSERT_FALSE(AcceptConfigForm(LoadConfigSettings(), form).has_value());
  EXPECT_EQ(ReadSetting("clientcert"), "");
}

TEST_F(ConfigDialogTest, TextsAreCutTo255Characters) {
  ProviderSettings loaded = LoadConfigSettings();
  ConfigForm form = filledForm();
  form.username = std::string(300, 'u');
  // Equal within the 255 characters the dialog reads.
  form.password = std::string(255, 'p') + "a";
  form.passwordRepeat = std::string(255, 'p') + "b";
  ASSERT_FALSE(AcceptConfigForm(loaded, form).has_value());
  EXPECT_EQ(ReadSetting("username"), std::string(255, 'u'));
  EXPECT_EQ(ReadSetting("password"), std::string(255, 'p'));
}

}  // namespace
}  // namespace qv
