// Many lines over one link: the provider's exports with 1, 1 000 and 10 000
// listed lines against pbxsim.
//  - start-up over TLS to a pbxsim process of its own (so the RSS measured is
//    the provider's): TSPI_providerInit, the time until every line's monitor
//    runs, the RSS added per idle line, and a reconnect until every monitor
//    runs again;
//  - TSPI_lineGetDevCaps, TSPI_lineGetAddressCaps and TSPI_lineOpen on one
//    line of 1 and of 10 000;
//  - TSPI_lineMakeCall until pbxsim has read the frame, at 1 and 10 000
//    lines, each call made right after the previous one was closed, once
//    pbxsim has answered, or after a pause; references: a bare loopback send
//    and receive on one thread, and a send to a reader thread of its own.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/tapi.h"
#include "provider/line_set.h"
#include "session/csta_frame.h"
#include "session/line_monitors.h"
#include "session/session_timing.h"
#include "bench/session/lines_store.h"
#include "bench/session/pbx_process.h"
#include "bench/session/wire_measures.h"
#include "tools/pbxsim/pbx_simulator.h"

namespace qv {
namespace {

using namespace bench;

// Request ids are never reused within the process: completions are kept by id.
DRV_REQUESTID nextRequestId = 1;

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void BM_ListedLinesOverTls(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  SetSessionTiming(SessionTiming{});
  double initMs = 0, monitorsMs = 0, reconnectMs = 0, grownKiB = 0;
  for (auto _ : state) {
    PbxProcess pbx({"--tls", "--devices", Range(count)});
    if (pbx.port() == 0) {
      state.SkipWithError("pbxsim did not start");
      return;
    }
    WriteStore(pbx.port(), true, Range(count));
    const long before = ResidentKiB();
    const DWORD lines = Enumerate();
    DWORD options = 0;
    const auto start = Clock::now();
    TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, lines, 1, OnCompletion, &options);
    initMs = Ms(Clock::now() - start);
    if (!WaitMonitors(static_cast<std::size_t>(count), 60s))
      state.SkipWithError("monitors did not all start");
    monitorsMs = Ms(Clock::now() - start);
    grownKiB = static_cast<double>(ResidentKiB() - before);
    const auto drop = Clock::now();
    pbx.Command("drop");
    WaitMonitors(0, 10s);
    if (!WaitMonitors(static_cast<std::size_t>(count), 60s)) state.SkipWithError("monitors did not restart");
    reconnectMs = Ms(Clock::now() - drop);
    TSPI_providerShutdown(QV_TSPI_VERSION, 7);
  }
  state.counters["init_ms"] = initMs;
  state.counters["monitors_ms"] = monitorsMs;
  state.counters["reconnect_ms"] = reconnectMs;
  // Includes the link's own (TLS, buffers): the per-line figure is the
  // difference between two counts of lines.
  state.counters["rss_grown_kib"] = grownKiB;
}
BENCHMARK(BM_ListedLinesOverTls)->Arg(1)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

// One line's capability answers and open among 1 or 10 000 lines.
void BM_OneLineAmong(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  WriteStore(1, false, Range(count));
  Enumerate();
  const DWORD device = static_cast<DWORD>(count / 2);
  std::vector<std::uint32_t> dev(1024, 0), address(1024, 0);
  for (auto _ : state) {
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(dev.data());
    caps->dwTotalSize = 4096;
    benchmark::DoNotOptimize(TSPI_lineGetDevCaps(device, QV_TSPI_VERSION, 0, caps));
    auto* addressCaps = reinterpret_cast<LINEADDRESSCAPS*>(address.data());
    addressCaps->dwTotalSize = 4096;
    benchmark::DoNotOptimize(TSPI_lineGetAddressCaps(device, 0, QV_TSPI_VERSION, 0, addressCaps));
    HDRVLINE line = nullptr;
    benchmark::DoNotOptimize(TSPI_lineOpen(device, nullptr, &line, QV_TSPI_VERSION, nullptr));
    TSPI_lineClose(line);
  }
  BuildLineSet({}, {});
}
BENCHMARK(BM_OneLineAmong)->Arg(1)->Arg(10000)->Unit(benchmark::kNanosecond);

// TSPI_lineMakeCall on the middle line until pbxsim (in this process, plain
// TCP, as the single-line figure) has read the frame. Second argument: -1,
// the next call is made as soon as the previous one is closed, while pbxsim
// still answers that ClearConnection; 0, once pbxsim has answered everything
// it read; N > 0, that and then a pause of N ms, so the provider's threads
// have handled the previous call's answers and sleep (a user dialling).
void BM_ListedMakeCallToWire(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const long long pauseMs = state.range(1);
  SetSessionTiming(SessionTiming{});
  pbxsim::Options options;
  options.devices = Range(count);
  pbxsim::Simulator sim(options);
  sim.Start();
  WriteStore(sim.port(), false, Range(count));
  const DWORD lines = Enumerate();
  DWORD initOptions = 0;
  TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, lines, 1, OnCompletion, &initOptions);
  WaitMonitors(static_cast<std::size_t>(count), 60s);
  HDRVLINE line = nullptr;
  TSPI_lineOpen(static_cast<DWORD>(count / 2), nullptr, &line, QV_TSPI_VERSION, nullptr);
  const std::u16string number = u"+49 (30) 1234-5678";
  std::vector<double> micros, returns;
  DRV_REQUESTID& id = nextRequestId;
  std::uint32_t lastInvokeId = 0;
  for (auto _ : state) {
    HDRVCALL call = nullptr;
    const auto start = Clock::now();
    TSPI_lineMakeCall(id, line, reinterpret_cast<HTAPICALL>(std::uintptr_t{0x1000} + id), &call,
                      reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr);
    returns.push_back(Us(Clock::now() - start));
    Clock::time_point arrived{};
    sim.WaitFor(
        [&](const auto& frames) {
          const pbxsim::ReceivedFrame* f = NewMakeCall(frames, lastInvokeId);
          if (f == nullptr) return false;
          arrived = f->receivedAt;
          lastInvokeId = f->invokeId;
          return true;
        },
        5s);
    micros.push_back(Us(arrived - start));
    WaitCompletion(id);
    TSPI_lineCloseCall(call);
    if (pauseMs >= 0) sim.WaitUntilAnswered(5s);
    if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    ++id;
  }
  TSPI_lineClose(line);
  TSPI_providerShutdown(QV_TSPI_VERSION, 7);
  sim.Stop();
  Percentiles(state, micros);
  Percentiles(state, returns, "return_");
}
BENCHMARK(BM_ListedMakeCallToWire)
    ->ArgsProduct({{1, 10000}, {-1, 0, 1}})
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListedMakeCallToWire)
    ->ArgsProduct({{1, 10000}, {20}})
    ->Iterations(500)
    ->Unit(benchmark::kMicrosecond);

// The same with pbxsim as a process of its own (plain TCP): each call waits
// for its answer (and the pause in ms of the second argument after its
// close), then pbxsim tells when it read each MakeCall (the steady clock is
// the system's monotonic one, shared by both processes).
void BM_ListedMakeCallToPbxProcess(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  SetSessionTiming(SessionTiming{});
  PbxProcess pbx({"--devices", Range(count)});
  if (pbx.port() == 0) {
    state.SkipWithError("pbxsim did not start");
    return;
  }
  WriteStore(pbx.port(), false, Range(count));
  const DWORD lines = Enumerate();
  DWORD initOptions = 0;
  TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, lines, 1, OnCompletion, &initOptions);
  WaitMonitors(static_cast<std::size_t>(count), 60s);
  HDRVLINE line = nullptr;
  TSPI_lineOpen(static_cast<DWORD>(count / 2), nullptr, &line, QV_TSPI_VERSION, nullptr);
  const std::u16string number = u"+49 (30) 1234-5678";
  std::vector<Clock::time_point> starts;
  std::vector<double> returns;
  DRV_REQUESTID& id = nextRequestId;
  for (auto _ : state) {
    HDRVCALL call = nullptr;
    starts.push_back(Clock::now());
    TSPI_lineMakeCall(id, line, reinterpret_cast<HTAPICALL>(std::uintptr_t{0x1000} + id), &call,
                      reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr);
    returns.push_back(Us(Clock::now() - starts.back()));
    WaitCompletion(id);
    TSPI_lineCloseCall(call);
    if (state.range(1) > 0) std::this_thread::sleep_for(std::chrono::milliseconds(state.range(1)));
    ++id;
  }
  TSPI_lineClose(line);
  std::vector<double> micros;
  std::size_t i = 0;
  for (const std::string& text : pbx.Output("stamps MakeCall")) {
    long long ns = 0;
    unsigned invokeId = 0;
    if (std::sscanf(text.c_str(), "stamp %u %lld", &invokeId, &ns) != 2 || i >= starts.size()) continue;
    micros.push_back(static_cast<double>(ns - starts[i++].time_since_epoch().count()) / 1000.0);
  }
  TSPI_providerShutdown(QV_TSPI_VERSION, 7);
  if (micros.size() != starts.size()) {
    state.SkipWithError(("pbxsim read " + std::to_string(micros.size()) + " of the MakeCalls").c_str());
    return;
  }
  Percentiles(state, micros);
  Percentiles(state, returns, "return_");
}
BENCHMARK(BM_ListedMakeCallToPbxProcess)
    ->ArgsProduct({{1, 10000}, {0, 1}})
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

// Reference: a frame of the same size sent on a loopback connection and
// read whole at the other end, by the same thread.
void BM_LoopbackFrameReference(benchmark::State& state) { LoopbackSendAndReceive(state); }
BENCHMARK(BM_LoopbackFrameReference)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// Reference: the same frame sent to a thread of its own that reads it and
// tells the sender when it had it whole, as pbxsim's reader does; the
// argument is the pause in ms between frames, as for the MakeCalls.
void BM_LoopbackFrameToReaderThread(benchmark::State& state) {
  LoopbackPair pair;
  const SocketHandle client = pair.client, server = pair.server;
  const Bytes frame = ReferenceFrame();
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Clock::time_point> arrivals;
  std::thread reader([&] {
    char buffer[4096];
    std::size_t got = 0;
    for (;;) {
      const long n = receiveSome(server, buffer, sizeof buffer);
      if (n <= 0) return;
      got += static_cast<std::size_t>(n);
      if (got >= frame.size()) {
        got -= frame.size();
        std::lock_guard hold(lock);
        arrivals.push_back(Clock::now());
        changed.notify_all();
      }
    }
  });
  std::vector<double> micros;
  for (auto _ : state) {
    const auto start = Clock::now();
    sendAll(client, frame);
    {
      std::unique_lock hold(lock);
      changed.wait(hold, [&] { return arrivals.size() > micros.size(); });
      micros.push_back(Us(arrivals.back() - start));
    }
    if (state.range(0) > 0) std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
  }
  abortSocket(server);
  reader.join();
  Percentiles(state, micros);
}
BENCHMARK(BM_LoopbackFrameToReaderThread)->Arg(0)->Arg(1)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoopbackFrameToReaderThread)->Arg(20)->Iterations(500)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
