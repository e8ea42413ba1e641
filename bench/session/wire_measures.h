#pragma once
// What the live-link benches read off pbxsim and report.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tools/pbxsim/pbx_simulator.h"

namespace qv::bench {

// p50, p99 and the maximum of `micros` (sorted in place) as counters, their
// names after `prefix`.
inline void Percentiles(benchmark::State& state, std::vector<double>& micros,
                        const std::string& prefix = "") {
  std::sort(micros.begin(), micros.end());
  auto pct = [&](double p) {
    return micros[static_cast<std::size_t>(p * static_cast<double>(micros.size() - 1))];
  };
  state.counters[prefix + "p50_us"] = pct(0.50);
  state.counters[prefix + "p99_us"] = pct(0.99);
  state.counters[prefix + "max_us"] = micros.back();
}

// The newest MakeCall pbxsim read with an invoke id above `after`.
inline const pbxsim::ReceivedFrame* NewMakeCall(const std::vector<pbxsim::ReceivedFrame>& frames,
                                                std::uint32_t after) {
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    if (it->root == "MakeCall") return it->invokeId > after ? &*it : nullptr;
  }
  return nullptr;
}

}  // namespace qv::bench
