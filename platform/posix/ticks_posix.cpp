#include "platform/ticks.h"

#include <time.h>

namespace qv {

std::uint64_t tickCount64() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::uint32_t tickCount32() { return static_cast<std::uint32_t>(tickCount64()); }

}  // namespace qv
