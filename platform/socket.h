#pragma once
// TCP sockets: Winsock on Windows, BSD sockets elsewhere (socket.cpp holds
// what both share). Blocking sockets; a blocked receive or send is woken
// from another thread with abortSocket.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

// Starts the socket library (WinSock 2.2 on Windows). False when no usable
// version is available; every successful start needs one stopNetworking.
bool startNetworking();
void stopNetworking();

// Sends on a connected socket fail after this long without progress.
inline constexpr int kSendTimeoutMs = 10000;

struct ConnectResult {
  SocketHandle socket = kInvalidSocket;
  int status = -1;                // 0 when connected; otherwise the resolver's or connect's error
  bool lookupUnfinished = false;  // the name lookup had not answered when the wait ended
};

// Resolves host:service (any family, stream, TCP) and connects to the first
// IPv4 or IPv6 entry only; a failed connect does not move on to the next
// entry. Gives up once `cancel` becomes true or after timeoutMs for lookup and
// connect together (negative: only the system's own time-outs apply). A
// lookup given up on keeps running on its own thread, and the module stays
// loaded for it.
ConnectResult connectTcp(const std::string& host, const std::string& service, const std::atomic<bool>& cancel,
                         int timeoutMs = -1);

// Name lookups still running on their own threads (awaited or given up on).
int unfinishedNameLookups();

// One send call; the number of bytes the system took, or -1.
long sendOnce(SocketHandle socket, std::string_view bytes);
// One send that never waits for room in the socket: the bytes taken (0 when
// it would have to wait, or where the system has no such send), or -1.
long sendWithoutWaiting(SocketHandle socket, std::string_view bytes);
// Sends everything, looping over short sends; false on failure.
bool sendAll(SocketHandle socket, std::string_view bytes);
// One receive call: bytes received, 0 when the peer closed, -1 on failure.
long receiveSome(SocketHandle socket, char* buffer, std::size_t size);
// Waits until the socket is readable (or closed); false on timeout.
bool waitReadable(SocketHandle socket, int timeoutMs);
// Ends both directions so that a receive blocked on another thread returns.
void abortSocket(SocketHandle socket);
void closeSocket(SocketHandle socket);

// Listening side, used by the PBX simulator and the tests. port 0 picks an
// ephemeral port; boundPort receives the port actually bound.
SocketHandle listenTcp(const std::string& host, std::uint16_t port, std::uint16_t& boundPort);
// Blocks until a peer connects; invalid on failure (also after abortSocket).
SocketHandle acceptConnection(SocketHandle listener);

}  // namespace qv
