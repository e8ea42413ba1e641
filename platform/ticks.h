#pragma once
// Millisecond tick counters since an arbitrary start (system boot on Windows).
#include <cstdint>

namespace qv {

// Never wraps in practice.
std::uint64_t tickCount64();
// Wraps every 49.7 days; compare with wrap-safe subtraction only.
std::uint32_t tickCount32();

}  // namespace qv
