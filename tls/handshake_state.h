#pragma once
// What one handshake gathers, in either role, and the session it leaves.
#include <cstdint>

#include "crypto/rsa.h"
#include "tls/certificate.h"
#include "xml/byte_string.h"

namespace qv {

enum class TlsRole { kClient, kServer };

struct HandshakeState {
  Bytes clientRandom;
  Bytes serverRandom;
  // The session: kept by PrepareResumption.
  Bytes sessionId;
  Bytes masterSecret;
  Bytes cipherSuite;
  // Every message so far (HelloRequest excepted), as hashed for Finished.
  Bytes transcript;
  // Received handshake bytes not yet a whole message.
  Bytes partial;
  // The body of the server's CertificateRequest while it is being answered.
  Bytes certificateRequest;
  // Client: the server's chain and key, once accepted.
  Certificate peerCertificate;
  // Server: the own key for the key exchange.
  RsaKey privateKey;
  // Client: the version the ClientHello offered (the RSA pre-master
  // secret carries it); 0 before a hello.
  std::uint16_t offeredVersion = 0;
  // The server agreed to bind the master secret to the handshake (RFC 7627).
  bool extendedMasterSecret = false;
  // Client, TLS 1.2 resumption: the session id the hello carried for the
  // offered session (empty when none was offered); whether the server
  // resumed it; whether its ServerHello announced a NewSessionTicket, and
  // that ticket once it came.
  Bytes offeredSessionId;
  bool resumed = false;
  bool ticketExpected = false;
  bool ticketReceived = false;
  Bytes newTicket;
  std::uint32_t ticketLifetimeHint = 0;
  // Client, ECDHE: the server's share and its named group once the
  // signature checked out.
  Bytes serverShare;
  std::uint16_t serverGroup = 0;
  // Client, TLS 1.2 with credentials: the scheme the CertificateVerify
  // signs with; 0 when no certificate is sent.
  std::uint16_t clientScheme = 0;
  // Our Finished is still to be sent.
  bool finishedPending = true;
  // The peer's Finished arrived (it may still have failed the check).
  bool done = false;
};

}  // namespace qv
