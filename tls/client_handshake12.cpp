// The client's TLS 1.2 handshake (tlsversion "1.2" and "auto"): the hello
// with its extensions, the version and suite the server chose, the signed
// ECDHE share, the ECDHE key exchange and the client certificate. Resumption
// is in client_resumption12.cpp.
#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "crypto/x25519.h"
#include "tls/certificate_request.h"
#include "tls/cipher_suites.h"
#include "tls/der_reader.h"
#include "tls/ec_keys.h"
#include "tls/handshake_reader.h"
#include "tls/hello_extensions.h"
#include "tls/server_key_exchange.h"
#include "tls/signature_schemes.h"
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
  const Bytes ticket = OfferSession12();
  Bytes body = versionBytes(kVersionTls12) + handshake_.clientRandom;
  body += static_cast<char>(handshake_.offeredSessionId.size());
  body += handshake_.offeredSessionId;
  body += uintToBytes(static_cast<std::uint32_t>(suites.size()), 2);
  body += suites;
  body += Bytes("\x01\x00", 2);
  body += BuildClientHelloExtensions(serverName_, ticket);
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
  handshake_.ticketExpected = extensions.extensions.sessionTicket;
  version_ = chosen;
  if (!AcceptResumption12(chosen, suite, handshake_.extendedMasterSecret)) return;
  LogTlsMessage("TLS " + versionText(chosen) + ", suite " + hexEncode(suite) +
                (handshake_.extendedMasterSecret ? ", extended master secret" : "") +
                (handshake_.resumed ? ", resumed" : ""));
}

void TlsConnection::ProcessServerKeyExchange(std::string_view body) {
  LogHandshakeData("ProcessServerKeyExchange", body);
  const Tls12Suite* suite = FindTls12Suite(handshake_.cipherSuite);
  if (suite == nullptr || !IsEcdhe(suite->keyExchange) || !handshake_.serverShare.empty() ||
      handshake_.peerCertificate.chain.empty()) {
    FailHandshake(kAlertUnexpectedMessage, "Unexpected ServerKeyExchange");
    return;
  }
  const ServerKeyExchangeCheck check = ParseServerKeyExchange(body);
  if (check.alert != 0) {
    FailHandshake(check.alert, check.error);
    return;
  }
  std::string error;
  if (!VerifyServerKeyExchange(handshake_.peerCertificate, check.params, handshake_.clientRandom,
                               handshake_.serverRandom, &error)) {
    // The RSA wording stays as it was; the other keys say what failed.
    if (handshake_.peerCertificate.keyKind == CertificateKey::kRsa &&
        error.find("does not verify") != std::string::npos) {
      error = "ServerKeyExchange signature (scheme " +
              hexEncode(uintToBytes(check.params.signatureScheme, 2)) +
              ") does not verify with the server's certificate";
    } else {
      error = "ServerKeyExchange: " + error;
    }
    Log(1, error);
    SendAlert(kAlertDecryptError, kAlertFatal);
    return;
  }
  handshake_.serverShare = check.params.publicKey;
  handshake_.serverGroup = check.params.group;
}

bool TlsConnection::SendClientKeyExchangeEcdhe() {
  if (handshake_.serverShare.empty()) {
    FailHandshake(kAlertUnexpectedMessage, "No ServerKeyExchange before ServerHelloDone");
    return false;
  }
  const EcdheResult agreed = EcdheAgree(handshake_.serverGroup, handshake_.serverShare);
  if (agreed.sharedSecret.empty()) {
    Log(1, handshake_.serverGroup == kGroupX25519 ? "Server's X25519 share gives an all-zero secret"
                                                  : "Server's ECDHE share gives no shared secret");
    SendAlert(kAlertIllegalParameter, kAlertFatal);
    return false;
  }
  const Bytes body = Bytes(1, static_cast<char>(agreed.ownShare.size())) + agreed.ownShare;
  LogHandshakeData("SendClientKeyExchange", body);
  SendHandshake(kHandshakeClientKeyExchange, body);
  ComputeMasterSecret(agreed.sharedSecret);
  return true;
}

bool TlsConnection::AcceptServerKey12(const Certificate& certificate) {
  const Tls12Suite* suite = Suite12();
  const bool ecKey =
      certificate.keyKind == CertificateKey::kEcP256 || certificate.keyKind == CertificateKey::kEcP384;
  const bool fits = suite->keyExchange == KeyExchange::kEcdheEcdsa
                        ? ecKey
                        : certificate.keyKind == CertificateKey::kRsa ||
                              (certificate.keyKind == CertificateKey::kRsaPss && IsEcdhe(suite->keyExchange));
  if (!fits) {
    Log(1, "Server's certificate has an " + std::string(CertificateKeyName(certificate.keyKind)) +
               " key, which suite " + std::string(suite->name) + " cannot use");
    SendAlert(kAlertUnsupportedCertificate, kAlertFatal);
    return false;
  }
  if (ecKey && !EcCertificatePointValid(certificate.keyKind, certificate.ecPoint)) {
    Log(1, "Server's certificate has an EC key that is not a point of its curve");
    SendAlert(kAlertBadCertificate, kAlertFatal);
    return false;
  }
  return true;
}

void TlsConnection::ProcessCertificateRequest12(std::string_view body) {
  if (!handshake_.certificateRequest.empty() || handshake_.peerCertificate.chain.empty()) {
    FailHandshake(kAlertUnexpectedMessage, "Unexpected CertificateRequest");
    return;
  }
  std::string error;
  if (!ParseCertificateRequest12(body, &error)) {
    FailHandshake(kAlertDecodeError, error);
    return;
  }
  handshake_.certificateRequest = Bytes(body);
}

void TlsConnection::SendClientCertificate12() {
  const ClientCredentials& credentials = *clientCredentials_;
  const std::optional<CertificateRequest12> request =
      ParseCertificateRequest12(handshake_.certificateRequest, nullptr);
  std::optional<std::uint16_t> scheme;
  if (request) {
    for (const std::string_view name : request->authorities) {
      std::string_view der = name;
      LogTlsMessage("Certificate request names " + NameText(TakeElement(kDerSequence, der).content));
    }
    bool ecdsa = false;
    for (const std::uint16_t own : credentials.supportedSchemes) {
      ecdsa = ecdsa || own == kSchemeEcdsaSecp256r1Sha256 || own == kSchemeEcdsaSecp384r1Sha384;
    }
    const char wantedType = static_cast<char>(ecdsa ? kCertificateTypeEcdsaSign : kCertificateTypeRsaSign);
    if (credentials.chainDer.empty()) {
      Log(1, "Client certificate has no certificate: sending none");
    } else if (request->types.find(wantedType) == std::string_view::npos) {
      Log(1, std::string("Server accepts no ") + (ecdsa ? "ECDSA" : "RSA") + " client certificate (types " +
                 hexEncode(request->types) + "): sending none");
    } else {
      scheme = ChooseClientScheme(credentials, request->schemes, false);
      if (!scheme) {
        std::string offered;
        for (const std::uint16_t peer : request->schemes) offered += " " + hexEncode(uintToBytes(peer, 2));
        Log(1, "Client certificate's key makes none of the server's signature schemes (" + offered.substr(1) +
                   "): sending none");
      }
    }
  }
  Bytes list;
  if (scheme) {
    for (const Bytes& der : credentials.chainDer) {
      list += uintToBytes(static_cast<std::uint32_t>(der.size()), 3);
      list += der;
    }
    handshake_.clientScheme = *scheme;
  } else {
    handshake_.certificateRequest.clear();
  }
  const Bytes body = uintToBytes(static_cast<std::uint32_t>(list.size()), 3) + list;
  LogHandshakeData("SendCertificate", body);
  SendHandshake(kHandshakeCertificate, body);
}

void TlsConnection::SendClientCertificateVerify12() {
  if (handshake_.clientScheme == 0) return;
  const Bytes signature = clientCredentials_->sign(handshake_.clientScheme, handshake_.transcript);
  if (signature.empty() || signature.size() > 0xFFFF) {
    Log(1, "Client certificate's key could not sign (" + SignatureSchemeName(handshake_.clientScheme) + ")");
    SendAlert(kAlertInternalError, kAlertFatal);
    return;
  }
  const Bytes body = uintToBytes(handshake_.clientScheme, 2) +
                     uintToBytes(static_cast<std::uint32_t>(signature.size()), 2) + signature;
  LogHandshakeData("SendCertificateVerify", body);
  SendHandshake(kHandshakeCertificateVerify, body);
}

}  // namespace qv
