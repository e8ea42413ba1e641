#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "platform/socket_os.h"

namespace qv {

namespace {

SOCKET sock(SocketHandle s) { return static_cast<SOCKET>(s); }

void setBlocking(SOCKET s, bool blocking) {
  u_long mode = blocking ? 0 : 1;
  ioctlsocket(s, FIONBIO, &mode);
}

}  // namespace

namespace os {

int startConnect(const SocketAddress& address, SocketHandle& socket) {
  SOCKET s = ::socket(address.family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return WSAGetLastError();
  setBlocking(s, false);
  socket = static_cast<SocketHandle>(s);
  if (connect(s, reinterpret_cast<const sockaddr*>(address.bytes.data()), static_cast<int>(address.length)) ==
      0) {
    return 0;
  }
  int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return kConnectPending;
  closesocket(s);
  socket = kInvalidSocket;
  return error;
}

int pollConnect(SocketHandle socket, int sliceMs) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(sock(socket), &writable);
  FD_SET(sock(socket), &failed);
  timeval slice{sliceMs / 1000, (sliceMs % 1000) * 1000};
  int r = select(0, nullptr, &writable, &failed, &slice);
  if (r == SOCKET_ERROR) return WSAGetLastError();
  if (r == 0) return kConnectPending;
  int error = 0;
  int length = sizeof error;
  if (getsockopt(sock(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
    return WSAGetLastError();
  }
  return error;
}

void finishConnect(SocketHandle socket) {
  SOCKET s = sock(socket);
  setBlocking(s, true);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  // A peer that stops reading must not block the writer for ever.
  DWORD sendLimit = kSendTimeoutMs;
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendLimit), sizeof sendLimit);
}

int timedOutError() { return WSAETIMEDOUT; }
int cancelledError() { return WSAECANCELLED; }

SocketHandle bindAndListen(const SocketAddress& address, int backlog) {
  SOCKET s = ::socket(address.family, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (bind(s, reinterpret_cast<const sockaddr*>(address.bytes.data()), static_cast<int>(address.length)) !=
          0 ||
      listen(s, backlog) != 0) {
    closesocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

std::uint16_t localPort(SocketHandle socket) {
  sockaddr_storage bound{};
  int length = sizeof bound;
  if (getsockname(sock(socket), reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
  if (bound.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
}

}  // namespace os

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

long sendOnce(SocketHandle socket, std::string_view bytes) {
  if (socket == kInvalidSocket) return -1;
  int n = send(sock(socket), bytes.data(), static_cast<int>(bytes.size()), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

// Winsock's send has no per-call non-blocking flag and the socket stays
// blocking for the writer: the writer sends everything.
long sendWithoutWaiting(SocketHandle socket, std::string_view /*bytes*/) {
  return socket == kInvalidSocket ? -1 : 0;
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
  // A blocking recv, send or accept is not always woken by shutdown alone.
  CancelIoEx(reinterpret_cast<HANDLE>(sock(socket)), nullptr);
}

void closeSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(sock(socket));
}

SocketHandle acceptConnection(SocketHandle listener) {
  SOCKET s = accept(sock(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return static_cast<SocketHandle>(s);
}

}  // namespace qv
