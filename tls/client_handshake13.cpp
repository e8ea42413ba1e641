// The client's TLS 1.3 handshake (tlsversion "1.3" and "auto", RFC 8446):
// one step value per state, one function per message. Each function checks
// that its message may come now, consumes it and names the next step.
// A ticket of an earlier connection is offered for resumption (psk_dhe_ke,
// never early data).
#include <algorithm>

#include "crypto/digest.h"
#include "tls/certificate.h"
#include "tls/hello_extensions.h"
#include "tls/signature_schemes.h"
#include "tls/tls12_suites.h"
#include "tls/tls13_messages.h"
#include "tls/tls_connection.h"

namespace qv {

namespace {

const char* stepName(Tls13Step step) {
  switch (step) {
    case Tls13Step::kIdle:
      return "idle";
    case Tls13Step::kWaitServerHello:
      return "waiting for ServerHello";
    case Tls13Step::kWaitEncryptedExtensions:
      return "waiting for EncryptedExtensions";
    case Tls13Step::kWaitCertificateOrRequest:
      return "waiting for Certificate";
    case Tls13Step::kWaitCertificate:
      return "waiting for Certificate after CertificateRequest";
    case Tls13Step::kWaitCertificateVerify:
      return "waiting for CertificateVerify";
    case Tls13Step::kWaitFinished:
      return "waiting for Finished";
    case Tls13Step::kConnected:
      return "connected";
  }
  return "?";
}

std::string hex16(std::uint16_t value) { return hexEncode(uintToBytes(value, 2)); }

bool sameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t k = 0; k < a.size(); ++k) difference |= static_cast<unsigned char>(a[k] ^ b[k]);
  return difference == 0;
}

const std::vector<std::uint16_t>& offeredSchemes13() { return OfferedSignatureSchemes(true); }

HashAlgorithm ticketHash(const Tls13Ticket& ticket) { return FindTls13Suite(ticket.suite)->hash; }

// Offers the ticket in the hello (its binder left as zeros).
void offerTicket(const Tls13Ticket& ticket, std::uint32_t ageMs, ClientHello13& hello) {
  hello.pskIdentity = ticket.identity;
  hello.obfuscatedAge = ageMs + ticket.ageAdd;
  hello.binderLength = digestSize(ticketHash(ticket));
}

// Writes the binder over the hello up to the binders (RFC 8446 4.2.11.2);
// transcriptBefore is what precedes this hello (a retry's message_hash and
// HelloRetryRequest).
void sealBinder(const Tls13Ticket& ticket, std::string_view transcriptBefore, Bytes& body) {
  const HashAlgorithm hash = ticketHash(ticket);
  const std::size_t binderLength = digestSize(hash);
  Bytes truncated(transcriptBefore);
  truncated += static_cast<char>(kHandshakeClientHello);
  truncated += uintToBytes(static_cast<std::uint32_t>(body.size()), 3);
  truncated.append(body, 0, body.size() - PskBindersSize(binderLength));
  const Bytes binder = Tls13ResumptionBinder(hash, ticket.psk, digestOf(hash, truncated));
  body.replace(body.size() - binderLength, binderLength, binder);
}

}  // namespace

void TlsConnection::Fail13(std::uint8_t description, std::string_view logText) {
  Log(1, logText);
  SendAlert(description, kAlertFatal);
}

bool TlsConnection::AppendTranscript13(std::string_view message) {
  if (handshake_.transcript.size() + message.size() > kMaxHandshakeTranscript) {
    Fail13(kAlertIllegalParameter, "Handshake too long");
    return false;
  }
  handshake_.transcript.append(message);
  return true;
}

Bytes TlsConnection::TranscriptHash13() const { return digestOf(tls13_.suite->hash, handshake_.transcript); }

bool TlsConnection::InstallKey13(RecordState& state, const Bytes& trafficSecret) {
  const Tls13TrafficKeys keys =
      Tls13TrafficKeysOf(tls13_.suite->hash, trafficSecret, tls13_.suite->keyLength);
  if (!state.tls13.SetKey(tls13_.suite->aead, keys.key, keys.iv)) {
    Fail13(kAlertInternalError, "No record key for " + std::string(tls13_.suite->name));
    return false;
  }
  state.active = true;
  return true;
}

void TlsConnection::SendClientHello13() {
  // The record layer says TLS 1.0 for the first hello, as the TLS 1.2 hello does.
  version_ = kVersionTls10;
  handshake_.offeredVersion = kVersionTls12;
  handshake_.masterSecret.clear();
  handshake_.cipherSuite.clear();
  handshake_.clientRandom = randomBytes(32);
  handshake_.sessionId = randomBytes(32);
  // Under "auto" a TLS 1.2 session rides along: its id as the legacy session
  // id, its ticket in the TLS 1.2 extensions.
  const Bytes ticket12 = versionPolicy_ == TlsVersionPolicy::kAuto ? OfferSession12() : Bytes();
  if (!handshake_.offeredSessionId.empty()) handshake_.sessionId = handshake_.offeredSessionId;
  // The first hello opens the transcript (a retry request replaces it by its hash).
  handshake_.transcript.clear();
  tls13_ = Tls13Handshake();
  tls13_.offered = true;
  tls13_.step = Tls13Step::kWaitServerHello;
  tls13_.shares.push_back(MakeKeyShare(kGroupX25519));
  tls13_.shares.push_back(MakeKeyShare(kGroupSecp256r1));
  std::erase_if(tls13_.shares, [](const KeySharePrivate& share) { return share.publicKey.empty(); });

  ClientHello13 hello;
  hello.random = handshake_.clientRandom;
  hello.sessionId = handshake_.sessionId;
  hello.serverName = serverName_;
  for (const KeySharePrivate& share : tls13_.shares) hello.shares.push_back({share.group, share.publicKey});
  hello.schemes = offeredSchemes13();
  if (versionPolicy_ == TlsVersionPolicy::kAuto) {
    hello.offerTls12 = true;
    hello.tls12Suites = Bytes(kTls12OfferedSuites) + Bytes(kTls10OnlySuites);
    hello.tls12Extensions = BuildClientHelloExtensions(serverName_, ticket12);
  }
  std::optional<std::uint32_t> ageMs;
  if (ticket13_ && FindTls13Suite(ticket13_->suite) != nullptr) {
    ageMs = TicketAgeMs(*ticket13_, std::chrono::steady_clock::now());
    if (!ageMs) Log(3, "TLS resumption ticket expired");
  }
  if (ageMs) offerTicket(*ticket13_, *ageMs, hello);
  tls13_.pskOffered = ageMs.has_value();
  Bytes body = BuildClientHello13(hello);
  if (tls13_.pskOffered) sealBinder(*ticket13_, {}, body);
  LogHandshakeData("SendClientHello", body);
  SendHandshake(kHandshakeClientHello, body);
  tls13_.firstHelloLength = handshake_.transcript.size();
}

void TlsConnection::ProcessHandshake13(std::string_view fragment) {
  if (fragment.empty() && tls13_.active) {
    Fail13(kAlertUnexpectedMessage, "Empty handshake record");
    return;
  }
  handshake_.partial.append(fragment);
  std::size_t position = 0;
  while (!failed_ && handshake_.partial.size() - position >= 4) {
    const std::string_view header(handshake_.partial.data() + position, 4);
    const auto type = static_cast<std::uint8_t>(header[0]);
    const std::size_t length = bytesToUInt(header.substr(1, 3));
    if (length > kMaxHandshakeMessage) {
      Fail13(kAlertIllegalParameter, "Handshake message too long (" + std::to_string(length) + " bytes)");
      break;
    }
    if (handshake_.partial.size() - position < length + 4) break;
    const Bytes message = handshake_.partial.substr(position, length + 4);
    position += length + 4;
    const bool more = handshake_.partial.size() > position;
    if (type == kHandshakeServerHello && !tls13_.active &&
        ServerHelloSelectedVersion(message.substr(4)) == 0) {
      // An answer below TLS 1.3: the TLS 1.2 code takes it from here, with
      // what follows it.
      handshake_.partial.erase(0, position);
      ProcessServerHello13(message);
      if (failed_) {
        handshake_.partial.clear();
        return;
      }
      ProcessHandshake({});
      return;
    }
    HandleHandshakeMessage13(type, message, more);
  }
  if (failed_) {
    handshake_.partial.clear();
  } else {
    handshake_.partial.erase(0, position);
  }
}

void TlsConnection::HandleHandshakeMessage13(std::uint8_t type, std::string_view message, bool moreInRecord) {
  const std::string_view body = message.substr(4);
  const Tls13Step step = tls13_.step;
  if (type == kHandshakeServerHello && step == Tls13Step::kWaitServerHello) {
    ProcessServerHello13(message);
    // New keys start with the next record.
    if (!failed_ && tls13_.active && moreInRecord) {
      Fail13(kAlertUnexpectedMessage, "Handshake data after ServerHello in the same record");
    }
    return;
  }
  if (type == kHandshakeEncryptedExtensions && step == Tls13Step::kWaitEncryptedExtensions) {
    if (AppendTranscript13(message)) ProcessEncryptedExtensions(body);
    return;
  }
  if (type == kHandshakeCertificateRequest && step == Tls13Step::kWaitCertificateOrRequest) {
    if (AppendTranscript13(message)) ProcessCertificateRequest13(body);
    return;
  }
  if (type == kHandshakeCertificate &&
      (step == Tls13Step::kWaitCertificateOrRequest || step == Tls13Step::kWaitCertificate)) {
    if (AppendTranscript13(message)) ProcessCertificate13(body);
    return;
  }
  if (type == kHandshakeCertificateVerify && step == Tls13Step::kWaitCertificateVerify) {
    ProcessCertificateVerify13(message);
    return;
  }
  if (type == kHandshakeFinished && step == Tls13Step::kWaitFinished) {
    ProcessFinished13(message, moreInRecord);
    return;
  }
  if (type == kHandshakeNewSessionTicket && step == Tls13Step::kConnected) {
    ProcessNewSessionTicket(body);
    return;
  }
  if (type == kHandshakeKeyUpdate && step == Tls13Step::kConnected) {
    ProcessKeyUpdate(body, moreInRecord);
    return;
  }
  Fail13(kAlertUnexpectedMessage,
         "Unexpected TLS 1.3 handshake type " + std::to_string(type) + " (" + stepName(step) + ")");
}

void TlsConnection::ProcessServerHello13(std::string_view message) {
  const std::string_view body = message.substr(4);
  LogHandshakeData("ProcessServerHello", body);
  const std::uint16_t selected = ServerHelloSelectedVersion(body);
  if (selected == 0) {
    // TLS 1.2 or older: allowed under "auto" unless the server's random
    // says a TLS 1.3 server was pushed down.
    const std::uint16_t chosen =
        body.size() >= 2 ? static_cast<std::uint16_t>(bytesToUInt(body.substr(0, 2))) : 0;
    const std::string chosenText = std::to_string(chosen >> 8) + "." + std::to_string(chosen & 0xFF);
    if (versionPolicy_ != TlsVersionPolicy::kAuto) {
      Log(1, "Server chose TLS version " + chosenText + ", which tlsversion 1.3 does not allow");
      SendAlert(kAlertProtocolVersion, kAlertFatal);
      return;
    }
    if (tls13_.retried) {
      Log(1, "Server chose TLS version " + chosenText + " after its HelloRetryRequest");
      SendAlert(kAlertProtocolVersion, kAlertFatal);
      return;
    }
    if (body.size() >= 34) {
      const std::string_view tail = body.substr(26, 8);
      if (tail == kDowngradeTls12 || tail == kDowngradeTls11) {
        Fail13(kAlertIllegalParameter,
               "Server random carries the TLS 1.3 downgrade sentinel with version " + hex16(chosen));
        return;
      }
    }
    tls13_.step = Tls13Step::kIdle;
    tls13_.shares.clear();
    handshake_.sessionId.clear();
    if (handshake_.transcript.size() + message.size() > kMaxHandshakeTranscript) {
      Fail13(kAlertIllegalParameter, "Handshake too long");
      return;
    }
    handshake_.transcript.append(message);
    HandleHandshakeMessage(kHandshakeServerHello, message);
    return;
  }
  ServerHello13 hello;
  if (const Tls13Check check = ParseServerHello13(body, hello); !check.ok()) {
    Fail13(check.alert, check.error);
    return;
  }
  const char* what = hello.retryRequest ? "HelloRetryRequest" : "ServerHello";
  if (hello.selectedVersion != kVersionTls13) {
    Fail13(kAlertIllegalParameter, std::string(what) + " selects version " + hex16(hello.selectedVersion) +
                                       ", which was not offered");
    return;
  }
  if (hello.sessionIdEcho != handshake_.sessionId) {
    Fail13(kAlertIllegalParameter, std::string(what) + " does not echo the session id");
    return;
  }
  const Tls13Suite* suite = FindTls13Suite(hello.suite);
  if (suite == nullptr || (tls13_.retried && hello.suite != tls13_.retrySuite)) {
    Fail13(kAlertIllegalParameter, std::string(what) + " chose cipher suite " + hex16(hello.suite) +
                                       (suite == nullptr ? ", which TLS 1.3 was not offered with"
                                                         : ", not the one of its HelloRetryRequest"));
    return;
  }
  tls13_.suite = suite;
  if (hello.retryRequest) {
    if (tls13_.retried) {
      Fail13(kAlertUnexpectedMessage, "Second HelloRetryRequest");
      return;
    }
    const auto& groups = Tls13OfferedGroups();
    const bool groupOffered = std::find(groups.begin(), groups.end(), hello.group) != groups.end();
    const bool alreadyShared =
        std::any_of(tls13_.shares.begin(), tls13_.shares.end(),
                    [&](const KeySharePrivate& share) { return share.group == hello.group; });
    if (hello.hasKeyShare && (!groupOffered || alreadyShared)) {
      Fail13(kAlertIllegalParameter,
             "HelloRetryRequest asks for group " + hex16(hello.group) +
                 (alreadyShared ? ", whose share was sent" : ", which was not offered"));
      return;
    }
    if (!hello.hasKeyShare && hello.cookie.empty()) {
      Fail13(kAlertIllegalParameter, "HelloRetryRequest that would change nothing");
      return;
    }
    tls13_.retried = true;
    tls13_.retrySuite = hello.suite;
    tls13_.cookie = hello.cookie;
    // The first hello becomes its hash in the transcript (RFC 8446 4.4.1).
    const Bytes first = handshake_.transcript.substr(0, tls13_.firstHelloLength);
    handshake_.transcript = Tls13MessageHash(suite->hash, first) + Bytes(message);
    if (hello.hasKeyShare) {
      tls13_.retryGroup = hello.group;
      tls13_.shares.clear();
      tls13_.shares.push_back(MakeKeyShare(hello.group));
      if (tls13_.shares.back().publicKey.empty()) {
        Fail13(kAlertInternalError, "No key share for group " + hex16(hello.group));
        return;
      }
    }
    LogTlsMessage("HelloRetryRequest: suite " + hex16(hello.suite) +
                  (hello.hasKeyShare ? ", group " + hex16(hello.group) : std::string()) +
                  (hello.cookie.empty() ? "" : ", cookie"));
    // Middlebox compatibility: a ChangeCipherSpec before the second hello.
    version_ = kVersionTls12;
    SendChangeCipherSpec();
    write_.active = false;
    tls13_.compatibilityCcsSent = true;
    ClientHello13 again;
    again.random = handshake_.clientRandom;
    again.sessionId = handshake_.sessionId;
    again.serverName = serverName_;
    for (const KeySharePrivate& share : tls13_.shares) again.shares.push_back({share.group, share.publicKey});
    again.cookie = tls13_.cookie;
    again.schemes = offeredSchemes13();
    if (versionPolicy_ == TlsVersionPolicy::kAuto) {
      again.offerTls12 = true;
      again.tls12Suites = Bytes(kTls12OfferedSuites) + Bytes(kTls10OnlySuites);
      again.tls12Extensions = BuildClientHelloExtensions(
          serverName_, handshake_.offeredSessionId.empty() ? Bytes() : session12_->ticket);
    }
    // The ticket stays only when its hash is the retry's suite's.
    if (tls13_.pskOffered && ticketHash(*ticket13_) != suite->hash) tls13_.pskOffered = false;
    std::optional<std::uint32_t> ageMs;
    if (tls13_.pskOffered) ageMs = TicketAgeMs(*ticket13_, std::chrono::steady_clock::now());
    tls13_.pskOffered = ageMs.has_value();
    if (ageMs) offerTicket(*ticket13_, *ageMs, again);
    Bytes helloBody = BuildClientHello13(again);
    if (tls13_.pskOffered) sealBinder(*ticket13_, handshake_.transcript, helloBody);
    LogHandshakeData("SendClientHello", helloBody);
    SendHandshake(kHandshakeClientHello, helloBody);
    return;
  }
  if (!hello.hasKeyShare) {
    Fail13(kAlertMissingExtension, "ServerHello without key_share");
    return;
  }
  if (hello.hasPreSharedKey &&
      (!tls13_.pskOffered || hello.selectedIdentity != 0 || ticketHash(*ticket13_) != suite->hash)) {
    Fail13(kAlertIllegalParameter, "ServerHello selects PSK identity " +
                                       std::to_string(hello.selectedIdentity) +
                                       ", which was not offered with its suite");
    return;
  }
  tls13_.resumed = hello.hasPreSharedKey;
  const auto share = std::find_if(tls13_.shares.begin(), tls13_.shares.end(),
                                  [&](const KeySharePrivate& own) { return own.group == hello.group; });
  if (share == tls13_.shares.end() || (tls13_.retryGroup != 0 && hello.group != tls13_.retryGroup)) {
    Fail13(kAlertIllegalParameter,
           "ServerHello key share for group " + hex16(hello.group) + ", which was not sent");
    return;
  }
  const Bytes shared = KeyShareSecret(*share, hello.keyShare);
  tls13_.shares.clear();
  if (shared.empty()) {
    Fail13(kAlertIllegalParameter, "Server's key share for group " + hex16(hello.group) + " is not usable");
    return;
  }
  if (!AppendTranscript13(message)) return;
  handshake_.serverRandom = hello.random;
  handshake_.cipherSuite = uintToBytes(hello.suite, 2);
  version_ = kVersionTls12;
  tls13_.active = true;
  Tls13DeriveHandshakeSecrets(suite->hash, shared, TranscriptHash13(), tls13_.secrets,
                              tls13_.resumed ? std::string_view(ticket13_->psk) : std::string_view());
  LogHandshakeData("Client Handshake Traffic Secret", tls13_.secrets.clientHandshakeTraffic);
  LogHandshakeData("Server Handshake Traffic Secret", tls13_.secrets.serverHandshakeTraffic);
  LogTlsMessage("TLS 1.3, suite " + hex16(hello.suite) + ", group " + hex16(hello.group));
  if (!InstallKey13(read_, tls13_.secrets.serverHandshakeTraffic)) return;
  tls13_.step = Tls13Step::kWaitEncryptedExtensions;
}

void TlsConnection::ProcessEncryptedExtensions(std::string_view body) {
  LogHandshakeData("ProcessEncryptedExtensions", body);
  if (const Tls13Check check = ParseEncryptedExtensions(body, tls13_.answerableExtensions); !check.ok()) {
    Fail13(check.alert, check.error);
    return;
  }
  // With the PSK the server proves itself by its Finished alone.
  tls13_.step = tls13_.resumed ? Tls13Step::kWaitFinished : Tls13Step::kWaitCertificateOrRequest;
}

void TlsConnection::ProcessCertificateRequest13(std::string_view body) {
  LogHandshakeData("ProcessCertificateRequest", body);
  CertificateRequest13 request;
  if (const Tls13Check check = ParseCertificateRequest13(body, request); !check.ok()) {
    Fail13(check.alert, check.error);
    return;
  }
  tls13_.certificateRequested = true;
  tls13_.requestContext = request.context;
  tls13_.requestSchemes = request.schemes;
  tls13_.step = Tls13Step::kWaitCertificate;
}

void TlsConnection::ProcessCertificate13(std::string_view body) {
  LogHandshakeData("ProcessCertificate", body);
  Certificate13 message;
  if (const Tls13Check check = ParseCertificate13(body, message); !check.ok()) {
    Fail13(check.alert, check.error);
    return;
  }
  if (!message.context.empty()) {
    Fail13(kAlertIllegalParameter, "Server Certificate with a request context");
    return;
  }
  LogTlsMessage("Received " + std::to_string(message.chain.size()) + " certificates");
  if (message.chain.empty()) {
    Fail13(kAlertDecodeError, "Server sent an empty Certificate");
    return;
  }
  if (certificateCheck_) {
    const CertificateVerdict verdict = certificateCheck_(message.chain);
    if (!verdict.accepted) {
      Log(1, verdict.logLine);
      SendAlert(verdict.alert != 0 ? verdict.alert : kAlertCertificateUnknown, kAlertFatal);
      return;
    }
  }
  Certificate certificate = ParseCertificateChain(message.chain, verifyCertificates_ ? "" : " ", log_);
  if (!verifyCertificates_) {
    LogTlsMessage("Don't verify certificates");
  } else if (!serverName_.empty() && !DomainMatches(certificate.subjectDomain, serverName_)) {
    Fail13(kAlertCertificateUnknown,
           "Expecting domain " + serverName_ + ", but received " +
               (certificate.subjectDomain.empty() ? "no name" : certificate.subjectDomain) +
               " in certificate");
    return;
  }
  certificate.chain = message.chain;
  handshake_.peerCertificate = std::move(certificate);
  tls13_.step = Tls13Step::kWaitCertificateVerify;
}

void TlsConnection::ProcessCertificateVerify13(std::string_view message) {
  const std::string_view body = message.substr(4);
  LogHandshakeData("ProcessCertificateVerify", body);
  CertificateVerify13 verify;
  if (const Tls13Check check = ParseCertificateVerify13(body, verify); !check.ok()) {
    Fail13(check.alert, check.error);
    return;
  }
  const auto& offered = offeredSchemes13();
  if (std::find(offered.begin(), offered.end(), verify.scheme) == offered.end()) {
    Fail13(kAlertIllegalParameter,
           "CertificateVerify with scheme " + hex16(verify.scheme) + ", which was not offered");
    return;
  }
  const Bytes content = CertificateVerifyContent13(true, TranscriptHash13());
  std::string error;
  if (!VerifySignatureScheme(handshake_.peerCertificate, verify.scheme, content, verify.signature, true,
                             &error)) {
    Fail13(kAlertDecryptError, "CertificateVerify (scheme " + hex16(verify.scheme) + ") refused: " + error);
    return;
  }
  if (!AppendTranscript13(message)) return;
  tls13_.step = Tls13Step::kWaitFinished;
}

void TlsConnection::ProcessFinished13(std::string_view message, bool moreInRecord) {
  const std::string_view body = message.substr(4);
  LogHandshakeData("ProcessFinished", body);
  const HashAlgorithm hash = tls13_.suite->hash;
  const Bytes expected = Tls13FinishedData(hash, tls13_.secrets.serverHandshakeTraffic, TranscriptHash13());
  if (!sameBytes(expected, body)) {
    Fail13(kAlertDecryptError, "Server Finished does not match the handshake");
    return;
  }
  if (moreInRecord) {
    Fail13(kAlertUnexpectedMessage, "Handshake data after Finished in the same record");
    return;
  }
  if (!AppendTranscript13(message)) return;
  Tls13DeriveApplicationSecrets(hash, TranscriptHash13(), tls13_.secrets);
  tls13_.clientTraffic = tls13_.secrets.clientApplicationTraffic;
  tls13_.serverTraffic = tls13_.secrets.serverApplicationTraffic;
  if (!InstallKey13(read_, tls13_.serverTraffic)) return;

  // The client's flight: ChangeCipherSpec (middlebox compatibility), the
  // answer to a CertificateRequest, Finished.
  if (!tls13_.compatibilityCcsSent) {
    SendChangeCipherSpec();
    tls13_.compatibilityCcsSent = true;
  }
  if (!InstallKey13(write_, tls13_.secrets.clientHandshakeTraffic)) return;
  if (tls13_.certificateRequested) SendClientCertificate13();
  if (failed_) return;
  const Bytes finished = Tls13FinishedData(hash, tls13_.secrets.clientHandshakeTraffic, TranscriptHash13());
  LogHandshakeData("SendFinished", finished);
  SendHandshake(kHandshakeFinished, finished);
  if (!InstallKey13(write_, tls13_.clientTraffic)) return;
  tls13_.resumptionMaster = Tls13ResumptionMasterSecret(hash, tls13_.secrets, TranscriptHash13());
  // Nothing hashes the transcript from here on.
  handshake_.transcript.clear();
  tls13_.secrets = Tls13Secrets();
  handshake_.finishedPending = false;
  handshake_.done = true;
  tls13_.step = Tls13Step::kConnected;
  LogTlsMessage("TLS 1.3 handshake done");
  Log(3, tls13_.resumed ? "TLS session resumed (TLS 1.3)" : "TLS full handshake (TLS 1.3)");
}

void TlsConnection::SendClientCertificate13() {
  // Without credentials, or without a scheme both sides take, an empty
  // Certificate lets the server decide whether it goes on without one.
  std::optional<std::uint16_t> scheme;
  if (clientCredentials_ && !clientCredentials_->chainDer.empty()) {
    scheme = ChooseClientScheme(*clientCredentials_, tls13_.requestSchemes, true);
    if (!scheme) {
      std::string listed;
      for (const std::uint16_t offered : tls13_.requestSchemes) {
        listed += (listed.empty() ? "" : " ") + hex16(offered);
      }
      Log(1, "Client certificate's key makes none of the server's signature schemes (" + listed +
                 "): sending none");
    }
  } else {
    Log(1, "Server asked for a client certificate, but none is configured: sending none");
  }
  const Bytes body =
      BuildCertificate13(tls13_.requestContext, scheme ? clientCredentials_->chainDer : std::vector<Bytes>());
  LogHandshakeData("SendCertificate", body);
  SendHandshake(kHandshakeCertificate, body);
  if (!scheme) return;
  const Bytes content = CertificateVerifyContent13(false, TranscriptHash13());
  const Bytes signature = clientCredentials_->sign(*scheme, content);
  if (signature.empty()) {
    Fail13(kAlertInternalError,
           "Client certificate's key could not sign (" + SignatureSchemeName(*scheme) + ")");
    return;
  }
  const Bytes verify =
      uintToBytes(*scheme, 2) + uintToBytes(static_cast<std::uint32_t>(signature.size()), 2) + signature;
  LogHandshakeData("SendCertificateVerify", verify);
  SendHandshake(kHandshakeCertificateVerify, verify);
  LogTlsMessage("Client certificate sent, signed with " + SignatureSchemeName(*scheme));
}

void TlsConnection::ProcessNewSessionTicket(std::string_view body) {
  NewSessionTicket13 ticket;
  if (const Tls13Check check = ParseNewSessionTicket13(body, ticket); !check.ok()) {
    Fail13(check.alert, check.error);
    return;
  }
  // The last one is kept for the next connection.
  LogTlsMessage("NewSessionTicket (lifetime " + std::to_string(ticket.lifetime) + " s, " +
                std::to_string(ticket.ticketLength) + " bytes)");
  if (ticket.lifetime == 0) return;
  if (ticket.ticket.size() > kMaxKeptTicketBytes) {
    Log(3, "NewSessionTicket of " + std::to_string(ticket.ticket.size()) + " bytes is not kept");
    return;
  }
  Tls13Ticket kept;
  kept.suite = tls13_.suite->id;
  kept.identity = std::move(ticket.ticket);
  kept.psk = Tls13TicketPsk(tls13_.suite->hash, tls13_.resumptionMaster, ticket.nonce);
  kept.ageAdd = ticket.ageAdd;
  kept.lifetimeSeconds = std::min(ticket.lifetime, kMaxTicketLifetimeSeconds);
  kept.received = std::chrono::steady_clock::now();
  latestTicket13_ = std::move(kept);
}

void TlsConnection::ProcessKeyUpdate(std::string_view body, bool moreInRecord) {
  bool updateRequested = false;
  if (const Tls13Check check = ParseKeyUpdate(body, updateRequested); !check.ok()) {
    Fail13(check.alert, check.error);
    return;
  }
  if (moreInRecord) {
    Fail13(kAlertUnexpectedMessage, "Handshake data after KeyUpdate in the same record");
    return;
  }
  tls13_.serverTraffic = Tls13NextTrafficSecret(tls13_.suite->hash, tls13_.serverTraffic);
  if (!InstallKey13(read_, tls13_.serverTraffic)) return;
  LogTlsMessage(std::string("Server updated its keys (update requested: ") +
                (updateRequested ? "yes)" : "no)"));
  if (updateRequested) UpdateWriteKey13();
}

void TlsConnection::SendPostHandshake13(std::uint8_t type, std::string_view body) {
  Bytes message(1, static_cast<char>(type));
  message += uintToBytes(static_cast<std::uint32_t>(body.size()), 3);
  message.append(body);
  SendRecord(kContentHandshake, message);
}

void TlsConnection::UpdateWriteKey13() {
  // The KeyUpdate goes under the old key; everything after under the new.
  tls13_.updatingWriteKey = true;
  SendPostHandshake13(kHandshakeKeyUpdate, Bytes(1, '\0'));
  tls13_.updatingWriteKey = false;
  tls13_.clientTraffic = Tls13NextTrafficSecret(tls13_.suite->hash, tls13_.clientTraffic);
  InstallKey13(write_, tls13_.clientTraffic);
}

}  // namespace qv
