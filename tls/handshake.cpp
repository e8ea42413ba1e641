// The handshake message dispatcher shared by both roles.
#include "session/log.h"
#include "tls/tls_connection.h"

namespace qv {

void TlsConnection::ProcessHandshake(std::string_view fragment) {
  handshakeBuffer.append(fragment);
  std::size_t position = 0;
  while (!failed && handshakeBuffer.size() - position >= 4) {
    const std::string_view header(handshakeBuffer.data() + position, 4);
    const auto type = static_cast<std::uint8_t>(header[0]);
    const std::size_t length = bytesToUInt(header.substr(1, 3));
    if (length > kMaxHandshakeMessage) {
      FailHandshake(kAlertIllegalParameter,
                    "Handshake message too long (" + std::to_string(length) + " bytes)");
      break;
    }
    if (handshakeBuffer.size() - position < length + 4) break;
    // The message is copied out: handling it may append to handshakeBuffer's
    // neighbours but must not see it change underneath.
    const Bytes message = handshakeBuffer.substr(position, length + 4);
    position += length + 4;
    if (type != kHandshakeHelloRequest && type != kHandshakeFinished) {
      if (handshakeMessages.size() + message.size() > kMaxHandshakeTranscript) {
        FailHandshake(kAlertIllegalParameter, "Handshake too long");
        break;
      }
      handshakeMessages += message;
    }
    HandleHandshakeMessage(type, message);
  }
  if (failed) {
    handshakeBuffer.clear();
  } else {
    handshakeBuffer.erase(0, position);
  }
}

void TlsConnection::HandleHandshakeMessage(std::uint8_t type, std::string_view message) {
  const std::string_view body = message.substr(4);
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
      LogHandshakeData("ProcessServerKeyExchange", body);
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
      if (failed) break;
      if (handshakeMessages.size() + message.size() > kMaxHandshakeTranscript) {
        FailHandshake(kAlertIllegalParameter, "Handshake too long");
        break;
      }
      handshakeMessages.append(message);
      if (finishedPending) SendFinished();
      break;
    default:
      writeLog(6, logPrefix + "Ignoring handshake type " + std::to_string(type));
      break;
  }
}

}  // namespace qv
