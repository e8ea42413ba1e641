// The installer run as a program, its output read back byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/provider_registry.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace qv {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// The C runtime's text mode turns each "\r\n" into CR CR LF.
const std::string kEnd = "\r\r\n";
#else
const std::string kEnd = "\r\n";
#endif

void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct RunResult {
  int exitCode = 0;
  std::string out;
  std::string err;
};

enum class Tapi { ours, wineStub, withoutNarrowList };

class InstallerRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("qv-installer-" + std::string(info->name()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
#ifndef _WIN32
    setEnv("QUORVELONE_REGISTRY", (dir_ / "registry.reg").string());
#endif
    setEnv("QV_TAPI32_ADD_RESULT", "");
    // Every test starts from an empty provider list.
    ASSERT_EQ(UpdateProviderRegistry([](ProviderRegistry& r) {
                r = ProviderRegistry{};
                return true;
              }),
              ProviderRegistryStatus::ok);
  }
  void TearDown() override {
    // Later tests in the same wine prefix start from an empty list too.
    UpdateProviderRegistry([](ProviderRegistry& r) {
      r = ProviderRegistry{};
      return true;
    });
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  static void SetUpTestSuite() {
#ifdef _WIN32
    // Prefer a tapi32.dll found beside the program; where there is none
    // (stub\), wine's builtin one loads.
    ASSERT_EQ(
        std::system("reg add HKCU\\Software\\Wine\\DllOverrides /v tapi32 /d native,builtin /f >NUL 2>NUL"),
        0);
#endif
  }
  static void TearDownTestSuite() {
#ifdef _WIN32
    std::system("reg delete HKCU\\Software\\Wine\\DllOverrides /v tapi32 /f >NUL 2>NUL");
#endif
  }

  static std::string program(Tapi tapi) {
#ifdef _WIN32
    if (tapi == Tapi::withoutNarrowList) return "nolist\\installer.exe";
    return tapi == Tapi::ours ? "double\\installer.exe" : "stub\\installer.exe";
#else
    // The library path is searched before the program's own run path.
    if (tapi == Tapi::withoutNarrowList)
      return std::string("LD_LIBRARY_PATH=") + QV_NOLIST_DIR + " " + QV_INSTALLER_PATH;
    return QV_INSTALLER_PATH;
#endif
  }

  RunResult run(const std::string& arguments, Tapi tapi = Tapi::ours) const {
    const fs::path out = dir_ / "out.txt";
    const fs::path err = dir_ / "err.txt";
    const std::string command = program(tapi) + (arguments.empty() ? "" : " " + arguments) + " >\"" +
                                out.string() + "\" 2>\"" + err.string() + "\"";
    RunResult result;
    int status = std::system(command.c_str());
#ifdef _WIN32
    result.exitCode = status;
#else
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
#endif
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
  }

  static void seed(const ProviderRegistry& registry) {
    ASSERT_EQ(UpdateProviderRegistry([&](ProviderRegistry& r) {
                r = registry;
                return true;
              }),
              ProviderRegistryStatus::ok);
  }

  static ProviderRegistry stored() {
    ProviderRegistry registry;
    EXPECT_EQ(LoadProviderRegistry(registry), ProviderRegistryStatus::ok);
    return registry;
  }

  fs::path dir_;
};

TEST_F(InstallerRunTest, InstallListUninstallRoundTrip) {
  RunResult install = run("");
  EXPECT_EQ(install.exitCode, 0);
  EXPECT_EQ(install.out, "");
  EXPECT_EQ(install.err, "");
  ProviderRegistry registry = stored();
  ASSERT_EQ(registry.providers.size(), 1u);
  EXPECT_EQ(registry.providers[0].fileName, "quorvelone.tsp");
  const std::string id = std::to_string(registry.providers[0].permanentProviderId);

  RunResult again = run("");
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.err, "TSP already installed." + kEnd);
  EXPECT_EQ(stored().providers.size(), 1u);

  RunResult list = run("/List");
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_EQ(list.out, "Provider " + id + ": quorvelone.tsp" + kEnd);
  EXPECT_EQ(list.err, "");

  RunResult remove = run("/Uninstall");
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.err, "");
  EXPECT_TRUE(stored().providers.empty());

  RunResult absent = run("/Uninstall");
  EXPECT_EQ(absent.exitCode, 0);
  EXPECT_EQ(absent.err, "TSP not found." + kEnd);
}

TEST_F(InstallerRunTest, ArgumentsAndFileNamesCompareWithoutCase) {
  seed({10, {{3, "modem.tsp"}, {7, "QuorvelOne.TSP"}, {9, "other.tsp"}}});
  EXPECT_EQ(run("").err, "TSP already installed." + kEnd);

  const std::string listing =
      "Provider 3: modem.tsp" + kEnd + "Provider 7: QuorvelOne.TSP" + kEnd + "Provider 9: other.tsp" + kEnd;
  for (const char* argument : {"/List", "/list", "/LIST", "/lIsT"}) {
    SCOPED_TRACE(argument);
    RunResult list = run(argument);
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, listing);
  }
  // The list is longer than the fixed part, so removal fetches it twice.
  RunResult remove = run("/uninstall");
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.err, "");
  ProviderRegistry left = stored();
  ASSERT_EQ(left.providers.size(), 2u);
  EXPECT_EQ(left.providers[0].fileName, "modem.tsp");
  EXPECT_EQ(left.providers[1].fileName, "other.tsp");
  EXPECT_EQ(run("/UNINSTALL").err, "TSP not found." + kEnd);
}

TEST_F(InstallerRunTest, OnlyTheFirstArgumentCountsAndOthersGetTheUsage) {
  RunResult list = run("/List /Uninstall");
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_EQ(list.out, "");

  for (const char* argument : {"/Remove", "/Lis", "List", "/Uninstall2"}) {
    SCOPED_TRACE(argument);
    RunResult usage = run(argument);
    EXPECT_EQ(usage.exitCode, 1);
    EXPECT_EQ(usage.out, "");
    EXPECT_EQ(usage.err.rfind("Usage: ", 0), 0u) << usage.err;
    const std::string tail = "installer" +
                             std::string(
#ifdef _WIN32
                                 ".exe"
#endif
                                 ) +
                             " [/Uninstall] [/List]" + kEnd;
    ASSERT_GE(usage.err.size(), tail.size());
    EXPECT_EQ(usage.err.substr(usage.err.size() - tail.size()), tail);
  }
#ifndef _WIN32
  EXPECT_EQ(run("/x").err, std::string("Usage: ") + QV_INSTALLER_PATH + " [/Uninstall] [/List]" + kEnd);
#endif
  EXPECT_TRUE(stored().providers.empty());
}

TEST_F(InstallerRunTest, EveryAddProviderResultHasItsMessageAndExitCode) {
  struct Case {
    const char* code;
    const char* message;
    int exitCode;
  };
  const Case cases[] = {
      {"8000000E", "TSP LINEERR_INIFILECORRUPT.", 0},  {"80000032", "TSP LINEERR_INVALPARAM.", 0},
      {"80000035", "TSP LINEERR_INVALPOINTER.", 0},    {"80000044", "TSP LINEERR_NOMEM.", 0},
      {"80000048", "TSP LINEERR_OPERATIONFAILED.", 0}, {"80000056", "TSP already installed.", 0},
      {"80000001", "TSP could not be installed.", 1},  {"00000001", "TSP could not be installed.", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    setEnv("QV_TAPI32_ADD_RESULT", c.code);
    RunResult install = run("");
    EXPECT_EQ(install.exitCode, c.exitCode);
    EXPECT_EQ(install.err, c.message + kEnd);
    EXPECT_EQ(install.out, "");
  }
  setEnv("QV_TAPI32_ADD_RESULT", "");
  EXPECT_TRUE(stored().providers.empty());
}

TEST_F(InstallerRunTest, RemovalEndsAtOnceWithoutTheRunTimeFunction) {
  seed({2, {{1, "quorvelone.tsp"}}});
  RunResult remove = run("/Uninstall", Tapi::withoutNarrowList);
#ifdef _WIN32
  EXPECT_EQ(remove.exitCode, -1);
#else
  EXPECT_EQ(remove.exitCode, 255);
#endif
  EXPECT_EQ(remove.out, "");
  EXPECT_EQ(remove.err, "");
  EXPECT_EQ(stored().providers.size(), 1u);
  // The other commands do not need it.
  EXPECT_EQ(run("/List", Tapi::withoutNarrowList).out, "Provider 1: quorvelone.tsp" + kEnd);
}

#ifdef _WIN32
// Wine's own tapi32.dll fails every provider function.
TEST_F(InstallerRunTest, AgainstWinesStubEveryCallFails) {
  RunResult install = run("", Tapi::wineStub);
  EXPECT_EQ(install.exitCode, 0);
  EXPECT_EQ(install.err, "TSP LINEERR_OPERATIONFAILED." + kEnd);
  RunResult list = run("/List", Tapi::wineStub);
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_EQ(list.out, "");
  RunResult remove = run("/Uninstall", Tapi::wineStub);
  EXPECT_EQ(remove.exitCode, 0);
  EXPECT_EQ(remove.err, "TSP not found." + kEnd);
  EXPECT_TRUE(stored().providers.empty());
}
#endif

}  // namespace
}  // namespace qv
