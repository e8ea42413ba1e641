#pragma once
// What the listed-lines benches share: the registry file they write, the
// provider's start and the completions TAPI would receive.
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/tapi.h"
#include "session/line_monitors.h"

namespace qv::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
inline double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

inline std::filesystem::path StorePath() {
  static std::filesystem::path path = [] {
    auto dir = std::filesystem::temp_directory_path() / "qv-lines-bench";
    std::filesystem::create_directories(dir);
    auto file = dir / "registry.reg";
    setenv("QUORVELONE_REGISTRY", file.string().c_str(), 1);
    return file;
  }();
  return path;
}

// Five-digit extensions, so every range has numbers of one length.
inline std::string Range(int count) { return "10000-" + std::to_string(10000 + count - 1); }

inline void WriteStore(std::uint16_t port, bool encrypt, const std::string& lines,
                       const std::vector<std::pair<std::string, std::string>>& extra = {}) {
  std::ofstream out(StorePath(), std::ios::binary | std::ios::trunc);
  auto value = [&](const std::string& name, const std::string& v) {
    out << "\"" << name << "\"=\"" << v << "\"\r\n";
  };
  out << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n";
  value("username", "201");
  value("password", "secret");
  value("domain", "office");
  value("address", "127.0.0.1");
  value("port", std::to_string(port));
  value("encrypt", encrypt ? "1" : "0");
  // Logging off unless asked for (QV_BENCH_LOG=file): the figures are the link's.
  const char* log = std::getenv("QV_BENCH_LOG");
  value("loglevel", log != nullptr ? "5" : "0");
  value("logfile", log != nullptr ? log : "");
  if (log != nullptr) value("loglength", "100000000");
  value("guid", "6ba7b810-9dad-11d1-80b4-00c04fd430c8");
  value("lines", lines);
  for (const auto& [name, v] : extra) value(name, v);
  out << "\r\n";
}

struct Completions {
  std::mutex lock;
  std::condition_variable changed;
  std::map<DRV_REQUESTID, LONG> results;
};
inline Completions& completions() {
  static Completions c;
  return c;
}
inline void TSPIAPI OnCompletion(DRV_REQUESTID id, LONG result) {
  Completions& c = completions();
  {
    std::lock_guard l(c.lock);
    c.results[id] = result;
  }
  c.changed.notify_all();
}
inline bool WaitCompletion(DRV_REQUESTID id) {
  Completions& c = completions();
  std::unique_lock l(c.lock);
  return c.changed.wait_for(l, 5s, [&] { return c.results.count(id) != 0; });
}

inline DWORD Enumerate() {
  DWORD lines = 0, phones = 0;
  TSPI_providerEnumDevices(7, &lines, &phones, nullptr, nullptr, nullptr);
  return lines;
}

inline bool WaitMonitors(std::size_t count, Clock::duration limit) {
  const auto until = Clock::now() + limit;
  while (RunningLineMonitors() != count) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(200us);
  }
  return true;
}

}  // namespace qv::bench
