// The server role: answering a ClientHello, taking the key exchange, and
// resuming cached sessions.
#include "crypto/rsa.h"
#include "tls/cipher_suites.h"
#include "tls/handshake_reader.h"
#include "tls/session_cache.h"
#include "tls/tls_connection.h"

namespace qv {

void TlsConnection::ProcessClientHello(std::string_view body) {
  LogHandshakeData("ProcessClientHello", body);
  HandshakeReader reader(body);
  const std::string_view clientVersion = reader.ReadBytes(2);
  const std::uint32_t offered = bytesToUInt(clientVersion);
  if (offered < 0x0300) {
    const auto major = clientVersion.size() > 0 ? static_cast<std::uint8_t>(clientVersion[0]) : 0;
    const auto minor = clientVersion.size() > 1 ? static_cast<std::uint8_t>(clientVersion[1]) : 0;
    Log(7, "SSL version " + std::to_string(major) + "." + std::to_string(minor) + " is not supported");
    SendAlert(kAlertProtocolVersion, kAlertFatal);
    return;
  }
  version_ = offered >= kVersionTls10 ? kVersionTls10 : kVersionSsl30;
  handshake_.clientRandom = Bytes(reader.ReadBytes(32));
  handshake_.sessionId = Bytes(reader.ReadVector8());
  const std::string_view suites = reader.ReadVector16();
  reader.ReadVector8();

  if (sessionCaching_ && !handshake_.sessionId.empty()) {
    if (const std::optional<SessionEntry> entry = ResumeSession(handshake_.sessionId)) {
      handshake_.cipherSuite = entry->suite;
      handshake_.masterSecret = entry->master;
      if (KeysAvailable()) {
        Log(7, "Resuming session " + hexEncode(handshake_.sessionId));
        SendServerHello();
        SendChangeCipherSpec();
        PerformChangeCipherSpec();
        SendFinished();
        return;
      }
    }
    Log(7, "Session " + hexEncode(handshake_.sessionId) + " not found");
    // A new session gets a new id of ours, never the one the client offered.
    handshake_.sessionId.clear();
  }

  handshake_.cipherSuite.clear();
  for (std::size_t k = 0; k + 1 < suites.size(); k += 2) {
    if (IsSupportedSuite(suites.substr(k, 2))) {
      handshake_.cipherSuite = Bytes(suites.substr(k, 2));
      break;
    }
  }
  if (handshake_.cipherSuite.empty()) {
    Log(5, "No common cipher suite in client hello");
    SendAlert(kAlertHandshakeFailure, kAlertFatal);
    return;
  }
  handshake_.privateKey = OwnPrivateKey();
  if (!serverName_.empty()) Log(7, "Received client hello for domain " + serverName_);
  SendServerHello();
  SendCertificate();
  SendHelloDone();
}

void TlsConnection::SendServerHello() {
  handshake_.serverRandom = randomBytes(32);
  if (handshake_.sessionId.empty()) handshake_.sessionId = randomBytes(32);
  Bytes body = versionBytes(version_) + handshake_.serverRandom;
  if (sessionCaching_) {
    body += static_cast<char>(handshake_.sessionId.size());
    body += handshake_.sessionId;
  } else {
    body += '\0';
  }
  body += handshake_.cipherSuite;
  body += '\0';
  LogHandshakeData("SendServerHello", body);
  SendHandshake(kHandshakeServerHello, body);
}

void TlsConnection::SendHelloDone() {
  LogHandshakeData("SendHelloDone", "");
  SendHandshake(kHandshakeServerHelloDone, "");
}

void TlsConnection::ProcessClientKeyExchange(std::string_view body) {
  LogHandshakeData("ProcessClientKeyExchange", body);
  if (!IsSupportedSuite(handshake_.cipherSuite)) {
    Log(1, "Unknown Cipher");
    return;
  }
  HandshakeReader reader(body);
  const std::string_view encrypted = UsesTlsFormulas() ? reader.ReadVector16() : body;
  Bytes preMaster = rsaPrivateOp(handshake_.privateKey, encrypted);
  LogHandshakeData("Pre Master Secret", preMaster);
  if (preMaster.size() < 48) {
    // Undecryptable (no key, or a value out of range): go on with a secret
    // nobody knows, so the failure shows only at Finished.
    preMaster = randomBytes(48);
  }
  LogHandshakeData("Client Random", handshake_.clientRandom);
  LogHandshakeData("Server Random", handshake_.serverRandom);
  ComputeMasterSecret(preMaster);
  if (sessionCaching_ && !handshake_.sessionId.empty()) {
    StoreSession(handshake_.sessionId, handshake_.cipherSuite, handshake_.masterSecret);
  }
}

void TlsConnection::ProcessCertificateVerify(std::string_view body) {
  LogHandshakeData("ProcessCertificateVerify", body);
}

}  // namespace qv
