#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/socket.h"
#include "platform/socket_os.h"

namespace qv {

namespace {

int fd(SocketHandle s) { return static_cast<int>(s); }

void setBlocking(int f, bool blocking) {
  int flags = fcntl(f, F_GETFL, 0);
  if (flags < 0) return;
  fcntl(f, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

int lastError() { return errno ? errno : -1; }

}  // namespace

namespace os {

int startConnect(const SocketAddress& address, SocketHandle& socket) {
  int f = ::socket(address.family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (f < 0) return lastError();
  setBlocking(f, false);
  socket = static_cast<SocketHandle>(f);
  if (connect(f, reinterpret_cast<const sockaddr*>(address.bytes.data()),
              static_cast<socklen_t>(address.length)) == 0) {
    return 0;
  }
  if (errno == EINPROGRESS) return kConnectPending;
  int error = lastError();
  close(f);
  socket = kInvalidSocket;
  return error;
}

int pollConnect(SocketHandle socket, int sliceMs) {
  pollfd p{fd(socket), POLLOUT, 0};
  int r = poll(&p, 1, sliceMs);
  if (r < 0) return errno == EINTR ? kConnectPending : lastError();
  if (r == 0) return kConnectPending;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return lastError();
  return error;
}

void finishConnect(SocketHandle socket) {
  int f = fd(socket);
  setBlocking(f, true);
  int one = 1;
  setsockopt(f, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // A peer that stops reading must not block the writer for ever.
  timeval sendLimit{kSendTimeoutMs / 1000, 0};
  setsockopt(f, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
}

int timedOutError() { return ETIMEDOUT; }
int cancelledError() { return ECANCELED; }

SocketHandle bindAndListen(const SocketAddress& address, int backlog) {
  int f = ::socket(address.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (f < 0) return kInvalidSocket;
  int one = 1;
  setsockopt(f, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(f, reinterpret_cast<const sockaddr*>(address.bytes.data()),
           static_cast<socklen_t>(address.length)) != 0 ||
      listen(f, backlog) != 0) {
    close(f);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(f);
}

std::uint16_t localPort(SocketHandle socket) {
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (getsockname(fd(socket), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
  if (bound.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
}

}  // namespace os

bool startNetworking() { return true; }
void stopNetworking() {}

long sendOnce(SocketHandle socket, std::string_view bytes) {
  if (socket == kInvalidSocket) return -1;
  ssize_t n;
  do {
    n = send(fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long sendWithoutWaiting(SocketHandle socket, std::string_view bytes) {
  if (socket == kInvalidSocket) return -1;
  ssize_t n;
  do {
    n = send(fd(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return static_cast<long>(n);
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
