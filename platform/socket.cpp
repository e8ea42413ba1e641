// The socket operations both platforms share, over the calls in socket_os.h.
#include "platform/socket.h"

#include <cstring>
#include <string>
#include <vector>

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

// Stream addresses of host:service in the resolver's order; 0 or the
// resolver's error. passive: for listening (an empty host means any).
int resolveStream(const std::string& host, const std::string& service, bool passive,
                  std::vector<os::SocketAddress>& out) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = passive ? 0 : IPPROTO_TCP;
  if (passive) hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
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

ConnectResult connectTcp(const std::string& host, const std::string& service, const std::atomic<bool>& cancel,
                         int timeoutMs) {
  ConnectResult result;
  std::vector<os::SocketAddress> addresses;
  result.status = resolveStream(host, service, false, addresses);
  if (result.status != 0) return result;
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
  if (resolveStream(host, std::to_string(port), true, addresses) != 0) return kInvalidSocket;
  for (const os::SocketAddress& address : addresses) {
    SocketHandle listener = os::bindAndListen(address, 16);
    if (listener == kInvalidSocket) continue;
    boundPort = os::localPort(listener);
    return listener;
  }
  return kInvalidSocket;
}

}  // namespace qv
