#pragma once
// Runs our TlsConnection over a real loopback socket, as the CSTA
// connection does: socket bytes in through ReceiveBytes, everything
// SendApplicationData returns out to the socket.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "platform/socket.h"
#include "tls/tls_connection.h"

namespace qv::test {

using ByteFilter = std::function<Bytes(Bytes)>;

class SocketDriver {
 public:
  SocketDriver(TlsConnection& tls, SocketHandle socket) : tls_(tls), socket_(socket) {}
  ~SocketDriver() { Close(); }
  SocketDriver(const SocketDriver&) = delete;
  SocketDriver& operator=(const SocketDriver&) = delete;

  // Connects to 127.0.0.1:port; invalid socket when nothing listens.
  static SocketHandle Connect(std::uint16_t port) {
    const std::atomic<bool> cancel{false};
    const ConnectResult result = connectTcp("127.0.0.1", std::to_string(port), cancel);
    return result.status == 0 ? result.socket : kInvalidSocket;
  }

  bool Valid() const { return socket_ != kInvalidSocket; }
  // Queues plaintext and writes whatever the connection has for the socket.
  bool Send(std::string_view plaintext) {
    const Bytes out = tls_.SendApplicationData(plaintext);
    return out.empty() || sendAll(socket_, out);
  }
  // Pumps until `done` holds for the plaintext gathered so far, the peer
  // closes, the connection fails, or the time is up. Returns the plaintext.
  Bytes PumpUntil(const std::function<bool(const Bytes&)>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(received_) && std::chrono::steady_clock::now() < deadline) {
      if (!Send("")) break;
      if (!waitReadable(socket_, 50)) continue;
      char buffer[4096];
      const long n = receiveSome(socket_, buffer, sizeof buffer);
      if (n <= 0) {
        peerClosed_ = true;
        break;
      }
      Bytes bytes(buffer, static_cast<std::size_t>(n));
      Record(bytes);
      if (filter_) bytes = filter_(std::move(bytes));
      received_ += tls_.ReceiveBytes(bytes);
    }
    Send("");
    return received_;
  }
  Bytes PumpUntilHandshakeDone() {
    return PumpUntil([this](const Bytes&) { return tls_.HandshakeDone() || tls_.Failed(); });
  }
  Bytes PumpUntilContains(const std::string& text) {
    return PumpUntil([&](const Bytes& got) { return got.find(text) != Bytes::npos || tls_.Failed(); });
  }
  // Reads to the peer's close (bounded).
  Bytes PumpUntilClosed(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return PumpUntil([](const Bytes&) { return false; }, limit);
  }
  void SetFilter(ByteFilter filter) { filter_ = std::move(filter); }
  // With QV_TLS_RECORD_DIR set, every byte received is also written to
  // <dir>/<name>: real peer flights for the fuzzers' seed corpora.
  void RecordAs(const std::string& name) {
    const char* dir = std::getenv("QV_TLS_RECORD_DIR");
    if (dir != nullptr && *dir != '\0') recordPath_ = std::string(dir) + "/" + name;
  }
  bool PeerClosed() const { return peerClosed_; }
  Bytes& Received() { return received_; }
  void Close() {
    if (socket_ != kInvalidSocket) closeSocket(socket_);
    socket_ = kInvalidSocket;
  }

 private:
  TlsConnection& tls_;
  SocketHandle socket_;
  Bytes received_;
  ByteFilter filter_;
  bool peerClosed_ = false;
  std::string recordPath_;

  void Record(const Bytes& bytes) const {
    if (recordPath_.empty()) return;
    std::ofstream out(recordPath_, std::ios::binary | std::ios::app);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
};

// A free loopback port (bound and released again), never one this process
// has handed out before: a peer started on it cannot meet an earlier peer's
// leftovers (its output file, a connection still closing).
inline std::uint16_t freePort() {
  static std::mutex lock;
  static std::set<std::uint16_t> handedOut;
  std::uint16_t port = 0;
  for (int attempt = 0; attempt < 64; ++attempt) {
    const SocketHandle listener = listenTcp("127.0.0.1", 0, port);
    closeSocket(listener);
    std::lock_guard hold(lock);
    if (handedOut.insert(port).second) break;
  }
  return port;
}

}  // namespace qv::test
