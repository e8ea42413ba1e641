#pragma once
// A counting semaphore for the reader -> worker hand-over: one release per
// chunk received, one at shutdown.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qv {

class DataReady {
 public:
  void Release() {
    {
      std::lock_guard lock(mutex_);
      if (count_ < 0x7FFFFFFF) ++count_;
    }
    signal_.notify_one();
  }
  // True when a release was taken; false when the time ran out.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!signal_.wait_for(lock, timeout, [this] { return count_ > 0; })) return false;
    --count_;
    return true;
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    signal_.wait(lock, [this] { return count_ > 0; });
    --count_;
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    count_ = 0;
  }

 private:
  std::mutex mutex_;  // innermost: nothing else is taken while it is held
  std::condition_variable signal_;
  std::int32_t count_ = 0;
};

}  // namespace qv
