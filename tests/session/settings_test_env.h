#pragma once
// Test scaffolding shared by the foundation tests: a scratch folder, a
// throw-away registry store (Linux) or key (Windows), and a controllable log.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/registry.h"
#include "session/log.h"
#include "session/settings.h"

namespace qv::testing_support {

inline std::atomic<std::uint64_t> fakeTicks{1000};
inline std::uint64_t fakeClock() { return fakeTicks.load(); }

inline void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline std::filesystem::path makeScratchDir() {
  std::random_device rd;
  auto dir =
      std::filesystem::temp_directory_path() / ("qv-test-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The line end the C runtime's text-mode stream leaves on disk after "\r\n".
inline std::string diskLineEnd() {
#ifdef _WIN32
  return "\r\r\n";
#else
  return "\r\n";
#endif
}

// Each test gets a fresh scratch folder, registry store/key, default
// settings and a log that starts afresh on the fake clock.
class FoundationTest {
 public:
  FoundationTest() {
    dir = makeScratchDir();
    setEnv("QUORVELONE_REGISTRY", (dir / "registry.reg").string());
    deleteProviderKeyForTesting();
    ReplaceSettings(ProviderSettings{});
    fakeTicks = 1000;
    setLogClockForTesting(&fakeClock);
    resetLogForTesting();
  }
  ~FoundationTest() {
    resetLogForTesting();
    setLogClockForTesting(nullptr);
    ReplaceSettings(ProviderSettings{});
    deleteProviderKeyForTesting();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  // Logging on at the given level into dir/log.txt.
  std::filesystem::path enableLog(int level, int length = 1000) {
    ProviderSettings s = SettingsSnapshot();
    s.loglevel = level;
    s.loglength = length;
    s.logfile = (dir / "log.txt").string();
    ReplaceSettings(s);
    return dir / "log.txt";
  }
  std::string logText() { return readFile(dir / "log.txt"); }

  std::filesystem::path dir;
};

}  // namespace qv::testing_support
