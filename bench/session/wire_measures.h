#pragma once
// What the live-link benches read off pbxsim and report.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/socket.h"
#include "session/csta_frame.h"
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

// A connected loopback pair for the references, closed with it.
struct LoopbackPair {
  LoopbackPair() {
    std::uint16_t port = 0;
    listener = listenTcp("127.0.0.1", 0, port);
    std::atomic<bool> never{false};
    client = connectTcp("127.0.0.1", std::to_string(port), never).socket;
    server = acceptConnection(listener);
  }
  ~LoopbackPair() {
    closeSocket(client);
    closeSocket(server);
    closeSocket(listener);
  }
  LoopbackPair(const LoopbackPair&) = delete;
  LoopbackPair& operator=(const LoopbackPair&) = delete;
  SocketHandle listener = kInvalidSocket;
  SocketHandle client = kInvalidSocket;
  SocketHandle server = kInvalidSocket;
};

// A frame the size of a MakeCall.
inline Bytes ReferenceFrame() { return *BuildCstaFrame(7, std::string(290, 'x')); }

// The reference of the MakeCall-to-wire benches: the frame sent on a
// loopback connection and read whole at the other end by the same thread.
inline void LoopbackSendAndReceive(benchmark::State& state) {
  LoopbackPair pair;
  const Bytes frame = ReferenceFrame();
  std::vector<double> micros;
  char buffer[4096];
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    sendAll(pair.client, frame);
    std::size_t got = 0;
    while (got < frame.size()) {
      long n = receiveSome(pair.server, buffer, sizeof buffer);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  Percentiles(state, micros);
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
