// The server role: answering a ClientHello, taking the key exchange, and
// resuming cached sessions.
#include "crypto/rsa.h"
#include "session/log.h"
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
    writeLog(7, logPrefix + "SSL version " + std::to_string(major) + "." + std::to_string(minor) +
                    " is not supported");
    SendAlert(kAlertProtocolVersion, kAlertFatal);
    return;
  }
  version = offered >= 0x0301 ? Bytes("\x03\x01", 2) : Bytes("\x03\x00", 2);
  clientRandom = Bytes(reader.ReadBytes(32));
  sessionId = Bytes(reader.ReadVector8());
  const std::string_view suites = reader.ReadVector16();
  reader.ReadVector8();

  if (sessionCaching && !sessionId.empty()) {
    if (const std::optional<SessionEntry> entry = ResumeSession(sessionId)) {
      cipherSuite = entry->suite;
      masterSecret = entry->master;
      if (KeysAvailable()) {
        writeLog(7, logPrefix + "Resuming session " + hexEncode(sessionId));
        SendServerHello();
        SendChangeCipherSpec();
        PerformChangeCipherSpec();
        SendFinished();
        return;
      }
    }
    writeLog(7, logPrefix + "Session " + hexEncode(sessionId) + " not found");
    // A new session gets a new id of ours, never the one the client offered.
    sessionId.clear();
  }

  cipherSuite.clear();
  for (std::size_t k = 0; k + 1 < suites.size(); k += 2) {
    if (IsSupportedSuite(suites.substr(k, 2))) {
      cipherSuite = Bytes(suites.substr(k, 2));
      break;
    }
  }
  if (cipherSuite.empty()) {
    writeLog(5, logPrefix + "No common cipher suite in client hello");
    SendAlert(kAlertHandshakeFailure, kAlertFatal);
    return;
  }
  serverCertificate = OwnIdentity();
  privateKey.setPrivateKey(serverCertificate.keyPrivateExponent, serverCertificate.keyPublicExponent,
                           serverCertificate.keyModulus, serverCertificate.keyPrime1,
                           serverCertificate.keyPrime2);
  if (!serverName.empty()) writeLog(7, logPrefix + "Received client hello for domain " + serverName);
  SendServerHello();
  SendCertificate();
  SendHelloDone();
}

void TlsConnection::SendServerHello() {
  serverRandom = randomBytes(32);
  if (sessionId.empty()) sessionId = randomBytes(32);
  Bytes body = version + serverRandom;
  if (sessionCaching) {
    body += static_cast<char>(sessionId.size());
    body += sessionId;
  } else {
    body += '\0';
  }
  body += cipherSuite;
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
  if (!IsSupportedSuite(cipherSuite)) {
    writeLog(1, logPrefix + "Unknown Cipher");
    return;
  }
  HandshakeReader reader(body);
  const std::string_view encrypted = UsesTlsFormulas() ? reader.ReadVector16() : body;
  Bytes preMaster = rsaPrivateOp(privateKey, encrypted);
  LogHandshakeData("Pre Master Secret", preMaster);
  if (preMaster.size() < 48) {
    // Undecryptable (no key, or a value out of range): go on with a secret
    // nobody knows, so the failure shows only at Finished.
    preMaster = randomBytes(48);
  }
  LogHandshakeData("Client Random", clientRandom);
  LogHandshakeData("Server Random", serverRandom);
  ComputeMasterSecret(preMaster);
  if (sessionCaching && !sessionId.empty()) StoreSession(sessionId, cipherSuite, masterSecret);
}

void TlsConnection::ProcessCertificateVerify(std::string_view body) {
  LogHandshakeData("ProcessCertificateVerify", body);
}

}  // namespace qv
