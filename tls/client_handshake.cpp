// The client's side of the handshake: hello, the server's first flight and
// the client's second flight.
#include "crypto/md5.h"
#include "crypto/rsa.h"
#include "crypto/sha1.h"
#include "session/log.h"
#include "tls/certificate.h"
#include "tls/cipher_suites.h"
#include "tls/der_reader.h"
#include "tls/handshake_reader.h"
#include "tls/tls_connection.h"

namespace qv {

namespace {

// 00 02 PS 00 pre-master needs at least eight padding bytes.
constexpr std::size_t kMinModulusBytes = 48 + 11;

std::uint32_t readNumber(std::string_view bytes) { return bytesToUInt(bytes); }

// Non-zero random bytes for the PKCS#1 type-2 padding.
Bytes nonZeroRandomBytes(std::size_t count) {
  Bytes padding;
  padding.reserve(count);
  while (padding.size() < count) {
    Bytes candidate = randomBytes(1);
    const auto byte = static_cast<std::uint8_t>(candidate[0]);
    if (byte != 0x00 && byte != 0xFF) padding += candidate;
  }
  return padding;
}

}  // namespace

void TlsConnection::SendClientHello() {
  version = Bytes("\x03\x01", 2);
  clientRandom = randomBytes(32);
  Bytes body = version + clientRandom;
  body += static_cast<char>(sessionId.size());
  body += sessionId;
  body += uintToBytes(static_cast<std::uint32_t>(kOfferedSuites.size()), 2);
  body.append(kOfferedSuites);
  body += Bytes("\x01\x00", 2);
  if (!serverName.empty()) {
    const auto nameLength = static_cast<std::uint32_t>(serverName.size());
    Bytes extension = Bytes("\x00\x00", 2);
    extension += uintToBytes(nameLength + 5, 2);
    extension += uintToBytes(nameLength + 3, 2);
    extension += '\0';
    extension += uintToBytes(nameLength, 2);
    extension += serverName;
    body += uintToBytes(static_cast<std::uint32_t>(extension.size()), 2);
    body += extension;
  }
  LogHandshakeData("SendClientHello", body);
  SendHandshake(kHandshakeClientHello, body);
}

void TlsConnection::ProcessServerHello(std::string_view body) {
  LogHandshakeData("ProcessServerHello", body);
  HandshakeReader reader(body);
  if (readNumber(reader.ReadBytes(2)) < 0x0301) {
    SendAlert(kAlertProtocolVersion, kAlertFatal);
    return;
  }
  serverRandom = Bytes(reader.ReadBytes(32));
  sessionId = Bytes(reader.ReadVector8());
  cipherSuite = Bytes(reader.ReadBytes(2));
  reader.ReadBytes(1);
  if (reader.remaining() > 0) reader.ReadVector16();
}

void TlsConnection::ProcessCertificate(std::string_view body) {
  LogHandshakeData("ProcessCertificate", body);
  HandshakeReader reader(body);
  HandshakeReader list(reader.ReadVector24());
  std::vector<Bytes> chain;
  while (list.remaining() > 0) chain.emplace_back(list.ReadVector24());
  LogTlsMessage("Received " + std::to_string(chain.size()) + " certificates");
  if (chain.empty()) {
    SendAlert(kAlertUnknownCa, kAlertFatal);
    return;
  }
  Certificate certificate = ParseCertificateChain(chain, verifyCertificates ? "" : " ");
  if (!verifyCertificates) {
    LogTlsMessage("Don't verify certificates");
  } else if (!serverName.empty() && !DomainMatches(certificate.subjectDomain, serverName)) {
    if (!certificate.subjectDomain.empty()) {
      writeLog(4, "Expecting domain " + serverName + ", but received " + certificate.subjectDomain +
                      " in certificate");
    }
    SendAlert(kAlertCertificateUnknown, kAlertFatal);
    return;
  }
  LogHandshakeData("Rsa N", certificate.modulus);
  LogHandshakeData("Rsa E", certificate.exponent);
  if (certificate.modulus.empty() || certificate.exponent.empty() ||
      certificate.exponent.size() > kMaxRsaExponentBytes) {
    SendAlert(kAlertUnsupportedCertificate, kAlertFatal);
    return;
  }
  // Too short for a type-2 block around the pre-master secret, or so long
  // that the arithmetic would stall the connection.
  if (certificate.modulus.size() < kMinModulusBytes || certificate.modulus.size() > kMaxRsaModulusBytes) {
    writeLog(3, logPrefix + "Unusable RSA key of " + std::to_string(certificate.modulus.size()) +
                    " bytes in certificate");
    SendAlert(kAlertUnsupportedCertificate, kAlertFatal);
    return;
  }
  serverCertificate = std::move(certificate);
}

void TlsConnection::ProcessCertificateRequest(std::string_view body) {
  LogHandshakeData("ProcessCertificateRequest", body);
  certificateRequest = Bytes(body);
}

void TlsConnection::ProcessServerHelloDone(std::string_view body) {
  LogHandshakeData("ProcessServerHelloDone", body);
  if (writeCipherActive) {
    // The second flight already went out under these keys.
    FailHandshake(kAlertUnexpectedMessage, "Unexpected ServerHelloDone");
    return;
  }
  if (!certificateRequest.empty()) SendCertificate();
  SendClientKeyExchange();
  if (failed) return;
  if (!certificateRequest.empty()) SendCertificateVerify();
  certificateRequest.clear();
  if (!KeysAvailable()) {
    // Going on would protect nothing and accept the peer's records unchecked.
    FailHandshake(kAlertHandshakeFailure, "Unsupported cipher suite " + hexEncode(cipherSuite));
    return;
  }
  SendChangeCipherSpec();
  PerformChangeCipherSpec();
  SendFinished();
}

void TlsConnection::SendCertificate() {
  const Certificate identity = OwnIdentity();
  Bytes list;
  if (isClient != 0) {
    HandshakeReader request(certificateRequest);
    const std::string_view types = request.ReadVector8();
    const std::string_view authorities = request.ReadVector16();
    const std::string ownIssuer = toLowerAscii(identity.issuerName);
    bool matched = false;
    for (const char type : types) {
      if (type != 1) continue;
      HandshakeReader names(authorities);
      while (names.remaining() > 0) {
        std::string_view name = names.ReadVector16();
        const std::string_view content = TakeElement(kDerSequence, name).content;
        if (!ownIssuer.empty() && toLowerAscii(content) == ownIssuer) {
          matched = true;
        } else {
          // Named from the DER as sent: lower-casing would also change the
          // attribute type bytes (0x55 is 'U') and hide every name.
          LogTlsMessage("Certificate request from " + NameText(content) + " could not be answered");
        }
      }
    }
    if (!matched) certificateRequest.clear();
  }
  // A server always sends its identity; a client only what the request matched.
  if (isClient == 0 || !certificateRequest.empty()) {
    for (const Bytes& der : identity.chain) {
      list += uintToBytes(static_cast<std::uint32_t>(der.size()), 3);
      list += der;
    }
  }
  const Bytes body = uintToBytes(static_cast<std::uint32_t>(list.size()), 3) + list;
  LogHandshakeData("SendCertificate", body);
  SendHandshake(kHandshakeCertificate, body);
}

void TlsConnection::SendClientKeyExchange() {
  if (!IsSupportedSuite(cipherSuite)) return;
  const Bytes& n = serverCertificate.modulus;
  const Bytes& e = serverCertificate.exponent;
  LogHandshakeData("RSA N", n);
  LogHandshakeData("RSA E", e);
  if (n.size() < kMinModulusBytes || n.size() > kMaxRsaModulusBytes || e.empty() ||
      e.size() > kMaxRsaExponentBytes) {
    // No (usable) certificate arrived before ServerHelloDone.
    FailHandshake(kAlertUnsupportedCertificate, "No usable RSA key for the key exchange");
    return;
  }
  const Bytes preMaster = version + randomBytes(46);
  LogHandshakeData("Pre Master Secret", preMaster);
  Bytes block("\x00\x02", 2);
  block += nonZeroRandomBytes(n.size() - 48 - 3);
  block += '\0';
  block += preMaster;
  LogHandshakeData("Block Padded", block);
  RsaKey key;
  key.setPublicKey(e, n);
  const Bytes encrypted = rsaPublicOp(key, block);
  LogHandshakeData("Encrypted Pre Master", encrypted);
  ComputeMasterSecret(preMaster);
  const Bytes body = uintToBytes(static_cast<std::uint32_t>(encrypted.size()), 2) + encrypted;
  LogHandshakeData("SendClientKeyExchange", body);
  SendHandshake(kHandshakeClientKeyExchange, body);
}

void TlsConnection::SendCertificateVerify() {
  const Certificate identity = OwnIdentity();
  RsaKey key;
  key.setPrivateKey(identity.keyPrivateExponent, identity.keyPublicExponent, identity.keyModulus,
                    identity.keyPrime1, identity.keyPrime2);
  const Bytes signature = rsaSignPkcs1(key, md5Digest(handshakeMessages) + sha1Digest(handshakeMessages));
  const Bytes body = uintToBytes(static_cast<std::uint32_t>(signature.size()), 2) + signature;
  LogHandshakeData("SendCertificateVerify", body);
  SendHandshake(kHandshakeCertificateVerify, body);
}

}  // namespace qv
