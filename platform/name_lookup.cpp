#include "platform/name_lookup.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/module.h"
#include "platform/socket_system.h"

namespace qv {

namespace {

constexpr int kLookupSliceMs = 50;
// Each lookup left behind holds a thread until the resolver answers; a
// resolver that never does must not pile them up with every reconnect.
constexpr int kMaxUnfinishedLookups = 4;

// Lookups running on their own threads, awaited or left behind. Process-wide
// because those threads outlive every session.
std::atomic<int> runningLookups{0};

// What a lookup thread shares with the caller that may stop waiting for it.
struct LookupResult {
  std::mutex lock;
  std::condition_variable answered;
  bool done = false;
  int status = 0;
  std::vector<os::SocketAddress> addresses;
};

int resolveWithFlags(const std::string& host, const std::string& service, int flags, bool passive,
                     std::vector<os::SocketAddress>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = passive ? 0 : IPPROTO_TCP;
  hints.ai_flags = flags;
  addrinfo* list = nullptr;
  const char* node = passive && host.empty() ? nullptr : host.c_str();
  int status = getaddrinfo(node, service.c_str(), &hints, &list);
  if (status != 0) return status;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    os::SocketAddress address;
    if (a->ai_addrlen > address.bytes.size()) continue;
    address.family = a->ai_family;
    address.internet = a->ai_family == AF_INET || a->ai_family == AF_INET6;
    std::memcpy(address.bytes.data(), a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    out.push_back(address);
  }
  freeaddrinfo(list);
  return 0;
}

}  // namespace

int unfinishedNameLookups() { return runningLookups.load(); }

namespace os {

int resolveStream(const std::string& host, const std::string& service, bool passive,
                  std::vector<SocketAddress>& out) {
  return resolveWithFlags(host, service, passive ? AI_PASSIVE | AI_NUMERICSERV : 0, passive, out);
}

LookupEnd resolveForConnect(const std::string& host, const std::string& service,
                            const std::atomic<bool>& cancel, int timeoutMs, int& status,
                            std::vector<SocketAddress>& out) {
  // An address literal never reaches the network.
  status = resolveWithFlags(host, service, AI_NUMERICHOST, false, out);
  if (status == 0) return LookupEnd::kAnswered;
  out.clear();
  if (runningLookups.load() >= kMaxUnfinishedLookups) {
    status = timedOutError();
    return LookupEnd::kUnfinished;
  }
  auto result = std::make_shared<LookupResult>();
  std::thread lookup;
  runningLookups.fetch_add(1);
  try {
    lookup = std::thread([result, host, service] {
      std::vector<SocketAddress> addresses;
      int answer = resolveStream(host, service, false, addresses);
      {
        std::lock_guard lock(result->lock);
        result->status = answer;
        result->addresses = std::move(addresses);
        result->done = true;
      }
      result->answered.notify_all();
      runningLookups.fetch_sub(1);
    });
  } catch (const std::system_error&) {
    runningLookups.fetch_sub(1);
    status = resolveStream(host, service, false, out);
    return LookupEnd::kAnswered;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(result->lock);
  while (!result->done) {
    if (cancel.load() || (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)) {
      lock.unlock();
      // The thread left behind returns into this module's code whenever the
      // resolver answers, so the module stays loaded until the process ends.
      pinOwnModule();
      lookup.detach();
      status = cancel.load() ? cancelledError() : timedOutError();
      return LookupEnd::kUnfinished;
    }
    result->answered.wait_for(lock, std::chrono::milliseconds(kLookupSliceMs));
  }
  status = result->status;
  out = std::move(result->addresses);
  lock.unlock();
  // Answered: the thread is on its way out; joining it lets the module be
  // unloaded safely afterwards.
  lookup.join();
  return LookupEnd::kAnswered;
}

}  // namespace os
}  // namespace qv
