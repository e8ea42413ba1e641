// The handshake message dispatcher shared by both roles.
#include "tls/tls_connection.h"

namespace qv {

void TlsConnection::ProcessHandshake(std::string_view fragment) {
  if (tls13_.active || tls13_.step == Tls13Step::kWaitServerHello) {
    ProcessHandshake13(fragment);
    return;
  }
  handshake_.partial.append(fragment);
  std::size_t position = 0;
  while (!failed_ && handshake_.partial.size() - position >= 4) {
    const std::string_view header(handshake_.partial.data() + position, 4);
    const auto type = static_cast<std::uint8_t>(header[0]);
    const std::size_t length = bytesToUInt(header.substr(1, 3));
    if (length > kMaxHandshakeMessage) {
      FailHandshake(kAlertIllegalParameter,
                    "Handshake message too long (" + std::to_string(length) + " bytes)");
      break;
    }
    if (handshake_.partial.size() - position < length + 4) break;
    // The message is copied out: handling it may append to the partial buffer's
    // neighbours but must not see it change underneath.
    const Bytes message = handshake_.partial.substr(position, length + 4);
    position += length + 4;
    if (type != kHandshakeHelloRequest && type != kHandshakeFinished) {
      if (handshake_.transcript.size() + message.size() > kMaxHandshakeTranscript) {
        FailHandshake(kAlertIllegalParameter, "Handshake too long");
        break;
      }
      handshake_.transcript += message;
    }
    HandleHandshakeMessage(type, message);
  }
  if (failed_) {
    handshake_.partial.clear();
  } else {
    handshake_.partial.erase(0, position);
  }
}

namespace {

// Messages only a client sends, and those only a server sends: receiving one
// of its own role's messages means the peer is not following the protocol.
bool SentOnlyBy(TlsRole role, std::uint8_t type) {
  switch (type) {
    case kHandshakeClientHello:
    case kHandshakeCertificateVerify:
    case kHandshakeClientKeyExchange:
      return role == TlsRole::kClient;
    case kHandshakeServerHello:
    case kHandshakeServerKeyExchange:
    case kHandshakeCertificateRequest:
    case kHandshakeServerHelloDone:
      return role == TlsRole::kServer;
    default:
      return false;
  }
}

}  // namespace

void TlsConnection::HandleHandshakeMessage(std::uint8_t type, std::string_view message) {
  const std::string_view body = message.substr(4);
  if (SentOnlyBy(role_, type)) {
    FailHandshake(kAlertUnexpectedMessage, "Unexpected handshake type " + std::to_string(type) +
                                               " from the " +
                                               (role_ == TlsRole::kClient ? "server" : "client"));
    return;
  }
  if (RefusedInResumption12(type)) return;
  switch (type) {
    case kHandshakeHelloRequest:
      LogHandshakeData("ProcessHelloRequest", body);
      break;
    case kHandshakeClientHello:
      ProcessClientHello(body);
      break;
    case kHandshakeServerHello:
      ProcessServerHello(body);
      break;
    case kHandshakeCertificate:
      ProcessCertificate(body);
      break;
    case kHandshakeServerKeyExchange:
      if (role_ == TlsRole::kClient && version_ >= kVersionTls12) {
        ProcessServerKeyExchange(body);
      } else {
        LogHandshakeData("ProcessServerKeyExchange", body);
      }
      break;
    case kHandshakeCertificateRequest:
      ProcessCertificateRequest(body);
      break;
    case kHandshakeServerHelloDone:
      ProcessServerHelloDone(body);
      break;
    case kHandshakeCertificateVerify:
      ProcessCertificateVerify(body);
      break;
    case kHandshakeClientKeyExchange:
      ProcessClientKeyExchange(body);
      break;
    case kHandshakeFinished:
      ProcessFinished(body);
      if (failed_) break;
      if (handshake_.transcript.size() + message.size() > kMaxHandshakeTranscript) {
        FailHandshake(kAlertIllegalParameter, "Handshake too long");
        break;
      }
      handshake_.transcript.append(message);
      if (handshake_.finishedPending) SendFinished();
      if (!failed_ && role_ == TlsRole::kClient && versionPolicy_ != TlsVersionPolicy::kTls10) {
        CompleteHandshake12();
      }
      break;
    case kHandshakeNewSessionTicket12:
      if (role_ == TlsRole::kClient && versionPolicy_ != TlsVersionPolicy::kTls10) {
        ProcessNewSessionTicket12(body);
      } else {
        Log(6, "Ignoring handshake type " + std::to_string(type));
      }
      break;
    default:
      Log(6, "Ignoring handshake type " + std::to_string(type));
      break;
  }
}

}  // namespace qv
