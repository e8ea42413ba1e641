// Call events across 10 000 listed lines (callevents = 1, every line open):
// pre-built DeliveredEvent, EstablishedEvent and ConnectionClearedEvent
// frames written by pbxsim's connection to the provider, paced or as fast as
// they go, each turned into its LINE_CALLSTATE. Measured at the LINEEVENT
// procedure: events per second, and the time from the frame's write on the
// loopback connection to its LINEEVENT call. The whole process (provider,
// pbxsim and this harness) runs on one core. Reference: the same frames
// written on a bare loopback connection and cut into frames by a read loop.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/session/lines_store.h"
#include "platform/socket.h"
#include "platform/tapi.h"
#include "session/pending_requests.h"
#include "session/session_timing.h"
#include "tools/pbxsim/pbx_messages.h"
#include "tools/pbxsim/pbx_simulator.h"

namespace qv {
namespace {

using namespace bench;

constexpr int kLines = 10000;
constexpr int kRounds = 2;  // calls per line
constexpr DWORD kExpected[3] = {LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED, LINECALLSTATE_IDLE};

// One core for every thread made from here on; the old mask back at the end.
class OneCore {
 public:
  OneCore() {
    sched_getaffinity(0, sizeof old_, &old_);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &old_)) {
        CPU_SET(cpu, &one);
        break;
      }
    }
    sched_setaffinity(0, sizeof one, &one);
  }
  ~OneCore() { sched_setaffinity(0, sizeof old_, &old_); }
  OneCore(const OneCore&) = delete;
  OneCore& operator=(const OneCore&) = delete;

 private:
  cpu_set_t old_;
};

std::string El(const std::string& name, const std::string& inner) {
  return "<csta:" + name + ">" + inner + "</csta:" + name + ">";
}
std::string Device(const std::string& name, const std::string& number, bool external = false) {
  return El(name, std::string("<csta:deviceIdentifier") +
                      (external ? " typeOfNumber=\"explicitPublic\"" : "") + ">" + number +
                      "</csta:deviceIdentifier>");
}
std::string EventFrame(const std::string& root, const std::string& crossRef, const std::string& body) {
  return pbxsim::Frame(9999,
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<csta:" + root +
                           " xmlns:csta=\"http://www.ecma-international.org/standards/ecma-323/csta/ed5\">" +
                           El("monitorCrossRefID", crossRef) + body + "</csta:" + root + ">\n");
}

// An incoming call at a device: offered, answered, cleared.
std::string CallFrame(int phase, const std::string& crossRef, const std::string& callId,
                      const std::string& device) {
  const std::string far = "+4930555" + callId.substr(callId.size() - 4);
  auto connection = [&](const std::string& name) {
    return El(name, El("callID", callId) + El("deviceID", device));
  };
  switch (phase) {
    case 0:
      return EventFrame("DeliveredEvent", crossRef,
                        connection("connection") + Device("alertingDevice", device) +
                            Device("callingDevice", far, true) + Device("calledDevice", device) +
                            El("localConnectionInfo", "alerting") + El("cause", "newCall"));
    case 1:
      return EventFrame("EstablishedEvent", crossRef,
                        connection("establishedConnection") + Device("answeringDevice", device) +
                            Device("callingDevice", far, true) + Device("calledDevice", device) +
                            El("localConnectionInfo", "connected") + El("cause", "normal"));
    default:
      return EventFrame("ConnectionClearedEvent", crossRef,
                        connection("droppedConnection") + Device("releasingDevice", device) +
                            El("localConnectionInfo", "null") + El("cause", "normalClearing"));
  }
}

struct Frames {
  std::vector<std::string> bytes;
  std::vector<int> line;   // by frame
  std::vector<int> phase;  // by frame
};

// Round r, phase p, line l: every line's call goes through its states at
// the same pace, the lines interleaved.
Frames BuildFrames(const std::vector<std::string>& crossRefs) {
  Frames f;
  for (int round = 0; round < kRounds; ++round) {
    for (int phase = 0; phase < 3; ++phase) {
      for (int l = 0; l < kLines; ++l) {
        const std::string device = std::to_string(10000 + l);
        const std::string callId = std::to_string(1000000 + round * kLines + l);
        f.bytes.push_back(CallFrame(phase, crossRefs[static_cast<std::size_t>(l)], callId, device));
        f.line.push_back(l);
        f.phase.push_back(phase);
      }
    }
  }
  return f;
}

// What the LINEEVENT procedure saw.
struct Run {
  std::vector<std::atomic<std::int64_t>> writtenAt;  // by frame, steady ns
  std::vector<std::vector<int>> framesOfLine;        // frame indices, in order
  std::vector<int> phaseOf;                          // by frame
  std::vector<std::size_t> nextOfLine;
  std::vector<double> latencyUs;
  std::size_t states = 0, unexpected = 0;
  Clock::time_point last;
  std::vector<HDRVCALL> callOf;  // by the HTAPICALL given at LINE_NEWCALL, less one
  std::deque<HDRVCALL> toClose;
  std::mutex lock;
  std::condition_variable changed;
  bool measuring = false;
};
Run* run = nullptr;

void TSPIAPI OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2,
                         DWORD_PTR /*p3*/) {
  const auto now = Clock::now();
  Run& r = *run;
  std::lock_guard l(r.lock);
  if (msg == LINE_NEWCALL) {
    r.callOf.push_back(reinterpret_cast<HDRVCALL>(p1));
    *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(r.callOf.size());
    return;
  }
  if (msg != LINE_CALLSTATE || !r.measuring) return;
  const auto line = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(htLine) - 1);
  std::size_t& next = r.nextOfLine[line];
  if (next >= r.framesOfLine[line].size()) {
    ++r.unexpected;
    return;
  }
  const int frame = r.framesOfLine[line][next];
  if (kExpected[r.phaseOf[static_cast<std::size_t>(frame)]] != p1) {
    ++r.unexpected;
    return;
  }
  ++next;
  ++r.states;
  const std::int64_t written = r.writtenAt[static_cast<std::size_t>(frame)].load(std::memory_order_acquire);
  r.latencyUs.push_back(static_cast<double>(now.time_since_epoch().count() - written) / 1000.0);
  r.last = now;
  const auto given = reinterpret_cast<std::uintptr_t>(htCall);
  // As TAPI does once the application has deallocated the call.
  if (p1 == LINECALLSTATE_IDLE && given >= 1 && given <= r.callOf.size())
    r.toClose.push_back(r.callOf[given - 1]);
  r.changed.notify_all();
}

// Writes the frames at `rate` a second (0: as fast as they go), in the
// batches one millisecond holds, stamping each before its write.
template <typename Write>
Clock::time_point Pace(const Frames& f, int rate, std::vector<std::atomic<std::int64_t>>& writtenAt,
                       Write write) {
  const auto start = Clock::now();
  std::size_t sent = 0;
  std::string batch;
  while (sent < f.bytes.size()) {
    std::size_t due = f.bytes.size();
    if (rate > 0) {
      const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
      due = std::min(f.bytes.size(), static_cast<std::size_t>(elapsed * rate) + 1);
    } else {
      due = std::min(f.bytes.size(), sent + 64);
    }
    batch.clear();
    const std::int64_t now = Clock::now().time_since_epoch().count();
    for (; sent < due; ++sent) {
      writtenAt[sent].store(now, std::memory_order_release);
      batch += f.bytes[sent];
    }
    if (!batch.empty()) write(batch);
    if (rate > 0) std::this_thread::sleep_for(1ms);
  }
  return start;
}

// CPU time of the whole process (provider, pbxsim, harness), in microseconds.
double ProcessCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

void Report(benchmark::State& state, std::vector<double>& micros, std::size_t events, Clock::duration took,
            double cpuUs) {
  state.counters["cpu_us_per_event"] = cpuUs / static_cast<double>(std::max<std::size_t>(events, 1));
  std::sort(micros.begin(), micros.end());
  auto pct = [&](double p) {
    return micros.empty() ? 0.0
                          : micros[static_cast<std::size_t>(p * static_cast<double>(micros.size() - 1))];
  };
  state.counters["events"] = static_cast<double>(events);
  state.counters["events_per_s"] = static_cast<double>(events) / std::chrono::duration<double>(took).count();
  state.counters["p50_us"] = pct(0.50);
  state.counters["p99_us"] = pct(0.99);
  state.counters["max_us"] = micros.empty() ? 0.0 : micros.back();
}

// Arguments: encrypt (0/1), events a second written (0: as fast as they go).
void BM_ListedCallEvents(benchmark::State& state) {
  const bool encrypt = state.range(0) != 0;
  const int rate = static_cast<int>(state.range(1));
  OneCore core;
  SetSessionTiming(SessionTiming{});
  for (auto _ : state) {
    pbxsim::Options options;
    options.devices = Range(kLines);
    options.calls = true;
    options.tls = encrypt;
    pbxsim::Simulator sim(options);
    sim.Start();
    WriteStore(sim.port(), encrypt, Range(kLines), {{"callevents", "1"}});
    Run r;
    run = &r;
    const DWORD lines = Enumerate();
    DWORD initOptions = 0;
    TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, lines, 1, OnCompletion, &initOptions);
    if (!WaitMonitors(kLines, 60s)) {
      state.SkipWithError("monitors did not all start");
      break;
    }
    std::vector<HDRVLINE> handles(kLines);
    for (int l = 0; l < kLines; ++l) {
      TSPI_lineOpen(static_cast<DWORD>(l), reinterpret_cast<HTAPILINE>(std::uintptr_t(l) + 1),
                    &handles[static_cast<std::size_t>(l)], QV_TSPI_VERSION, OnLineEvent);
    }
    // Opening asks each line's forwarding and do-not-disturb (as many as the
    // link's queue takes); answered before the burst.
    const auto until = Clock::now() + 60s;
    for (std::size_t asked = 0, now = 1; now != asked && Clock::now() < until;) {
      asked = now;
      std::this_thread::sleep_for(200ms);
      now = sim.Count("GetDoNotDisturb");
    }
    while (PendingRequestCount() != 0 && Clock::now() < until) std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(200ms);  // their status messages delivered
    std::vector<std::string> crossRefs;
    for (int l = 0; l < kLines; ++l) crossRefs.push_back(sim.MonitorCrossRef(std::to_string(10000 + l)));
    const Frames f = BuildFrames(crossRefs);
    r.writtenAt = std::vector<std::atomic<std::int64_t>>(f.bytes.size());
    r.framesOfLine.assign(kLines, {});
    for (std::size_t i = 0; i < f.bytes.size(); ++i)
      r.framesOfLine[static_cast<std::size_t>(f.line[i])].push_back(static_cast<int>(i));
    r.nextOfLine.assign(kLines, 0);
    r.phaseOf = f.phase;
    r.latencyUs.reserve(f.bytes.size());
    {
      std::lock_guard l(r.lock);
      r.measuring = true;
    }
    // TAPI's own thread closes the calls that went idle.
    std::atomic<bool> closing{true};
    std::thread closer([&] {
      std::unique_lock l(r.lock);
      while (closing) {
        r.changed.wait_for(l, 10ms);
        while (!r.toClose.empty()) {
          const HDRVCALL call = r.toClose.front();
          r.toClose.pop_front();
          l.unlock();
          TSPI_lineCloseCall(call);
          l.lock();
        }
      }
    });
    const double cpuBefore = ProcessCpuUs();
    const auto start = Pace(f, rate, r.writtenAt, [&](const std::string& batch) { sim.SendRaw(batch); });
    {
      std::unique_lock l(r.lock);
      r.changed.wait_for(l, 60s, [&] { return r.states + r.unexpected >= f.bytes.size(); });
    }
    const double cpuUs = ProcessCpuUs() - cpuBefore;
    closing = false;
    closer.join();
    {
      std::lock_guard l(r.lock);
      r.measuring = false;
      if (r.states != f.bytes.size()) state.SkipWithError("not every event became its LINE_CALLSTATE");
      state.counters["unexpected"] = static_cast<double>(r.unexpected);
      Report(state, r.latencyUs, r.states, r.last - start, cpuUs);
    }
    for (HDRVLINE h : handles) TSPI_lineClose(h);
    TSPI_providerShutdown(QV_TSPI_VERSION, 7);
    sim.Stop();
    run = nullptr;
  }
}
BENCHMARK(BM_ListedCallEvents)
    ->Args({0, 20000})
    ->Args({0, 0})
    ->Args({1, 20000})
    ->Args({1, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Reference: the same frames on a bare loopback connection, cut into frames
// by a read loop on the other end (one core, as above).
void BM_LoopbackFrameReadReference(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  OneCore core;
  std::vector<std::string> crossRefs;
  for (int l = 0; l < kLines; ++l) crossRefs.push_back("m" + std::to_string(l + 1));
  const Frames f = BuildFrames(crossRefs);
  for (auto _ : state) {
    std::uint16_t port = 0;
    SocketHandle listener = listenTcp("127.0.0.1", 0, port);
    std::atomic<bool> never{false};
    SocketHandle client = connectTcp("127.0.0.1", std::to_string(port), never).socket;
    SocketHandle server = acceptConnection(listener);
    std::vector<std::atomic<std::int64_t>> writtenAt(f.bytes.size());
    std::vector<double> micros;
    micros.reserve(f.bytes.size());
    Clock::time_point last;
    std::thread reader([&] {
      std::string buffer;
      char chunk[16384];
      std::size_t frame = 0;
      while (frame < f.bytes.size()) {
        const long n = receiveSome(server, chunk, sizeof chunk);
        if (n <= 0) break;
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t at = 0;
        while (buffer.size() - at >= 8) {
          const std::size_t length =
              static_cast<unsigned char>(buffer[at + 2]) * 256u + static_cast<unsigned char>(buffer[at + 3]);
          if (buffer.size() - at < length) break;
          at += length;
          const auto now = Clock::now();
          micros.push_back(static_cast<double>(now.time_since_epoch().count() - writtenAt[frame++].load()) /
                           1000.0);
          last = now;
        }
        buffer.erase(0, at);
      }
    });
    const double cpuBefore = ProcessCpuUs();
    const auto start = Pace(f, rate, writtenAt, [&](const std::string& batch) { sendAll(client, batch); });
    reader.join();
    Report(state, micros, micros.size(), last - start, ProcessCpuUs() - cpuBefore);
    closeSocket(client);
    closeSocket(server);
    closeSocket(listener);
  }
}
BENCHMARK(BM_LoopbackFrameReadReference)->Arg(20000)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qv
