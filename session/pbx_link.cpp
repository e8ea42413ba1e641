#include "session/pbx_link.h"

#include <optional>
#include <utility>

#include "session/csta_frame.h"
#include "session/log.h"
#include "session/settings.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {

PbxLink::PbxLink() = default;
PbxLink::~PbxLink() = default;

void PbxLink::Attach(SocketHandle socket, bool encrypt, const std::string& serverName) {
  // Read before the send lock: the settings keep a lock of their own.
  const std::string versionText = encrypt ? SettingsSnapshot().tlsversion : std::string();
  std::lock_guard lock(sendLock_);
  socket_ = socket;
  broken_ = false;
  tls_.reset();
  if (encrypt) {
    TlsLog log;
    log.enabled = [](int level) {
      if (level <= currentLogLevel()) return true;
      // A line not written still starts the log clock, as writeLog does.
      writeLog(level, {});
      return false;
    };
    log.write = [](int level, std::string_view text) { writeLog(level, text); };
    log.prefix = "CSTA: ";
    tls_ = std::make_unique<TlsConnection>(std::move(log));
    tls_->SetServerName(serverName);
    tls_->SetVerifyCertificates(false);
    const std::optional<TlsVersionPolicy> policy = ParseTlsVersionPolicy(versionText);
    if (!policy) writeLog(1, "Unknown tlsversion '" + versionText + "', using 1.0");
    tls_->SetVersionPolicy(policy.value_or(TlsVersionPolicy::kTls10));
    tls_->StartClient();
  }
}

SocketHandle PbxLink::Detach() {
  std::lock_guard lock(sendLock_);
  SocketHandle s = socket_;
  socket_ = kInvalidSocket;
  tls_.reset();
  broken_ = false;
  return s;
}

void PbxLink::Abort() {
  std::lock_guard lock(sendLock_);
  broken_ = true;
  abortSocket(socket_);
}

bool PbxLink::Connected() {
  std::lock_guard lock(sendLock_);
  return socket_ != kInvalidSocket && !broken_;
}

SocketHandle PbxLink::Socket() {
  std::lock_guard lock(sendLock_);
  return socket_;
}

bool PbxLink::WriteLocked(std::string_view bytes) {
  if (socket_ == kInvalidSocket || broken_) return false;
  if (bytes.empty()) return true;
  long n = sendOnce(socket_, bytes);
  if (n != static_cast<long>(bytes.size())) {
    // Part of a frame may be on the wire: the stream cannot be resumed.
    broken_ = true;
    abortSocket(socket_);
    return false;
  }
  return true;
}

SentRequest PbxLink::SendRequest(std::string_view xml, const InvokeIdHook& beforeSend) {
  std::lock_guard lock(sendLock_);
  SentRequest result;
  result.invokeId = nextInvokeId_++;
  if (beforeSend) beforeSend(result.invokeId);
  std::optional<Bytes> frame = BuildCstaFrame(result.invokeId, xml);
  if (!frame) {
    writeLog(
        1, "CSTA Tx: message of " + std::to_string(xml.size()) + " bytes does not fit in a frame, not sent");
    return result;
  }
  std::string trace;
  trace.reserve(9 + xml.size());
  trace.append("CSTA Tx: ").append(xml);
  writeLog(5, trace);
  if (tls_) {
    if (socket_ == kInvalidSocket || broken_) return result;
    result.sent = WriteLocked(tls_->SendApplicationData(*frame));
  } else {
    result.sent = WriteLocked(*frame);
  }
  return result;
}

Bytes PbxLink::Unwrap(std::string_view received) {
  std::lock_guard lock(sendLock_);
  if (!tls_) return Bytes(received);
  Bytes plaintext = tls_->ReceiveBytes(received);
  WriteLocked(tls_->SendApplicationData({}));
  if (tls_->Failed() && !broken_) {
    // A failed handshake or record cannot recover on this connection.
    broken_ = true;
    abortSocket(socket_);
  }
  return plaintext;
}

void PbxLink::SetNextInvokeId(std::uint32_t next) {
  std::lock_guard lock(sendLock_);
  nextInvokeId_ = next;
}

PbxLink& pbxLink() {
  static PbxLink link;
  return link;
}

}  // namespace qv
