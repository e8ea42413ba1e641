#pragma once
// A connected loopback pair for the session tests: the provider's link
// writes to one end, the test reads whole frames from the other.
#include <atomic>
#include <chrono>
#include <optional>
#include <string>

#include "platform/socket.h"
#include "session/csta_frame.h"

namespace qv::test {

class LoopbackPeer {
 public:
  LoopbackPeer() {
    std::uint16_t port = 0;
    listener_ = listenTcp("127.0.0.1", 0, port);
    std::atomic<bool> cancel{false};
    client_ = connectTcp("127.0.0.1", std::to_string(port), cancel).socket;
    server_ = acceptConnection(listener_);
  }
  ~LoopbackPeer() {
    closeSocket(server_);
    closeSocket(listener_);
    if (client_ != kInvalidSocket) closeSocket(client_);
  }
  // The end handed to the provider; the caller owns it afterwards.
  SocketHandle TakeClient() {
    SocketHandle s = client_;
    client_ = kInvalidSocket;
    return s;
  }
  bool Ok() const { return server_ != kInvalidSocket; }
  // The next whole frame, or nothing within the time.
  std::optional<CstaFrame> NextFrame(int timeoutMs = 2000) {
    CstaFrame frame;
    for (;;) {
      if (cutter_.next(frame) == CstaFrameCutter::Status::frame) return frame;
      if (!waitReadable(server_, timeoutMs)) return std::nullopt;
      char buffer[4096];
      long n = receiveSome(server_, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      cutter_.append(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
  }
  // Raw bytes (not cut into frames): what arrived within the time, at least
  // `count` bytes unless the time runs out.
  std::string ReadRaw(std::size_t count, int timeoutMs = 2000) {
    std::string bytes;
    while (bytes.size() < count && waitReadable(server_, timeoutMs)) {
      char buffer[4096];
      long n = receiveSome(server_, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }
  bool Quiet(int ms = 100) { return !waitReadable(server_, ms) && cutter_.buffered() == 0; }
  void Write(std::string_view bytes) { sendAll(server_, bytes); }

 private:
  SocketHandle listener_ = kInvalidSocket;
  SocketHandle client_ = kInvalidSocket;
  SocketHandle server_ = kInvalidSocket;
  CstaFrameCutter cutter_;
};

}  // namespace qv::test
