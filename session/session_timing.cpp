#include "session/session_timing.h"

#include <mutex>

namespace qv {

namespace {
std::mutex timingLock;
SessionTiming currentTiming;
}  // namespace

SessionTiming CurrentSessionTiming() {
  std::lock_guard lock(timingLock);
  return currentTiming;
}

void SetSessionTiming(const SessionTiming& timing) {
  std::lock_guard lock(timingLock);
  currentTiming = timing;
}

}  // namespace qv
