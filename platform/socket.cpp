// The socket operations both platforms share, over the calls in socket_os.h.
#include "platform/socket.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/name_lookup.h"
#include "platform/socket_os.h"
#include "platform/socket_system.h"

namespace qv {

namespace {

// Polls a pending connect in short slices so that a stop does not wait for
// the system's connect time-out.
constexpr int kConnectSliceMs = 50;

int awaitConnect(SocketHandle socket, const std::atomic<bool>& cancel, int timeoutMs) {
  for (int waited = 0;; waited += kConnectSliceMs) {
    if (timeoutMs >= 0 && waited >= timeoutMs) return os::timedOutError();
    if (cancel.load()) return os::cancelledError();
    int status = os::pollConnect(socket, kConnectSliceMs);
    if (status != os::kConnectPending) return status;
  }
}

}  // namespace

ConnectResult connectTcp(const std::string& host, const std::string& service, const std::atomic<bool>& cancel,
                         int timeoutMs) {
  ConnectResult result;
  const auto start = std::chrono::steady_clock::now();
  std::vector<os::SocketAddress> addresses;
  if (os::resolveForConnect(host, service, cancel, timeoutMs, result.status, addresses) ==
      os::LookupEnd::kUnfinished) {
    result.lookupUnfinished = true;
    return result;
  }
  if (result.status != 0) return result;
  if (timeoutMs >= 0) {
    // One limit covers the lookup and the connect.
    auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    timeoutMs = std::max(0, timeoutMs - static_cast<int>(spent.count()));
  }
  result.status = -1;
  for (const os::SocketAddress& address : addresses) {
    if (!address.internet) continue;
    SocketHandle socket = kInvalidSocket;
    result.status = os::startConnect(address, socket);
    if (result.status == os::kConnectPending) {
      result.status = awaitConnect(socket, cancel, timeoutMs);
      if (result.status != 0) closeSocket(socket);
    }
    if (result.status == 0) {
      os::finishConnect(socket);
      result.socket = socket;
    }
    // Only the first usable entry is tried.
    break;
  }
  return result;
}

bool sendAll(SocketHandle socket, std::string_view bytes) {
  while (!bytes.empty()) {
    long n = sendOnce(socket, bytes);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

SocketHandle listenTcp(const std::string& host, std::uint16_t port, std::uint16_t& boundPort) {
  std::vector<os::SocketAddress> addresses;
  if (os::resolveStream(host, std::to_string(port), true, addresses) != 0) return kInvalidSocket;
  for (const os::SocketAddress& address : addresses) {
    SocketHandle listener = os::bindAndListen(address, 16);
    if (listener == kInvalidSocket) continue;
    boundPort = os::localPort(listener);
    return listener;
  }
  return kInvalidSocket;
}

}  // namespace qv
