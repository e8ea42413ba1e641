#pragma once
// What the wine call-control programs share: the native pbxsim that
// wine_cti.sh started is reached through its record file (the frames it
// received, JSON lines) and its command file (appended to, read by pbxsim).
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/tapi.h"
#include "session/session_timing.h"
#include "session/settings.h"
#include "tests/cti/line_recorder.h"

namespace qv::wine {

using namespace std::chrono_literals;

inline std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? std::string(v) : std::string();
}

// The frames pbxsim recorded, as text.
inline std::string Record() {
  std::ifstream in(env("QV_PBX_RECORD"), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
  return n;
}

// pbxsim is another process: its record file is watched until it shows the
// frame `count` times (or the time is up).
inline bool WaitRecord(const std::string& what, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (Count(Record(), what) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

inline void Command(const std::string& line) {
  std::ofstream out(env("QV_PBX_COMMANDS"), std::ios::binary | std::ios::app);
  out << line << "\n";
}

// The call-control line of extension 201 on pbxsim, plain TCP.
inline void WriteCallControlSettings() {
  SessionTiming t;
  t.completionTimeout = 5000ms;
  SetSessionTiming(t);
  WriteSetting("username", "201");
  WriteSetting("password", "secret");
  WriteSetting("domain", "office");
  WriteSetting("address", "127.0.0.1");
  WriteSetting("port", env("QV_PBX_PORT"));
  WriteSetting("encrypt", "0");
  WriteSetting("loglevel", "5");
  WriteSetting("callevents", "1");
}

// The request returned its id and completed; its result.
inline LONG Complete(DRV_REQUESTID id, LONG returned) {
  EXPECT_EQ(returned, static_cast<LONG>(id));
  LONG result = 1;
  EXPECT_TRUE(recorder().WaitCompletion(id, result, 10s)) << "no completion for " << id;
  return result;
}

}  // namespace qv::wine
