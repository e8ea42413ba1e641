// pbxsim's traffic: calls spread over the devices, both directions, each
// played to its end through the call model.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/pbxsim/call_model.h"
#include "tools/pbxsim/traffic.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

TEST(PbxsimTraffic, DevicesOfARange) {
  struct Case {
    const char* range;
    std::vector<std::string> devices;
  };
  const Case cases[] = {
      {"300-302", {"300", "301", "302"}},
      {"098-101", {"098", "099", "100", "101"}},
      {"98-101", {"98", "99", "100", "101"}},
      {"205", {"205"}},
      {"5-3", {}},
      {"30x-302", {}},
      {"", {}},
      {"0-100000", {}},  // more than a PBX of ours has
  };
  for (const Case& c : cases) EXPECT_EQ(pbxsim::DevicesOfRange(c.range), c.devices) << c.range;
}

// The element text after `name>` in a frame.
std::string Text(const std::string& frame, const std::string& name) {
  const std::size_t at = frame.find(name + ">");
  if (at == std::string::npos) return {};
  const std::size_t from = at + name.size() + 1;
  return frame.substr(from, frame.find('<', from) - from);
}

TEST(PbxsimTraffic, CallsOverEveryDeviceBothWaysEachToItsEnd) {
  std::mutex lock;
  std::condition_variable changed;
  std::map<std::string, int> cleared;  // callID -> ConnectionClearedEvents
  std::set<std::string> started, incomingAt, outgoingAt;
  pbxsim::CallSim calls([&](const std::vector<std::string>& frames) {
    std::lock_guard l(lock);
    for (const std::string& f : frames) {
      const std::string id = Text(f, "callID");
      if (f.find("ConnectionClearedEvent") != std::string::npos) ++cleared[id];
      if (f.find("alertingDevice") != std::string::npos && f.find("newCall") != std::string::npos &&
          f.find("localConnectionInfo>alerting") != std::string::npos) {
        started.insert(id);
        incomingAt.insert(Text(f, "deviceID"));
      }
      if (f.find("ServiceInitiatedEvent") != std::string::npos) {
        started.insert(id);
        outgoingAt.insert(Text(f, "deviceID"));
      }
    }
    changed.notify_all();
  });
  pbxsim::Traffic traffic(calls, {"301", "302", "303"}, 7);
  traffic.SetRate(400);
  {
    std::unique_lock l(lock);
    ASSERT_TRUE(changed.wait_for(l, 10s, [&] { return incomingAt.size() == 3 && outgoingAt.size() == 3; }));
  }
  traffic.SetRate(0);
  const pbxsim::TrafficCounts n = traffic.counts();
  EXPECT_GT(n.incoming, 0u);
  EXPECT_GT(n.outgoing, 0u);
  // Every call ends: the far end's side and the device's side cleared.
  std::unique_lock l(lock);
  EXPECT_TRUE(changed.wait_for(l, 15s,
                               [&] {
                                 if (started.size() < n.incoming + n.outgoing) return false;
                                 for (const std::string& id : started) {
                                   if (cleared[id] != 2) return false;
                                 }
                                 return true;
                               }))
      << started.size() << " calls";
}

}  // namespace
}  // namespace qv
