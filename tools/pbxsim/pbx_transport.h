#pragma once
// How the simulator talks to one client: plain TCP or TLS. The CSTA logic
// above it is the same for both.
#include <cstddef>
#include <memory>
#include <string>
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

// TLS server side with the certificate chain and key of the PEM files, or
// (both empty) a self-signed RSA-2048 certificate made at start-up: TLS 1.0
// with AES128-SHA/AES256-SHA, or (modern) OpenSSL's default versions,
// ciphers and security level. With clientCaFile a client must present a
// certificate that leads to one of its roots, or the handshake fails.
class TlsServer {
 public:
  TlsServer(const std::string& certFile, const std::string& keyFile, bool modern = false,
            const std::string& clientCaFile = {});
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;
  bool Ready() const;
  // "AB:CD:..." SHA-256 of the own certificate.
  std::string Fingerprint() const;
  std::unique_ptr<Transport> Wrap(SocketHandle socket);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::pbxsim
