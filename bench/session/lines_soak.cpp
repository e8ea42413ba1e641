// The listed-lines soak: the provider with N lines (callevents = 1, every
// line open) over TLS to a pbxsim process of its own that makes random
// traffic, while this program plays TAPI: it places calls on random lines,
// answers offered calls, drops connected ones and closes idle ones. Every
// few seconds it samples the resident set and the thread count. At the end
// the traffic stops, every call is ended and closed, and every request must
// have completed exactly once.
//   lines_soak [--seconds S] [--lines N] [--traffic CALLS_PER_SECOND] [--sample S]
// Exit status 0: every request completed once, and threads and memory flat.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/session/lines_store.h"
#include "bench/session/pbx_process.h"
#include "platform/tapi.h"
#include "session/pending_requests.h"

namespace qv {
namespace {

using namespace bench;

struct Call {
  HDRVCALL hd = nullptr;
  DWORD state = 0;
  Clock::time_point since;
  bool asked = false;  // a request on it is open
};

struct Tapi {
  std::mutex lock;
  std::map<std::uintptr_t, Call> calls;  // by HTAPICALL
  std::uintptr_t nextCall = 1;
  // By request id (ids count up from 1): -1 no request, else times completed;
  // a byte each, so the driver's own memory stays out of the figures.
  std::vector<std::int8_t> completions{-1};
  std::unordered_map<DRV_REQUESTID, std::uintptr_t> requestCall;
  std::size_t unknownCompletions = 0;
  std::size_t states = 0;
};
Tapi tapi;

void TSPIAPI OnEvent(HTAPILINE, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR) {
  std::lock_guard l(tapi.lock);
  if (msg == LINE_NEWCALL) {
    const std::uintptr_t ht = tapi.nextCall++;
    tapi.calls[ht] = {reinterpret_cast<HDRVCALL>(p1), 0, Clock::now(), false};
    *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(ht);
  } else if (msg == LINE_CALLSTATE) {
    ++tapi.states;
    auto it = tapi.calls.find(reinterpret_cast<std::uintptr_t>(htCall));
    if (it != tapi.calls.end() && it->second.state != p1) {
      it->second.state = static_cast<DWORD>(p1);
      it->second.since = Clock::now();
    }
  }
}

void TSPIAPI OnCompletionOnce(DRV_REQUESTID id, LONG) {
  std::lock_guard l(tapi.lock);
  if (id >= tapi.completions.size() || tapi.completions[id] < 0) {
    ++tapi.unknownCompletions;
    return;
  }
  if (tapi.completions[id] < 100) ++tapi.completions[id];
  auto call = tapi.requestCall.find(id);
  if (call != tapi.requestCall.end()) {
    auto c = tapi.calls.find(call->second);
    if (c != tapi.calls.end()) c->second.asked = false;
    tapi.requestCall.erase(call);
  }
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * 4;
}

int Threads() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

struct Sample {
  double seconds;
  long rssKiB;
  int threads;
};

int Run(int seconds, int lineCount, double traffic, int sampleSeconds) {
  PbxProcess pbx({"--tls", "--calls", "--devices", Range(lineCount), "--traffic", "0"});
  if (pbx.port() == 0) {
    std::fprintf(stderr, "soak: pbxsim did not start\n");
    return 2;
  }
  WriteStore(pbx.port(), true, Range(lineCount), {{"callevents", "1"}});
  const DWORD lines = Enumerate();
  DWORD options = 0;
  TSPI_providerInit(QV_TSPI_VERSION, 7, 0, 1, lines, 1, OnCompletionOnce, &options);
  if (!WaitMonitors(static_cast<std::size_t>(lineCount), 60s)) {
    std::fprintf(stderr, "soak: monitors did not all start\n");
    return 2;
  }
  std::vector<HDRVLINE> handles(static_cast<std::size_t>(lineCount));
  for (int i = 0; i < lineCount; ++i)
    TSPI_lineOpen(static_cast<DWORD>(i), reinterpret_cast<HTAPILINE>(std::uintptr_t(i) + 1),
                  &handles[static_cast<std::size_t>(i)], QV_TSPI_VERSION, OnEvent);
  const auto settle = Clock::now() + 30s;
  while (PendingRequestCount() != 0 && Clock::now() < settle) std::this_thread::sleep_for(50ms);
  pbx.Command(("traffic " + std::to_string(traffic)).c_str());

  std::mt19937 random(11);
  DRV_REQUESTID nextRequest = 1;
  std::size_t requests = 0, placed = 0, answered = 0, dropped = 0, closed = 0;
  // A request TAPI makes: known before its completion can come.
  auto ask = [&](std::uintptr_t ht) {
    const DRV_REQUESTID id = nextRequest++;
    std::lock_guard l(tapi.lock);
    tapi.completions.resize(std::max<std::size_t>(tapi.completions.size(), id + 1), -1);
    tapi.completions[id] = 0;
    if (ht != 0) {
      tapi.requestCall[id] = ht;
      tapi.calls[ht].asked = true;
    }
    return id;
  };
  auto asked = [&](DRV_REQUESTID id, LONG returned) {
    if (returned == static_cast<LONG>(id)) {
      ++requests;
      return true;
    }
    std::lock_guard l(tapi.lock);  // refused at once: no completion follows
    tapi.completions[id] = -1;
    if (auto it = tapi.requestCall.find(id); it != tapi.requestCall.end()) {
      tapi.calls[it->second].asked = false;
      tapi.requestCall.erase(it);
    }
    return false;
  };
  // What TAPI would do with each call now: answer, drop or close it.
  auto tend = [&](bool ending) {
    std::vector<std::pair<std::uintptr_t, Call>> now;
    {
      std::lock_guard l(tapi.lock);
      for (const auto& [ht, c] : tapi.calls) now.emplace_back(ht, c);
    }
    const auto at = Clock::now();
    for (const auto& [ht, c] : now) {
      if (c.asked) continue;
      if (c.state == LINECALLSTATE_IDLE) {
        TSPI_lineCloseCall(c.hd);
        ++closed;
        std::lock_guard l(tapi.lock);
        tapi.calls.erase(ht);
      } else if (c.state == LINECALLSTATE_OFFERING && (ending || at - c.since > 300ms)) {
        if (!ending && random() % 3 == 0) continue;  // left to ring
        const DRV_REQUESTID id = ask(ht);
        if (asked(id, ending ? TSPI_lineDrop(id, c.hd, nullptr, 0) : TSPI_lineAnswer(id, c.hd, nullptr, 0)))
          ++(ending ? dropped : answered);
      } else if (c.state != 0 && c.state != LINECALLSTATE_OFFERING &&
                 (ending || (at - c.since > 2s && random() % 50 == 0))) {
        const DRV_REQUESTID id = ask(ht);
        if (asked(id, TSPI_lineDrop(id, c.hd, nullptr, 0))) ++dropped;
      }
    }
  };

  std::vector<Sample> samples;
  const auto start = Clock::now();
  auto sample = [&] {
    samples.push_back(
        {std::chrono::duration<double>(Clock::now() - start).count(), ResidentKiB(), Threads()});
    const Sample& s = samples.back();
    std::size_t calls = 0;
    {
      std::lock_guard l(tapi.lock);
      calls = tapi.calls.size();
    }
    std::printf("t=%5.0f s  rss=%ld KiB  threads=%d  requests=%zu  calls=%zu\n", s.seconds, s.rssKiB,
                s.threads, requests, calls);
    std::fflush(stdout);
  };
  sample();
  auto nextSample = start + std::chrono::seconds(sampleSeconds);
  while (Clock::now() - start < std::chrono::seconds(seconds)) {
    // About as many calls placed by TAPI as the PBX starts itself.
    if (std::uniform_real_distribution<double>(0, 1)(random) < traffic / 50.0) {
      const auto line = handles[random() % handles.size()];
      std::uintptr_t ht = 0;
      {
        std::lock_guard l(tapi.lock);
        ht = tapi.nextCall++;
        tapi.calls[ht] = {nullptr, 0, Clock::now(), false};
      }
      const DRV_REQUESTID id = ask(ht);
      HDRVCALL hd = nullptr;
      const LONG r = TSPI_lineMakeCall(id, line, reinterpret_cast<HTAPICALL>(ht), &hd,
                                       reinterpret_cast<LPCWSTR>(u"0301234"), 0, nullptr);
      if (asked(id, r)) {
        ++placed;
        std::lock_guard l(tapi.lock);
        tapi.calls[ht].hd = hd;
      } else {
        std::lock_guard l(tapi.lock);
        tapi.calls.erase(ht);
      }
    }
    tend(false);
    if (Clock::now() >= nextSample) {
      sample();
      nextSample += std::chrono::seconds(sampleSeconds);
    }
    std::this_thread::sleep_for(20ms);
  }
  // The end: no new calls, everything up ended and closed.
  pbx.Command("traffic 0");
  const auto until = Clock::now() + 30s;
  for (;;) {
    tend(true);
    std::size_t left = 0, open = 0;
    {
      std::lock_guard l(tapi.lock);
      left = tapi.calls.size();
      for (std::int8_t n : tapi.completions) open += n == 0 ? 1 : 0;
    }
    if ((left == 0 && open == 0) || Clock::now() > until) break;
    std::this_thread::sleep_for(50ms);
  }
  sample();

  std::size_t never = 0, twice = 0, calls = 0;
  {
    std::lock_guard l(tapi.lock);
    for (std::int8_t n : tapi.completions) {
      never += n == 0 ? 1 : 0;
      twice += n > 1 ? 1 : 0;
    }
    calls = tapi.calls.size();
  }
  for (HDRVLINE h : handles) TSPI_lineClose(h);
  const std::vector<std::string> made = pbx.Output("traffic");
  TSPI_providerShutdown(QV_TSPI_VERSION, 7);

  // Flat: from the first sample after a quarter of the run to the last.
  const Sample* from = &samples.front();
  for (const Sample& s : samples) {
    if (s.seconds >= seconds / 4.0) {
      from = &s;
      break;
    }
  }
  long rssMax = 0;
  int threadsMin = 1 << 30, threadsMax = 0;
  for (const Sample& s : samples) {
    if (s.seconds < from->seconds) continue;
    rssMax = std::max(rssMax, s.rssKiB);
    threadsMin = std::min(threadsMin, s.threads);
    threadsMax = std::max(threadsMax, s.threads);
  }
  const long grown = samples.back().rssKiB - from->rssKiB;
  const bool rssFlat = grown <= 1024 && rssMax - from->rssKiB <= 4096;
  const bool threadsFlat = threadsMin == threadsMax;
  std::string counts = "no answer\n";
  for (const std::string& line : made) {
    if (line.rfind("traffic incoming", 0) == 0) counts = line;
  }
  std::printf("pbxsim: %s", counts.c_str());
  std::printf(
      "TAPI: %zu requests (%zu calls placed, %zu answered, %zu dropped), %zu calls closed, %zu call states\n",
      requests, placed, answered, dropped, closed, tapi.states);
  std::printf("completions: %zu never, %zu more than once, %zu for no request; %zu calls left\n", never,
              twice, tapi.unknownCompletions, calls);
  std::printf("rss from t=%.0f s: %ld -> %ld KiB (max %ld), %s\n", from->seconds, from->rssKiB,
              samples.back().rssKiB, rssMax, rssFlat ? "flat" : "GROWING");
  std::printf("threads: %d to %d, %s\n", threadsMin, threadsMax, threadsFlat ? "flat" : "CHANGING");
  const bool ok =
      never == 0 && twice == 0 && tapi.unknownCompletions == 0 && calls == 0 && rssFlat && threadsFlat;
  std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace qv

int main(int argc, char** argv) {
  int seconds = 240, lines = 1000, sampleSeconds = 10;
  double traffic = 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--seconds")
      seconds = std::atoi(argv[i + 1]);
    else if (arg == "--lines")
      lines = std::atoi(argv[i + 1]);
    else if (arg == "--traffic")
      traffic = std::atof(argv[i + 1]);
    else if (arg == "--sample")
      sampleSeconds = std::atoi(argv[i + 1]);
  }
  return qv::Run(seconds, lines, traffic, std::max(1, sampleSeconds));
}
