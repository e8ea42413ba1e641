#include "tls/tls_connection.h"

#include <utility>

#include "session/log.h"
#include "session/settings.h"
#include "tls/cipher_suites.h"

namespace qv {

void TlsConnection::SetServerName(std::string_view name) { serverName = std::string(name); }

void TlsConnection::StartClient() {
  isClient = 1;
  SendClientHello();
}

Bytes TlsConnection::SendApplicationData(std::string_view bytes) {
  pendingPlaintext.append(bytes);
  // Never to a peer whose Finished failed, and never without keys.
  if (handshakeDone && !failed && cipherAlgorithm != kCipherNone && writeCipherActive) {
    SendRecord(kContentApplicationData, pendingPlaintext);
    pendingPlaintext.clear();
  }
  return std::exchange(outgoingData, Bytes());
}

Bytes TlsConnection::ReceiveBytes(std::string_view bytes) {
  // After a fatal alert nothing more is read; keeping the bytes would only
  // let the peer grow the buffer.
  if (!failed) receiveBuffer.append(bytes);
  std::size_t position = 0;
  while (!failed) {
    const std::size_t available = receiveBuffer.size() - position;
    if (available < 5) break;
    const std::string_view header(receiveBuffer.data() + position, 5);
    const auto type = static_cast<std::uint8_t>(header[0]);
    const std::size_t length = (static_cast<std::size_t>(static_cast<std::uint8_t>(header[3])) << 8) |
                               static_cast<std::uint8_t>(header[4]);
    if (length > kMaxFragment + kMaxRecordExpansion) {
      writeLog(3, logPrefix + "Record too long (" + std::to_string(length) + " bytes)");
      SendAlert(kAlertRecordOverflow, kAlertFatal);
      break;
    }
    if (available < 5 + length) break;
    const Bytes recordVersion(header.substr(1, 2));
    const std::string_view fragment(receiveBuffer.data() + position + 5, length);
    position += 5 + length;
    ProcessRecord(type, recordVersion, fragment);
  }
  if (failed) {
    receiveBuffer.clear();
  } else {
    receiveBuffer.erase(0, position);
  }
  return std::exchange(applicationData, Bytes());
}

void TlsConnection::PrepareResumption() {
  TlsConnection next;
  next.sessionId = std::move(sessionId);
  next.masterSecret = std::move(masterSecret);
  next.cipherSuite = std::move(cipherSuite);
  next.serverName = std::move(serverName);
  next.logPrefix = std::move(logPrefix);
  next.verifyCertificates = verifyCertificates;
  next.sessionCaching = sessionCaching;
  *this = std::move(next);
}

bool TlsConnection::UsesTlsFormulas() const {
  return version.size() >= 2 && static_cast<signed char>(version[0]) >= 3 &&
         static_cast<signed char>(version[1]) >= 1;
}

bool TlsConnection::KeysAvailable() const {
  return IsSupportedSuite(cipherSuite) && masterSecret.size() == 48;
}

namespace {

std::string sessionTag(const Bytes& sessionId) {
  if (sessionId.empty()) return {};
  return "[" + hexEncode(std::string_view(sessionId).substr(0, 4)) + "]";
}

// Level 9 text is built only when it will be written (it hexes whole
// messages); the call still reaches writeLog, which starts the log clock.
bool traceEnabled() {
  if (currentLogLevel() >= 9) return true;
  writeLog(9, {});
  return false;
}

}  // namespace

void TlsConnection::LogHandshakeData(std::string_view label, std::string_view bytes) const {
  if (!traceEnabled()) return;
  std::string text = logPrefix + sessionTag(sessionId);
  text.append(label);
  text += '(';
  text += hexEncode(bytes);
  text += ')';
  writeLog(9, text);
}

void TlsConnection::LogTlsMessage(std::string_view text) const {
  if (!traceEnabled()) return;
  std::string line = logPrefix + sessionTag(sessionId);
  line.append(text);
  writeLog(9, line);
}

void TlsConnection::FailHandshake(std::uint8_t description, std::string_view logText) {
  writeLog(3, logPrefix + std::string(logText));
  SendAlert(description, kAlertFatal);
}

}  // namespace qv
