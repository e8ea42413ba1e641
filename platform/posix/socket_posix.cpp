#include "platform/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qv {

namespace {

int fd(SocketHandle s) { return static_cast<int>(s); }

void setBlocking(int f, bool blocking) {
  int flags = fcntl(f, F_GETFL, 0);
  if (flags < 0) return;
  fcntl(f, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

// Connects with a non-blocking socket, polling in short slices so that a
// shutdown does not wait for the system's connect time-out.
int connectCancellable(int f, const sockaddr* addr, socklen_t len, const std::atomic<bool>& cancel,
                       int timeoutMs) {
  setBlocking(f, false);
  if (connect(f, addr, len) == 0) {
    setBlocking(f, true);
    return 0;
  }
  if (errno != EINPROGRESS) return errno ? errno : -1;
  int waited = 0;
  for (;;) {
    if (timeoutMs >= 0 && waited >= timeoutMs) return ETIMEDOUT;
    waited += 50;
    if (cancel.load()) return ECANCELED;
    pollfd p{f, POLLOUT, 0};
    int r = poll(&p, 1, 50);
    if (r < 0 && errno != EINTR) return errno;
    if (r > 0) break;
  }
  int err = 0;
  socklen_t errLen = sizeof err;
  if (getsockopt(f, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0) return errno ? errno : -1;
  if (err != 0) return err;
  setBlocking(f, true);
  return 0;
}

}  // namespace

bool startNetworking() { return true; }
void stopNetworking() {}

ConnectResult connectTcp(const std::string& host, const std::string& service, const std::atomic<bool>& cancel,
                         int timeoutMs) {
  ConnectResult result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  result.status = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (result.status != 0) return result;
  for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    int f = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (f < 0) {
      result.status = errno ? errno : -1;
      break;
    }
    result.status = connectCancellable(f, a->ai_addr, a->ai_addrlen, cancel, timeoutMs);
    if (result.status == 0) {
      int one = 1;
      setsockopt(f, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      // A peer that stops reading must not block the sender for ever.
      timeval sendLimit{kSendTimeoutMs / 1000, 0};
      setsockopt(f, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
      result.socket = static_cast<SocketHandle>(f);
    } else {
      close(f);
    }
    break;
  }
  freeaddrinfo(list);
  return result;
}

long sendOnce(SocketHandle socket, std::string_view bytes) {
  if (socket == kInvalidSocket) return -1;
  ssize_t n;
  do {
    n = send(fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

bool sendAll(SocketHandle socket, std::string_view bytes) {
  while (!bytes.empty()) {
    long n = sendOnce(socket, bytes);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

long receiveSome(SocketHandle socket, char* buffer, std::size_t size) {
  if (socket == kInvalidSocket) return -1;
  ssize_t n;
  do {
    n = recv(fd(socket), buffer, size, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

bool waitReadable(SocketHandle socket, int timeoutMs) {
  pollfd p{fd(socket), POLLIN, 0};
  int r;
  do {
    r = poll(&p, 1, timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r != 0;
}

void abortSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) shutdown(fd(socket), SHUT_RDWR);
}

void closeSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) close(fd(socket));
}

SocketHandle listenTcp(const std::string& host, std::uint16_t port, std::uint16_t& boundPort) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &list) != 0) {
    return kInvalidSocket;
  }
  int f = -1;
  for (addrinfo* a = list; a != nullptr && f < 0; a = a->ai_next) {
    f = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (f < 0) continue;
    int one = 1;
    setsockopt(f, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(f, a->ai_addr, a->ai_addrlen) != 0 || listen(f, 16) != 0) {
      close(f);
      f = -1;
    }
  }
  freeaddrinfo(list);
  if (f < 0) return kInvalidSocket;
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(f, reinterpret_cast<sockaddr*>(&bound), &len);
  if (bound.ss_family == AF_INET) {
    boundPort = ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  } else {
    boundPort = ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  }
  return static_cast<SocketHandle>(f);
}

SocketHandle acceptConnection(SocketHandle listener) {
  int f;
  do {
    f = accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  } while (f < 0 && errno == EINTR);
  if (f < 0) return kInvalidSocket;
  int one = 1;
  setsockopt(f, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return static_cast<SocketHandle>(f);
}

}  // namespace qv
