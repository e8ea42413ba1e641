#include "tools/pbxsim/traffic.h"

#include <utility>

#include "tools/pbxsim/call_model.h"

namespace qv::pbxsim {

std::vector<std::string> DevicesOfRange(const std::string& range) {
  const std::size_t dash = range.find('-');
  const std::string first = range.substr(0, dash);
  const std::string last = dash == std::string::npos ? first : range.substr(dash + 1);
  auto number = [](const std::string& text, unsigned long long& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned long long>(c - '0');
    }
    return true;
  };
  unsigned long long low = 0, high = 0;
  std::vector<std::string> out;
  if (!number(first, low) || !number(last, high) || high < low || high - low >= 100000) return out;
  const std::size_t width = first.size() == last.size() ? first.size() : 0;
  for (unsigned long long n = low; n <= high; ++n) {
    std::string text = std::to_string(n);
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    out.push_back(std::move(text));
  }
  return out;
}

Traffic::Traffic(CallSim& calls, std::vector<std::string> devices, std::uint32_t seed)
    : calls_(calls), devices_(std::move(devices)), random_(seed) {
  thread_ = std::thread(&Traffic::Run, this);
}

Traffic::~Traffic() {
  {
    std::lock_guard lock(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Traffic::SetRate(double callsPerSecond) {
  {
    std::lock_guard lock(lock_);
    rate_ = callsPerSecond > 0 ? callsPerSecond : 0;
    nextCall_ = Clock::now();
  }
  wake_.notify_all();
}

TrafficCounts Traffic::counts() {
  std::lock_guard lock(lock_);
  return counts_;
}

Traffic::Clock::duration Traffic::BetweenLocked(double lowSeconds, double highSeconds) {
  std::uniform_real_distribution<double> seconds(lowSeconds, highSeconds);
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds(random_)));
}

void Traffic::AtLocked(Clock::time_point when, std::function<void()> step) {
  steps_.emplace(when, std::move(step));
}

void Traffic::StartCallLocked(Clock::time_point now) {
  const std::string device =
      devices_.empty()
          ? std::string()
          : devices_[std::uniform_int_distribution<std::size_t>(0, devices_.size() - 1)(random_)];
  const bool incoming = (random_() & 1) != 0;
  const std::string far = "+49305550" + std::to_string(random_() % 10000);
  const auto ring = BetweenLocked(0.5, 2.0);
  const auto talk = BetweenLocked(1.0, 5.0);
  // The first step goes out at once, from the traffic thread, without the lock.
  AtLocked(now, [this, device, incoming, far, ring, talk] {
    if (incoming) {
      const std::string id = calls_.IncomingCall(far, "Traffic", device);
      std::lock_guard lock(lock_);
      ++counts_.incoming;
      AtLocked(Clock::now() + ring, [this, id, talk] {
        // Not answered at the phone: the caller gives up.
        if (calls_.LocalState(id) != "connected") return calls_.FarEndHangsUp(id);
        std::lock_guard lock(lock_);
        AtLocked(Clock::now() + talk, [this, id] { calls_.FarEndHangsUp(id); });
      });
    } else {
      const std::string id = calls_.DeskPhoneCall(far, device);
      std::lock_guard lock(lock_);
      ++counts_.outgoing;
      AtLocked(Clock::now() + ring, [this, id, talk] {
        calls_.FarEndAnswers(id);
        std::lock_guard lock(lock_);
        AtLocked(Clock::now() + talk, [this, id] { calls_.FarEndHangsUp(id); });
      });
    }
  });
}

void Traffic::Run() {
  std::unique_lock lock(lock_);
  while (!stopping_) {
    const Clock::time_point now = Clock::now();
    if (rate_ > 0 && nextCall_ <= now) {
      StartCallLocked(now);
      std::exponential_distribution<double> gap(rate_);
      nextCall_ += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gap(random_)));
      continue;
    }
    if (!steps_.empty() && steps_.begin()->first <= now) {
      std::function<void()> step = std::move(steps_.begin()->second);
      steps_.erase(steps_.begin());
      lock.unlock();
      step();
      lock.lock();
      continue;
    }
    Clock::time_point until = now + std::chrono::seconds(1);
    if (rate_ > 0) until = std::min(until, nextCall_);
    if (!steps_.empty()) until = std::min(until, steps_.begin()->first);
    wake_.wait_until(lock, until);
  }
}

}  // namespace qv::pbxsim
