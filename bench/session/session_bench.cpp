// The session's hot paths: cutting, tracing, parsing and dispatching
// received frames; memory over many calls. The live link's latency and rate
// are measured by link_bench.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/socket.h"
#include "platform/tapi.h"
#include "provider/session_event_sink.h"
#include "provider/tapi_delivery.h"
#include "session/csta_frame.h"
#include "session/csta_responses.h"
#include "session/pbx_link.h"
#include "session/pending_requests.h"
#include "session/settings.h"

namespace qv {
namespace {

const std::string kEvent =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><EstablishedEvent xmlns=\"http://www.ecma-international.org/"
    "standards/ecma-323/csta/ed5\"><monitorCrossRefID>1</"
    "monitorCrossRefID><establishedConnection><callID>1001"
    "</callID><deviceID>201</deviceID></establishedConnection><cause>normal</cause></EstablishedEvent>";

void quietSettings() {
  ProviderSettings s = SettingsSnapshot();
  s.loglevel = 0;
  s.logfile.clear();
  s.username = "201";
  s.domain = "office";
  s.encrypt = false;
  ReplaceSettings(s);
}

// Frames arrive in 1024-byte receives, as the reader delivers them.
void BM_ReceivePath(benchmark::State& state) {
  quietSettings();
  const std::size_t framesPerBatch = 1000;
  std::string wire;
  for (std::size_t i = 0; i < framesPerBatch; ++i) wire += *BuildCstaFrame(9999, kEvent);
  SessionState session;
  for (auto _ : state) {
    for (std::size_t at = 0; at < wire.size(); at += 1024) {
      session.receiveBuffer.append(wire, at, 1024);
      ProcessReceivedData(session);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * framesPerBatch));
  state.counters["frame_bytes"] = static_cast<double>(kEvent.size() + 8);
}
BENCHMARK(BM_ReceivePath)->Unit(benchmark::kMillisecond);

struct Loopback {
  SocketHandle listener = kInvalidSocket, server = kInvalidSocket;
  Loopback() {
    startNetworking();
    std::uint16_t port = 0;
    listener = listenTcp("127.0.0.1", 0, port);
    std::atomic<bool> never{false};
    SocketHandle client = connectTcp("127.0.0.1", std::to_string(port), never).socket;
    server = acceptConnection(listener);
    pbxLink().Attach(client, false, "office");
  }
  ~Loopback() {
    closeSocket(pbxLink().Detach());
    closeSocket(server);
    closeSocket(listener);
  }
  // Reads until one whole frame has arrived; returns its invoke id.
  std::uint32_t ReadFrame() {
    CstaFrame frame;
    char buffer[4096];
    while (cutter.next(frame) != CstaFrameCutter::Status::frame) {
      long n = receiveSome(server, buffer, sizeof buffer);
      if (n <= 0) return 0;
      cutter.append(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    return frame.invokeId;
  }
  CstaFrameCutter cutter;
};

void ignoreCompletion(DRV_REQUESTID, LONG) {}

// Completions go through the delivery thread and the provider's sink, as in
// the running provider.
struct DeliveryScope {
  DeliveryScope() {
    StartTapiDelivery(ignoreCompletion);
    SetSessionEvents(&providerSessionEvents());
  }
  ~DeliveryScope() {
    FailPendingRequests(RequestOutcome::kShutdown);
    SetSessionEvents(nullptr);
    StopTapiDelivery();
  }
};

// One call: make (timed up to the frame's arrival), answer, close.
std::chrono::nanoseconds OneCall(Loopback& link, DRV_REQUESTID id) {
  HDRVCALL call = nullptr;
  const std::u16string number = u"+49 (30) 1234-5678";
  auto start = std::chrono::steady_clock::now();
  TSPI_lineMakeCall(id, nullptr, nullptr, &call, reinterpret_cast<LPCWSTR>(number.c_str()), 49, nullptr);
  std::uint32_t invokeId = link.ReadFrame();
  auto took = std::chrono::steady_clock::now() - start;
  SessionState session;
  DispatchCstaFrame(session, invokeId,
                    "<MakeCallResponse><callingDevice><callID>1001</callID><deviceID>201</deviceID>"
                    "</callingDevice></MakeCallResponse>");
  TSPI_lineCloseCall(call);
  DispatchCstaFrame(session, link.ReadFrame(), "<ClearConnectionResponse/>");
  return took;
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4;
}

void BM_MemoryAcross100kCalls(benchmark::State& state) {
  quietSettings();
  DeliveryScope delivery;
  Loopback link;
  for (int i = 0; i < 1000; ++i) OneCall(link, static_cast<DRV_REQUESTID>(i + 1));  // warm up
  long before = residentKiB();
  for (auto _ : state) {
    for (int i = 0; i < 100000; ++i) OneCall(link, static_cast<DRV_REQUESTID>(i + 1));
  }
  long after = residentKiB();
  state.counters["rss_before_KiB"] = static_cast<double>(before);
  state.counters["rss_after_KiB"] = static_cast<double>(after);
  state.counters["rss_growth_KiB"] = static_cast<double>(after - before);
}
BENCHMARK(BM_MemoryAcross100kCalls)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
