#pragma once
// pbxsim's traffic (--traffic, the `traffic` command): calls a second,
// started at random moments (exponential gaps) at devices chosen at random,
// half of them incoming and half dialled from the desk phone, each played
// through the call model: an outgoing call rings, is answered and hung up
// by the far end; an incoming call rings and, unless the phone answered it
// (AnswerCall), is given up by the caller, else hung up after a while. One
// thread of its own keeps every pending step.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace qv::pbxsim {

class CallSim;

// The device numbers of an inclusive range ("300-349"; equal-length ends
// keep their leading zeros); empty when the text is not such a range.
std::vector<std::string> DevicesOfRange(const std::string& range);

struct TrafficCounts {
  std::uint64_t incoming = 0;
  std::uint64_t outgoing = 0;
};

class Traffic {
 public:
  // devices: where calls start; empty: the call model's current device.
  Traffic(CallSim& calls, std::vector<std::string> devices, std::uint32_t seed = 1);
  ~Traffic();
  Traffic(const Traffic&) = delete;
  Traffic& operator=(const Traffic&) = delete;

  // Calls started a second; 0 stops starting new ones (those up go on).
  void SetRate(double callsPerSecond);
  TrafficCounts counts();

 private:
  using Clock = std::chrono::steady_clock;
  void Run();
  void StartCallLocked(Clock::time_point now);
  void AtLocked(Clock::time_point when, std::function<void()> step);
  Clock::duration BetweenLocked(double lowSeconds, double highSeconds);

  CallSim& calls_;
  const std::vector<std::string> devices_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::mt19937 random_;
  double rate_ = 0;
  Clock::time_point nextCall_{};
  std::multimap<Clock::time_point, std::function<void()>> steps_;
  TrafficCounts counts_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace qv::pbxsim
