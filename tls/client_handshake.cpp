// The client's side of the handshake: hello, the server's first flight and
// the client's second flight.
#include "crypto/digest.h"
#include "crypto/md5.h"
#include "crypto/rsa.h"
#include "crypto/sha1.h"
#include "tls/certificate.h"
#include "tls/cipher_suites.h"
#include "tls/der_reader.h"
#include "tls/handshake_reader.h"
#include "tls/tls12_suites.h"
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
  if (OffersTls13(versionPolicy_)) {
    SendClientHello13();
    return;
  }
  if (versionPolicy_ != TlsVersionPolicy::kTls10) {
    SendClientHello12();
    return;
  }
  version_ = kVersionTls10;
  handshake_.clientRandom = randomBytes(32);
  Bytes body = versionBytes(version_) + handshake_.clientRandom;
  body += static_cast<char>(handshake_.sessionId.size());
  body += handshake_.sessionId;
  body += uintToBytes(static_cast<std::uint32_t>(kOfferedSuites.size()), 2);
  body.append(kOfferedSuites);
  body += Bytes("\x01\x00", 2);
  if (!serverName_.empty()) {
    const auto nameLength = static_cast<std::uint32_t>(serverName_.size());
    Bytes extension = Bytes("\x00\x00", 2);
    extension += uintToBytes(nameLength + 5, 2);
    extension += uintToBytes(nameLength + 3, 2);
    extension += '\0';
    extension += uintToBytes(nameLength, 2);
    extension += serverName_;
    body += uintToBytes(static_cast<std::uint32_t>(extension.size()), 2);
    body += extension;
  }
  LogHandshakeData("SendClientHello", body);
  SendHandshake(kHandshakeClientHello, body);
}

void TlsConnection::ProcessServerHello(std::string_view body) {
  if (versionPolicy_ != TlsVersionPolicy::kTls10) {
    ProcessServerHello12(body);
    return;
  }
  LogHandshakeData("ProcessServerHello", body);
  HandshakeReader reader(body);
  if (readNumber(reader.ReadBytes(2)) < 0x0301) {
    SendAlert(kAlertProtocolVersion, kAlertFatal);
    return;
  }
  handshake_.serverRandom = Bytes(reader.ReadBytes(32));
  handshake_.sessionId = Bytes(reader.ReadVector8());
  handshake_.cipherSuite = Bytes(reader.ReadBytes(2));
  reader.ReadBytes(1);
  if (reader.Remaining() > 0) reader.ReadVector16();
}

void TlsConnection::ProcessCertificate(std::string_view body) {
  LogHandshakeData("ProcessCertificate", body);
  HandshakeReader reader(body);
  HandshakeReader list(reader.ReadVector24());
  std::vector<Bytes> chain;
  while (list.Remaining() > 0) chain.emplace_back(list.ReadVector24());
  LogTlsMessage("Received " + std::to_string(chain.size()) + " certificates");
  if (chain.empty()) {
    SendAlert(kAlertUnknownCa, kAlertFatal);
    return;
  }
  if (versionPolicy_ != TlsVersionPolicy::kTls10 && !handshake_.peerCertificate.chain.empty()) {
    // A second chain could swap the key after the first one was checked.
    FailHandshake(kAlertUnexpectedMessage, "Second Certificate message");
    return;
  }
  if (certificateCheck_) {
    const CertificateVerdict verdict = certificateCheck_(chain);
    if (!verdict.accepted) {
      Log(1, verdict.logLine);
      SendAlert(verdict.alert != 0 ? verdict.alert : kAlertCertificateUnknown, kAlertFatal);
      return;
    }
  }
  Certificate certificate = ParseCertificateChain(chain, verifyCertificates_ ? "" : " ", log_);
  if (!verifyCertificates_) {
    LogTlsMessage("Don't verify certificates");
  } else if (!serverName_.empty() && !DomainMatches(certificate.subjectDomain, serverName_)) {
    if (!certificate.subjectDomain.empty()) {
      writeTlsLog(log_, 4,
                  "Expecting domain " + serverName_ + ", but received " + certificate.subjectDomain +
                      " in certificate");
    }
    SendAlert(kAlertCertificateUnknown, kAlertFatal);
    return;
  }
  if (versionPolicy_ != TlsVersionPolicy::kTls10 && Suite12() != nullptr) {
    if (!AcceptServerKey12(certificate)) return;
    if (certificate.keyKind == CertificateKey::kEcP256 || certificate.keyKind == CertificateKey::kEcP384) {
      LogHandshakeData("EC point", certificate.ecPoint);
      handshake_.peerCertificate = std::move(certificate);
      return;
    }
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
    Log(3, "Unusable RSA key of " + std::to_string(certificate.modulus.size()) + " bytes in certificate");
    SendAlert(kAlertUnsupportedCertificate, kAlertFatal);
    return;
  }
  handshake_.peerCertificate = std::move(certificate);
}

void TlsConnection::ProcessCertificateRequest(std::string_view body) {
  LogHandshakeData("ProcessCertificateRequest", body);
  if (versionPolicy_ != TlsVersionPolicy::kTls10 && version_ >= kVersionTls12) {
    ProcessCertificateRequest12(body);
    return;
  }
  handshake_.certificateRequest = Bytes(body);
}

void TlsConnection::ProcessServerHelloDone(std::string_view body) {
  LogHandshakeData("ProcessServerHelloDone", body);
  if (write_.active) {
    // The second flight already went out under these keys.
    FailHandshake(kAlertUnexpectedMessage, "Unexpected ServerHelloDone");
    return;
  }
  if (!handshake_.certificateRequest.empty()) SendCertificate();
  SendClientKeyExchange();
  if (failed_) return;
  if (!handshake_.certificateRequest.empty()) SendCertificateVerify();
  handshake_.certificateRequest.clear();
  if (!KeysAvailable()) {
    // Going on would protect nothing and accept the peer's records unchecked.
    FailHandshake(kAlertHandshakeFailure, "Unsupported cipher suite " + hexEncode(handshake_.cipherSuite));
    return;
  }
  SendChangeCipherSpec();
  PerformChangeCipherSpec();
  SendFinished();
}

void TlsConnection::SendCertificate() {
  if (role_ == TlsRole::kClient && version_ >= kVersionTls12 && clientCredentials_) {
    SendClientCertificate12();
    return;
  }
  const Certificate identity = OwnIdentity();
  Bytes list;
  if (role_ == TlsRole::kClient) {
    HandshakeReader request(handshake_.certificateRequest);
    const std::string_view types = request.ReadVector8();
    // TLS 1.2 lists the signature schemes it takes; ours is PKCS#1 SHA-256.
    bool schemeUsable = true;
    if (version_ >= kVersionTls12) {
      schemeUsable = false;
      const std::string_view schemes = request.ReadVector16();
      for (std::size_t k = 0; k + 1 < schemes.size(); k += 2) {
        schemeUsable = schemeUsable || bytesToUInt(schemes.substr(k, 2)) == 0x0401;
      }
    }
    const std::string_view authorities = request.ReadVector16();
    const std::string ownIssuer = toLowerAscii(identity.issuerName);
    bool matched = false;
    for (const char type : types) {
      if (type != 1) continue;
      HandshakeReader names(authorities);
      while (names.Remaining() > 0) {
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
    if (!matched || !schemeUsable) handshake_.certificateRequest.clear();
    if (version_ >= kVersionTls12 && handshake_.certificateRequest.empty()) {
      Log(1, "Server asked for a client certificate, but none is configured: sending none");
    }
  }
  // A server always sends its identity; a client only what the request matched.
  if (role_ == TlsRole::kServer || !handshake_.certificateRequest.empty()) {
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
  const Tls12Suite* suite = Suite12();
  if (suite != nullptr && IsEcdhe(suite->keyExchange)) {
    SendClientKeyExchangeEcdhe();
    return;
  }
  if (suite == nullptr && !IsSupportedSuite(handshake_.cipherSuite)) return;
  const Bytes& n = handshake_.peerCertificate.modulus;
  const Bytes& e = handshake_.peerCertificate.exponent;
  LogHandshakeData("RSA N", n);
  LogHandshakeData("RSA E", e);
  if (n.size() < kMinModulusBytes || n.size() > kMaxRsaModulusBytes || e.empty() ||
      e.size() > kMaxRsaExponentBytes) {
    // No (usable) certificate arrived before ServerHelloDone.
    FailHandshake(kAlertUnsupportedCertificate, "No usable RSA key for the key exchange");
    return;
  }
  // The version offered, even when the server chose a lower one.
  const Bytes preMaster =
      versionBytes(handshake_.offeredVersion != 0 ? handshake_.offeredVersion : version_) + randomBytes(46);
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
  // The extended master secret covers this message too.
  const bool afterMessage = handshake_.extendedMasterSecret;
  if (!afterMessage) ComputeMasterSecret(preMaster);
  const Bytes body = uintToBytes(static_cast<std::uint32_t>(encrypted.size()), 2) + encrypted;
  LogHandshakeData("SendClientKeyExchange", body);
  SendHandshake(kHandshakeClientKeyExchange, body);
  if (afterMessage) ComputeMasterSecret(preMaster);
}

void TlsConnection::SendCertificateVerify() {
  if (role_ == TlsRole::kClient && version_ >= kVersionTls12 && clientCredentials_) {
    SendClientCertificateVerify12();
    return;
  }
  const Certificate identity = OwnIdentity();
  RsaKey key;
  key.setPrivateKey(identity.keyPrivateExponent, identity.keyPublicExponent, identity.keyModulus,
                    identity.keyPrime1, identity.keyPrime2);
  if (version_ >= kVersionTls12) {
    // rsa_pkcs1_sha256: DigestInfo(SHA-256) of the transcript.
    const Bytes digestInfo("\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20",
                           19);
    const Bytes signature =
        rsaSignPkcs1(key, digestInfo + digestOf(HashAlgorithm::kSha256, handshake_.transcript));
    const Bytes body =
        Bytes("\x04\x01", 2) + uintToBytes(static_cast<std::uint32_t>(signature.size()), 2) + signature;
    LogHandshakeData("SendCertificateVerify", body);
    SendHandshake(kHandshakeCertificateVerify, body);
    return;
  }
  const Bytes signature =
      rsaSignPkcs1(key, md5Digest(handshake_.transcript) + sha1Digest(handshake_.transcript));
  const Bytes body = uintToBytes(static_cast<std::uint32_t>(signature.size()), 2) + signature;
  LogHandshakeData("SendCertificateVerify", body);
  SendHandshake(kHandshakeCertificateVerify, body);
}

}  // namespace qv
