// The client's TLS 1.2 handshake (tlsversion "1.2" and "auto"): the hello
// with its extensions, the version and suite the server chose, the signed
// ECDHE share, and the X25519 key exchange. Resumption is not offered: each
// connection runs a full handshake.
#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "crypto/x25519.h"
#include "tls/cipher_suites.h"
#include "tls/handshake_reader.h"
#include "tls/hello_extensions.h"
#include "tls/server_key_exchange.h"
#include "tls/tls12_suites.h"
#include "tls/tls_connection.h"

namespace qv {

namespace {

std::string versionText(std::uint16_t version) {
  return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

}  // namespace

void TlsConnection::SendClientHello12() {
  // The record layer says TLS 1.0 until the server has chosen, as most
  // clients do, so old servers do not drop the hello unread.
  version_ = kVersionTls10;
  handshake_.offeredVersion = kVersionTls12;
  handshake_.sessionId.clear();
  handshake_.masterSecret.clear();
  handshake_.cipherSuite.clear();
  handshake_.clientRandom = randomBytes(32);
  Bytes suites(kTls12OfferedSuites);
  if (versionPolicy_ == TlsVersionPolicy::kAuto) suites.append(kTls10OnlySuites);
  Bytes body = versionBytes(kVersionTls12) + handshake_.clientRandom;
  body += '\0';
  body += uintToBytes(static_cast<std::uint32_t>(suites.size()), 2);
  body += suites;
  body += Bytes("\x01\x00", 2);
  body += BuildClientHelloExtensions(serverName_);
  LogHandshakeData("SendClientHello", body);
  SendHandshake(kHandshakeClientHello, body);
}

void TlsConnection::ProcessServerHello12(std::string_view body) {
  LogHandshakeData("ProcessServerHello", body);
  if (!handshake_.serverRandom.empty()) {
    // This client never renegotiates.
    FailHandshake(kAlertUnexpectedMessage, "Second ServerHello");
    return;
  }
  if (body.size() < 2 + 32 + 1 + 2 + 1) {
    FailHandshake(kAlertDecodeError, "ServerHello too short");
    return;
  }
  HandshakeReader reader(body);
  const auto chosen = static_cast<std::uint16_t>(bytesToUInt(reader.ReadBytes(2)));
  const bool allowed =
      chosen == kVersionTls12 || (chosen == kVersionTls10 && versionPolicy_ == TlsVersionPolicy::kAuto);
  if (!allowed) {
    Log(1, "Server chose TLS version " + versionText(chosen) + ", which tlsversion " +
               (versionPolicy_ == TlsVersionPolicy::kAuto ? "auto" : "1.2") + " does not allow");
    SendAlert(kAlertProtocolVersion, kAlertFatal);
    return;
  }
  handshake_.serverRandom = Bytes(reader.ReadBytes(32));
  const std::size_t idLength = static_cast<std::uint8_t>(reader.ReadBytes(1)[0]);
  if (idLength > 32 || reader.Remaining() < idLength + 3) {
    FailHandshake(kAlertDecodeError, "Malformed session id in ServerHello");
    return;
  }
  handshake_.sessionId = Bytes(reader.ReadBytes(idLength));
  const std::string_view suite = reader.ReadBytes(2);
  const std::string_view compression = reader.ReadBytes(1);
  const bool suiteAllowed =
      chosen == kVersionTls12 ? FindTls12Suite(suite) != nullptr : IsSupportedSuite(suite);
  if (!suiteAllowed) {
    FailHandshake(kAlertIllegalParameter, "Server chose cipher suite " + hexEncode(suite) + " that TLS " +
                                              versionText(chosen) + " was not offered with");
    return;
  }
  if (compression[0] != '\0') {
    FailHandshake(kAlertIllegalParameter, "Server chose compression that was not offered");
    return;
  }
  const ExtensionCheck extensions = ParseServerHelloExtensions(reader.ReadBytes(reader.Remaining()));
  if (extensions.alert != 0) {
    FailHandshake(extensions.alert, extensions.error);
    return;
  }
  handshake_.cipherSuite = Bytes(suite);
  handshake_.extendedMasterSecret = extensions.extensions.extendedMasterSecret;
  version_ = chosen;
  LogTlsMessage("TLS " + versionText(chosen) + ", suite " + hexEncode(suite) +
                (handshake_.extendedMasterSecret ? ", extended master secret" : ""));
}

void TlsConnection::ProcessServerKeyExchange(std::string_view body) {
  LogHandshakeData("ProcessServerKeyExchange", body);
  const Tls12Suite* suite = FindTls12Suite(handshake_.cipherSuite);
  if (suite == nullptr || suite->keyExchange != KeyExchange::kEcdheRsa || !handshake_.serverShare.empty() ||
      handshake_.peerCertificate.modulus.empty()) {
    FailHandshake(kAlertUnexpectedMessage, "Unexpected ServerKeyExchange");
    return;
  }
  const ServerKeyExchangeCheck check = ParseServerKeyExchange(body);
  if (check.alert != 0) {
    FailHandshake(check.alert, check.error);
    return;
  }
  RsaKey key;
  key.setPublicKey(handshake_.peerCertificate.exponent, handshake_.peerCertificate.modulus);
  if (!VerifyServerKeyExchange(key, check.params, handshake_.clientRandom, handshake_.serverRandom)) {
    Log(1, "ServerKeyExchange signature (scheme " + hexEncode(uintToBytes(check.params.signatureScheme, 2)) +
               ") does not verify with the server's certificate");
    SendAlert(kAlertDecryptError, kAlertFatal);
    return;
  }
  handshake_.serverShare = check.params.publicKey;
}

bool TlsConnection::SendClientKeyExchangeEcdhe() {
  if (handshake_.serverShare.size() != kX25519Size) {
    FailHandshake(kAlertUnexpectedMessage, "No ServerKeyExchange before ServerHelloDone");
    return false;
  }
  const Bytes scalar = randomBytes(static_cast<int>(kX25519Size));
  const Bytes shared = x25519(scalar, handshake_.serverShare);
  if (shared.size() != kX25519Size || isAllZero(shared)) {
    Log(1, "Server's X25519 share gives an all-zero secret");
    SendAlert(kAlertIllegalParameter, kAlertFatal);
    return false;
  }
  const Bytes body = Bytes(1, static_cast<char>(kX25519Size)) + x25519Base(scalar);
  LogHandshakeData("SendClientKeyExchange", body);
  SendHandshake(kHandshakeClientKeyExchange, body);
  ComputeMasterSecret(shared);
  return true;
}

}  // namespace qv
