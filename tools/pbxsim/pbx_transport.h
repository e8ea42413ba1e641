#pragma once
// How the simulator talks to one client: plain TCP or TLS. The CSTA logic
// above it is the same for both.
#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/socket.h"

namespace qv::pbxsim {

class Transport {
 public:
  virtual ~Transport() = default;
  // Completes the transport's own set-up (the TLS handshake); false on failure.
  virtual bool Open() = 0;
  // Sends everything; false when the connection is gone.
  virtual bool Send(std::string_view bytes) = 0;
  // Bytes received, 0 when closed, negative on failure.
  virtual long Receive(char* buffer, std::size_t size) = 0;
  // Ends the connection from another thread; Receive returns.
  virtual void Abort() = 0;
  // The socket itself, below any TLS: for the fault modes that answer with
  // raw bytes or none at all.
  virtual bool SendRaw(std::string_view bytes) = 0;
  virtual long ReceiveRaw(char* buffer, std::size_t size) = 0;
};

std::unique_ptr<Transport> MakePlainTransport(SocketHandle socket);

// TLS 1.0 server side with a self-signed RSA certificate made at start-up.
class TlsServer {
 public:
  TlsServer();
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;
  bool Ready() const;
  std::unique_ptr<Transport> Wrap(SocketHandle socket);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::pbxsim
