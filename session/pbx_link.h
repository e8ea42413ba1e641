#pragma once
// The sending side of the PBX connection. The socket, the connection's
// TlsConnection and nextInvokeId sit behind one lock (the send lock), so
// frames from TAPI's threads and the worker never interleave on the wire and
// every request gets its own invoke id.
//
// Lock order: sessionLock -> call-table lock -> send lock -> log lock.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/socket.h"
#include "session/csta_requests.h"
#include "xml/byte_string.h"

namespace qv {

class TlsConnection;

class PbxLink {
 public:
  PbxLink();
  ~PbxLink();
  PbxLink(const PbxLink&) = delete;
  PbxLink& operator=(const PbxLink&) = delete;

  // Takes over a connected socket. With encrypt a fresh TlsConnection is
  // set up and its ClientHello queued; it leaves with the next send.
  void Attach(SocketHandle socket, bool encrypt, const std::string& serverName);
  // Forgets the connection and hands the socket back for closing.
  SocketHandle Detach();
  // Breaks the connection: a receive blocked on it returns and later sends
  // fail until the next Attach.
  void Abort();
  bool Connected();
  // The connected socket, for the reader's receives.
  SocketHandle Socket();

  // Frames, traces and sends one request with a new invoke id. beforeSend
  // runs under the send lock, before the frame can reach the PBX.
  SentRequest SendRequest(std::string_view xml, const InvokeIdHook& beforeSend = {});
  // Plain connections return the bytes as they are. With TLS the records are
  // processed, waiting handshake bytes flushed, and the plaintext returned.
  Bytes Unwrap(std::string_view received);

  // Invoke ids are 1 at load; only tests set them.
  void SetNextInvokeId(std::uint32_t next);

 private:
  // Writes bytes with one send call; a short or failed send breaks the connection.
  bool WriteLocked(std::string_view bytes);

  std::mutex sendLock_;
  SocketHandle socket_ = kInvalidSocket;
  std::unique_ptr<TlsConnection> tls_;
  bool broken_ = false;
  std::uint32_t nextInvokeId_ = 1;
};

// The one PBX connection of the process.
PbxLink& pbxLink();

}  // namespace qv
