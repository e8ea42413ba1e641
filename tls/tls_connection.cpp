#include "tls/tls_connection.h"

#include <utility>

#include "tls/cipher_suites.h"
#include "tls/signature_schemes.h"
#include "tls/tls12_suites.h"

namespace qv {

TlsConnection::TlsConnection(TlsLog log) : log_(std::move(log)) {}

void TlsConnection::SetLog(TlsLog log) { log_ = std::move(log); }

void TlsConnection::SetServerName(std::string_view name) { serverName_ = std::string(name); }

void TlsConnection::SetVerifyCertificates(bool verify) { verifyCertificates_ = verify; }

void TlsConnection::SetCertificateCheck(CertificateCheck check) { certificateCheck_ = std::move(check); }

void TlsConnection::SetVersionPolicy(TlsVersionPolicy policy) { versionPolicy_ = policy; }

void TlsConnection::SetClientCredentials(std::shared_ptr<const ClientCredentials> credentials) {
  clientCredentials_ = std::move(credentials);
}

void TlsConnection::StartClient() {
  role_ = TlsRole::kClient;
  SendClientHello();
}

void TlsConnection::StartServer(bool sessionCaching) {
  role_ = TlsRole::kServer;
  sessionCaching_ = sessionCaching;
}

Bytes TlsConnection::SendApplicationData(std::string_view bytes) {
  pendingPlaintext_.append(bytes);
  // Never to a peer whose Finished failed, and never without keys.
  const bool keyed = write_.cipher != CipherKind::kNone || write_.tls13.HasKey();
  if (handshake_.done && !failed_ && keyed && write_.active) {
    SendRecord(kContentApplicationData, pendingPlaintext_);
    pendingPlaintext_.clear();
  }
  return std::exchange(outgoingData_, Bytes());
}

Bytes TlsConnection::ReceiveBytes(std::string_view bytes) {
  // After a fatal alert nothing more is read; keeping the bytes would only
  // let the peer grow the buffer.
  if (!failed_) receiveBuffer_.append(bytes);
  std::size_t position = 0;
  while (!failed_) {
    const std::size_t available = receiveBuffer_.size() - position;
    if (available < 5) break;
    const std::string_view header(receiveBuffer_.data() + position, 5);
    const auto type = static_cast<std::uint8_t>(header[0]);
    const std::size_t length = (static_cast<std::size_t>(static_cast<std::uint8_t>(header[3])) << 8) |
                               static_cast<std::uint8_t>(header[4]);
    if (length > kMaxFragment + kMaxRecordExpansion) {
      Log(tls13_.active ? 1 : 3, "Record too long (" + std::to_string(length) + " bytes)");
      SendAlert(kAlertRecordOverflow, kAlertFatal);
      break;
    }
    if (available < 5 + length) break;
    const Bytes recordVersion(header.substr(1, 2));
    const std::string_view fragment(receiveBuffer_.data() + position + 5, length);
    position += 5 + length;
    ProcessRecord(type, recordVersion, fragment);
  }
  if (failed_) {
    receiveBuffer_.clear();
  } else {
    receiveBuffer_.erase(0, position);
  }
  return std::exchange(applicationData_, Bytes());
}

void TlsConnection::SendCloseNotify() { SendAlert(kAlertCloseNotify, kAlertWarning); }

void TlsConnection::PrepareResumption() {
  TlsConnection next(std::move(log_));
  next.handshake_.sessionId = std::move(handshake_.sessionId);
  next.handshake_.masterSecret = std::move(handshake_.masterSecret);
  next.handshake_.cipherSuite = std::move(handshake_.cipherSuite);
  next.serverName_ = std::move(serverName_);
  next.verifyCertificates_ = verifyCertificates_;
  next.sessionCaching_ = sessionCaching_;
  next.certificateCheck_ = std::move(certificateCheck_);
  next.versionPolicy_ = versionPolicy_;
  next.clientCredentials_ = std::move(clientCredentials_);
  *this = std::move(next);
}

bool TlsConnection::UsesTlsFormulas() const { return version_ >= kVersionTls10; }

bool TlsConnection::KeysAvailable() const {
  const bool known =
      version_ >= kVersionTls12 ? Suite12() != nullptr : IsSupportedSuite(handshake_.cipherSuite);
  return known && handshake_.masterSecret.size() == 48;
}

namespace {

std::string sessionTag(const Bytes& sessionId) {
  if (sessionId.empty()) return {};
  return "[" + hexEncode(std::string_view(sessionId).substr(0, 4)) + "]";
}

}  // namespace

void TlsConnection::Log(int level, std::string_view text) const {
  if (!tlsLogEnabled(log_, level)) return;
  std::string line = log_.prefix;
  line.append(text);
  log_.write(level, line);
}

// Level 9 text is built only when it will be written (it hexes whole
// messages).
void TlsConnection::LogHandshakeData(std::string_view label, std::string_view bytes) const {
  if (!tlsLogEnabled(log_, 9)) return;
  std::string text = log_.prefix + sessionTag(handshake_.sessionId);
  text.append(label);
  text += '(';
  text += hexEncode(bytes);
  text += ')';
  log_.write(9, text);
}

void TlsConnection::LogTlsMessage(std::string_view text) const {
  if (!tlsLogEnabled(log_, 9)) return;
  std::string line = log_.prefix + sessionTag(handshake_.sessionId);
  line.append(text);
  log_.write(9, line);
}

void TlsConnection::FailHandshake(std::uint8_t description, std::string_view logText) {
  Log(3, logText);
  SendAlert(description, kAlertFatal);
}

}  // namespace qv
