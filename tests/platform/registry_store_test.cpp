// The Linux registry store: a file shared by processes, replaced atomically.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/session/settings_test_env.h"

namespace qv {
namespace {

using testing_support::readFile;
using testing_support::setEnv;
using testing_support::writeFile;

class RegistryStoreTest : public ::testing::Test, public testing_support::FoundationTest {
 protected:
  std::filesystem::path store() { return dir / "registry.reg"; }
};

std::string sz(const std::string& text) { return text + '\0'; }

TEST_F(RegistryStoreTest, MissingStoreIsAMissingKeyAndFirstWriteCreatesIt) {
  EXPECT_EQ(readProviderValue("port").status, RegistryStatus::keyUnavailable);
  setEnv("QUORVELONE_REGISTRY", (dir / "sub" / "registry.reg").string());
  ASSERT_EQ(writeProviderValue("port", kRegSz, sz("443")), RegistryWriteStatus::ok);
  RegistryValue v = readProviderValue("port");
  EXPECT_EQ(v.status, RegistryStatus::ok);
  EXPECT_EQ(v.data, sz("443"));
  EXPECT_EQ(readProviderValue("other").status, RegistryStatus::valueUnavailable);
  auto perms = std::filesystem::status(dir / "sub" / "registry.reg").permissions();
  EXPECT_EQ(perms & std::filesystem::perms::others_read, std::filesystem::perms::none);  // holds a password
}

TEST_F(RegistryStoreTest, OtherKeysSurviveWrites) {
  std::string head =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"x\"=hex:01,02,\\\r\n  03\r\n\r\n";
  writeFile(store(), head + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"port\"=\"1\"\r\n");
  ASSERT_EQ(writeProviderValue("port", kRegSz, sz("2")), RegistryWriteStatus::ok);
  ASSERT_EQ(writeProviderValue("domain", kRegSz, sz("d")), RegistryWriteStatus::ok);
  std::string text = readFile(store());
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(readProviderValue("port").data, sz("2"));
  EXPECT_EQ(readProviderValue("domain").data, sz("d"));
}

TEST_F(RegistryStoreTest, CorruptStoreReadsAsMissingAndIsNeverOverwritten) {
  const std::string corrupt =
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n"
      "\"username\"=\"40\"\r\n\"port\"=\"44\r\n";
  writeFile(store(), corrupt);
  RegistryValue v = readProviderValue("username");
  EXPECT_EQ(v.status, RegistryStatus::storeCorrupt);
  EXPECT_NE(v.problem.find("line 4"), std::string::npos) << v.problem;
  EXPECT_EQ(writeProviderValue("username", kRegSz, sz("41")), RegistryWriteStatus::keyUnavailable);
  EXPECT_EQ(readFile(store()), corrupt);

  writeFile(store(), std::string(5 * 1024 * 1024, 'x'));  // far beyond any store: bounded read
  EXPECT_EQ(readProviderValue("username").status, RegistryStatus::storeCorrupt);
}

TEST_F(RegistryStoreTest, SettingsOverACorruptStoreReportAndKeepNumbers) {
  auto logPath = enableLog(7);
  const std::string corrupt =
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n"
      "\"port\"=\"5060\"\r\nport=5061\r\n";
  writeFile(store(), corrupt);
  ReadSettings();
  EXPECT_EQ(SettingsSnapshot().port, 443);  // reads as missing, no partial values
  WriteSetting("port", "1");
  EXPECT_EQ(readFile(store()), corrupt);
  std::string log = readFile(logPath);
  EXPECT_NE(log.find("]:1 Cannot open registry for reading: " + store().string() + ": "), std::string::npos)
      << log;
  EXPECT_NE(log.find("]:7 WriteSetting: Could not access registry: SOFTWARE\\quorvelone\\tapi\r"),
            std::string::npos)
      << log;
}

TEST_F(RegistryStoreTest, NoTemporaryFilesLeftBehind) {
  for (int i = 0; i < 5; ++i) writeProviderValue("v" + std::to_string(i), kRegSz, sz("x"));
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
    ++files;
  }
  EXPECT_EQ(files, 2);
}

// Two processes writing different values at once: every value survives.
TEST_F(RegistryStoreTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
  constexpr int kPerProcess = 40;
  pid_t children[2];
  for (int p = 0; p < 2; ++p) {
    children[p] = fork();
    ASSERT_GE(children[p], 0);
    if (children[p] == 0) {
      bool ok = true;
      for (int i = 0; i < kPerProcess; ++i) {
        std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
        ok = writeProviderValue(name, kRegSz, sz(name + "-value")) == RegistryWriteStatus::ok && ok;
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < 2; ++p) {
    for (int i = 0; i < kPerProcess; ++i) {
      std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
      RegistryValue v = readProviderValue(name);
      EXPECT_EQ(v.status, RegistryStatus::ok) << name;
      EXPECT_EQ(v.data, sz(name + "-value")) << name;
    }
  }
}

}  // namespace
}  // namespace qv
