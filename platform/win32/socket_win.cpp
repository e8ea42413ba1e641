#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace qv {

namespace {

SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }

void setBlocking(SOCKET s, bool blocking) {
  u_long mode = blocking ? 0 : 1;
  ioctlsocket(s, FIONBIO, &mode);
}

// Connects with a non-blocking socket, polling in short slices so that a
// shutdown does not wait for the system's connect time-out.
int connectCancellable(SOCKET s, const sockaddr* addr, int len, const std::atomic<bool>& cancel,
                       int timeoutMs) {
  setBlocking(s, false);
  if (connect(s, addr, len) == 0) {
    setBlocking(s, true);
    return 0;
  }
  int err = WSAGetLastError();
  if (err != WSAEWOULDBLOCK) return err;
  int waited = 0;
  for (;;) {
    if (timeoutMs >= 0 && waited >= timeoutMs) return WSAETIMEDOUT;
    waited += 50;
    if (cancel.load()) return WSAECANCELLED;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval slice{0, 50000};
    int r = select(0, nullptr, &writable, &failed, &slice);
    if (r == SOCKET_ERROR) return WSAGetLastError();
    if (r > 0) break;
  }
  int soError = 0;
  int soLen = sizeof soError;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &soLen) != 0) {
    return WSAGetLastError();
  }
  if (soError != 0) return soError;
  setBlocking(s, true);
  return 0;
}

}  // namespace

bool startNetworking() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  return true;
}

void stopNetworking() { WSACleanup(); }

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
    SOCKET s = socket(a->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
      result.status = WSAGetLastError();
      break;
    }
    result.status = connectCancellable(s, a->ai_addr, static_cast<int>(a->ai_addrlen), cancel, timeoutMs);
    if (result.status == 0) {
      BOOL one = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
      // A peer that stops reading must not block the sender for ever.
      DWORD sendLimit = kSendTimeoutMs;
      setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimit), sizeof sendLimit);
      result.socket = static_cast<SocketHandle>(s);
    } else {
      closesocket(s);
    }
    break;
  }
  freeaddrinfo(list);
  return result;
}

long sendOnce(SocketHandle socket, std::string_view bytes) {
  if (socket == kInvalidSocket) return -1;
  int n = send(sock(socket), bytes.data(), static_cast<int>(bytes.size()), 0);
  return n == SOCKET_ERROR ? -1 : n;
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
  int n = recv(sock(socket), buffer, static_cast<int>(size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool waitReadable(SocketHandle socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(sock(socket), &readable);
  timeval t{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &t) != 0;
}

void abortSocket(SocketHandle socket) {
  if (socket == kInvalidSocket) return;
  shutdown(sock(socket), SD_BOTH);
  // A blocking recv or accept is not always woken by shutdown alone.
  CancelIoEx(reinterpret_cast<HANDLE>(sock(socket)), nullptr);
}

void closeSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(sock(socket));
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
  SOCKET s = INVALID_SOCKET;
  for (addrinfo* a = list; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    s = socket(a->ai_family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) continue;
    if (bind(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 || listen(s, 16) != 0) {
      closesocket(s);
      s = INVALID_SOCKET;
    }
  }
  freeaddrinfo(list);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  sockaddr_storage bound{};
  int len = sizeof bound;
  getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len);
  if (bound.ss_family == AF_INET) {
    boundPort = ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  } else {
    boundPort = ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
  }
  return static_cast<SocketHandle>(s);
}

SocketHandle acceptConnection(SocketHandle listener) {
  SOCKET s = accept(sock(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<SocketHandle>(s);
}

}  // namespace qv
