#pragma once
// What each platform provides to the portable socket code (socket.cpp): the
// few calls that differ between BSD sockets and Winsock. Only platform/
// includes this.
#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/socket.h"

namespace qv::os {

// One resolved address, copied out of the resolver's list.
struct SocketAddress {
  int family = 0;
  bool internet = false;  // IPv4 or IPv6
  std::array<unsigned char, 128> bytes{};
  std::size_t length = 0;
};

inline constexpr int kConnectPending = -2;
// Creates a non-blocking socket and starts connecting: 0 when connected at
// once, kConnectPending, or an error (the socket is then closed).
int startConnect(const SocketAddress& address, SocketHandle& socket);
// Waits up to sliceMs for a pending connect: kConnectPending, 0 when
// connected, or the connect's error.
int pollConnect(SocketHandle socket, int sliceMs);
// A connected socket goes back to blocking, without Nagle's delay and with
// the send limit.
void finishConnect(SocketHandle socket);
int timedOutError();
int cancelledError();

// A socket bound to the address and listening; invalid on failure.
SocketHandle bindAndListen(const SocketAddress& address, int backlog);
std::uint16_t localPort(SocketHandle socket);

}  // namespace qv::os
