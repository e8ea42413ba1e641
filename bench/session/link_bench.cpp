// The live PBX link: the provider's exports with the session's reader,
// writer and worker threads over loopback TCP to pbxsim.
//  - the longest time an entry point takes while the PBX misbehaves, each
//    fault mode against a healthy PBX as the reference;
//  - TSPI_lineMakeCall until its frame is read by pbxsim, against a bare
//    loopback send/receive of the same size as the reference;
//  - events per second through TCP, reader and worker, against the worker's
//    dispatch alone (in memory) as the reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/tapi.h"
#include "session/csta_frame.h"
#include "session/csta_responses.h"
#include "session/session_timing.h"
#include "session/settings.h"
#include "bench/session/wire_measures.h"
#include "tools/pbxsim/pbx_simulator.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
using bench::NewMakeCall;
using bench::Percentiles;
using namespace std::chrono_literals;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

std::filesystem::path StorePath() {
  static std::filesystem::path path = [] {
    auto dir = std::filesystem::temp_directory_path() / "qv-link-bench";
    std::filesystem::create_directories(dir);
    auto file = dir / "registry.reg";
    setenv("QUORVELONE_REGISTRY", file.string().c_str(), 1);
    return file;
  }();
  return path;
}

// Logging off: the figures are the link's, not the log's.
void WriteStore(std::uint16_t port, bool encrypt) {
  std::ofstream out(StorePath(), std::ios::binary | std::ios::trunc);
  auto value = [&](const std::string& name, const std::string& v) {
    out << "\"" << name << "\"=\"" << v << "\"\r\n";
  };
  out << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n";
  value("username", "201");
  value("password", "secret");
  value("domain", "office");
  value("address", "127.0.0.1");
  value("port", std::to_string(port));
  value("encrypt", encrypt ? "1" : "0");
  value("autooriginate", "0");
  value("loglevel", "0");
  value("logfile", "");
  out << "\r\n";
}

struct Completions {
  std::mutex lock;
  std::condition_variable changed;
  std::map<DRV_REQUESTID, LONG> results;
  bool Wait(DRV_REQUESTID id, Clock::duration limit) {
    std::unique_lock l(lock);
    return changed.wait_for(l, limit, [&] { return results.count(id) != 0; });
  }
};
Completions completions;

void OnCompletion(DRV_REQUESTID id, LONG result) {
  {
    std::lock_guard l(completions.lock);
    completions.results[id] = result;
  }
  completions.changed.notify_all();
}

HDRVLINE line = nullptr;

Clock::duration Init() {
  {
    std::lock_guard l(completions.lock);
    completions.results.clear();
  }
  DWORD options = 0;
  auto start = Clock::now();
  TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, 1, 1, OnCompletion, &options);
  auto took = Clock::now() - start;
  TSPI_lineOpen(0, reinterpret_cast<HTAPILINE>(std::uintptr_t{1}), &line, QV_TSPI_VERSION, nullptr);
  return took;
}

Clock::duration Shutdown() {
  auto start = Clock::now();
  TSPI_providerShutdown(QV_TSPI_VERSION, 7);
  return Clock::now() - start;
}

LONG MakeCall(DRV_REQUESTID id, const std::u16string& number, HDRVCALL* call) {
  return TSPI_lineMakeCall(id, line, reinterpret_cast<HTAPICALL>(std::uintptr_t{0x1000} + id), call,
                           reinterpret_cast<LPCWSTR>(number.c_str()), 0, nullptr);
}

// A port whose listener queue is full: SYNs are dropped.
struct BlackHole {
  SocketHandle listener = kInvalidSocket;
  std::vector<SocketHandle> fillers;
  std::uint16_t port = 0;
  BlackHole() {
    listener = listenTcp("127.0.0.1", 0, port);
    std::atomic<bool> never{false};
    for (int i = 0; i < 256; ++i) {
      ConnectResult r = connectTcp("127.0.0.1", std::to_string(port), never, 300);
      if (r.status != 0) break;
      fillers.push_back(r.socket);
    }
  }
  ~BlackHole() {
    for (SocketHandle s : fillers) closeSocket(s);
    closeSocket(listener);
  }
};

enum Mode {
  kHealthy,
  kSilent,
  kStopReading,
  kStall,
  kGarbage,
  kAlertThenSilence,
  kAlertAndClose,
  kCloseAfterAccept,
  kRefused,
  kBlackHoled,
};

const char* ModeName(int mode) {
  static const char* names[] = {"healthy (reference)", "silent after accept", "stops reading",
                                "stall mid-frame",     "garbage answers",     "fatal alert, then silence",
                                "alert and close",     "close after accept",  "refused",
                                "black-holed"};
  return names[mode];
}

// Init, 60 make/close pairs with 60 000-digit numbers (60 KB frames, so a
// PBX that does not read backs the writer up), shutdown.
void BM_EntryPointsUnderFaults(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  SessionTiming timing;
  timing.completionTimeout = 20ms;  // slots come free while nothing is answered
  SetSessionTiming(timing);
  Clock::duration init{}, make{}, close{}, shutdown{};
  for (auto _ : state) {
    pbxsim::Options options;
    options.tls = mode == kAlertThenSilence || mode == kAlertAndClose;
    pbxsim::Behaviour b;
    b.silentAfterAccept = mode == kSilent;
    b.stopReading = mode == kStopReading;
    b.stallMidFrame = mode == kStall;
    b.garbageAnswers = mode == kGarbage;
    b.alertThenSilence = mode == kAlertThenSilence;
    b.alertAndClose = mode == kAlertAndClose;
    b.closeAfterAccept = mode == kCloseAfterAccept;
    pbxsim::Simulator sim(options);
    sim.SetBehaviour(b);
    sim.Start();
    std::unique_ptr<BlackHole> hole;
    std::uint16_t port = sim.port();
    if (mode == kRefused) sim.StopListening();
    if (mode == kBlackHoled) {
      hole = std::make_unique<BlackHole>();
      port = hole->port;
    }
    WriteStore(port, options.tls);
    init = std::max(init, Init());
    const std::u16string number(60000, u'7');
    DRV_REQUESTID id = 1;
    for (int round = 0; round < 20; ++round) {
      std::vector<std::pair<DRV_REQUESTID, HDRVCALL>> calls;
      for (int i = 0; i < 3; ++i, ++id) {
        HDRVCALL call = nullptr;
        auto start = Clock::now();
        LONG r = MakeCall(id, number, &call);
        make = std::max(make, Clock::now() - start);
        if (r == static_cast<LONG>(id)) calls.emplace_back(id, call);
      }
      for (auto [callId, call] : calls) {
        completions.Wait(callId, 5s);
        auto start = Clock::now();
        TSPI_lineCloseCall(call);
        close = std::max(close, Clock::now() - start);
      }
    }
    shutdown = std::max(shutdown, Shutdown());
    sim.Stop();
  }
  state.SetLabel(ModeName(mode));
  state.counters["init_max_ms"] = Ms(init);
  state.counters["makecall_max_ms"] = Ms(make);
  state.counters["closecall_max_ms"] = Ms(close);
  state.counters["shutdown_ms"] = Ms(shutdown);
}
BENCHMARK(BM_EntryPointsUnderFaults)
    ->DenseRange(kHealthy, kBlackHoled)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// TSPI_lineMakeCall until pbxsim has read the whole frame, through the
// queue and the writer thread of a logged-in session.
void BM_LiveMakeCallToWire(benchmark::State& state) {
  SetSessionTiming(SessionTiming{});
  pbxsim::Simulator sim({});
  sim.Start();
  WriteStore(sim.port(), false);
  Init();
  sim.WaitFor([](const auto& f) { return !f.empty() && f.back().root == "MonitorStart"; }, 5s);
  const std::u16string number = u"+49 (30) 1234-5678";
  std::vector<double> micros;
  DRV_REQUESTID id = 1;
  std::uint32_t lastInvokeId = 0;
  for (auto _ : state) {
    HDRVCALL call = nullptr;
    auto start = Clock::now();
    MakeCall(id, number, &call);
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
    completions.Wait(id, 5s);
    TSPI_lineCloseCall(call);
    ++id;
  }
  Shutdown();
  sim.Stop();
  Percentiles(state, micros);
}
BENCHMARK(BM_LiveMakeCallToWire)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// Reference: a frame of the same size sent on a loopback connection and
// read whole at the other end, by the same thread.
void BM_LoopbackFrameReference(benchmark::State& state) { bench::LoopbackSendAndReceive(state); }
BENCHMARK(BM_LoopbackFrameReference)->Iterations(2000)->Unit(benchmark::kMicrosecond);

constexpr int kFlood = 20000;

// Events through TCP, the reader and the worker: a MakeCall whose answer is
// followed by kFlood events, then a second MakeCall whose answer can only be
// dispatched after all of them.
void BM_LiveReceiveRate(benchmark::State& state) {
  SetSessionTiming(SessionTiming{});
  pbxsim::Behaviour b;
  b.floodEvents = kFlood;
  pbxsim::Simulator sim({});
  sim.SetBehaviour(b);
  sim.Start();
  WriteStore(sim.port(), false);
  Init();
  sim.WaitFor([](const auto& f) { return !f.empty() && f.back().root == "MonitorStart"; }, 5s);
  DRV_REQUESTID id = 1;
  double frames = 0, seconds = 0;
  for (auto _ : state) {
    HDRVCALL first = nullptr, second = nullptr;
    auto start = Clock::now();
    MakeCall(id, u"1", &first);
    MakeCall(id + 1, u"2", &second);
    completions.Wait(id + 1, 60s);
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    frames += kFlood + 3;
    TSPI_lineCloseCall(first);
    TSPI_lineCloseCall(second);
    completions.Wait(id, 60s);
    id += 2;
  }
  Shutdown();
  sim.Stop();
  state.counters["frames_per_s"] = frames / seconds;
}
BENCHMARK(BM_LiveReceiveRate)->Iterations(5)->Unit(benchmark::kMillisecond);

// Reference: the worker's part alone, the same event frames fed from memory
// in 1024-byte pieces.
void BM_InMemoryReceiveReference(benchmark::State& state) {
  const std::string event =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><EstablishedEvent xmlns=\"http://www.ecma-international.org/"
      "standards/ecma-323/csta/ed5\"><monitorCrossRefID>1</"
      "monitorCrossRefID><establishedConnection><callID>1001"
      "</callID><deviceID>201</deviceID></establishedConnection><cause>normal</cause></EstablishedEvent>";
  std::string wire;
  for (int i = 0; i < kFlood; ++i) wire += *BuildCstaFrame(9999, event);
  SessionState session;
  double frames = 0, seconds = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (std::size_t at = 0; at < wire.size(); at += 1024) {
      session.receiveBuffer.append(wire, at, 1024);
      ProcessReceivedData(session);
    }
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    frames += kFlood;
  }
  state.counters["frames_per_s"] = frames / seconds;
}
BENCHMARK(BM_InMemoryReceiveReference)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
