// The client's TLS 1.2 resumption: a session of an earlier connection is
// offered by its ticket (RFC 5077) or id, only ever one made with the
// extended master secret (RFC 7627); a server that resumes it gets the
// abbreviated handshake, one that declines a full one.
#include <chrono>
#include <optional>
#include <string>

#include "tls/tls_connection.h"

namespace qv {

Bytes TlsConnection::OfferSession12() {
  handshake_.offeredSessionId.clear();
  if (!session12_) return {};
  if (!Tls12SessionOfferable(*session12_, std::chrono::steady_clock::now())) {
    Log(3, "TLS resumption ticket expired");
    session12_.reset();
    return {};
  }
  // With a ticket alone, a fresh id: the server echoes it when it accepts
  // the ticket (RFC 5077 3.4), so the ServerHello tells either way.
  handshake_.offeredSessionId = session12_->sessionId.empty() ? randomBytes(32) : session12_->sessionId;
  return session12_->ticket;
}

bool TlsConnection::AcceptResumption12(std::uint16_t chosenVersion, std::string_view suite,
                                       bool extendedMasterSecret) {
  const Bytes& offered = handshake_.offeredSessionId;
  if (offered.empty() || handshake_.sessionId != offered) {
    if (!offered.empty()) LogTlsMessage("Server did not resume the offered session");
    return true;
  }
  if (chosenVersion != kVersionTls12 || suite != session12_->cipherSuite) {
    FailHandshake(kAlertIllegalParameter, "Server resumed the session with another version or cipher suite");
    return false;
  }
  if (!extendedMasterSecret) {
    // RFC 7627 5.3: a session made with it is never resumed without it.
    FailHandshake(kAlertHandshakeFailure, "Server resumed the session without the extended master secret");
    return false;
  }
  handshake_.masterSecret = session12_->masterSecret;
  handshake_.resumed = true;
  return true;
}

void TlsConnection::ProcessNewSessionTicket12(std::string_view body) {
  LogHandshakeData("ProcessNewSessionTicket", body);
  // After the client's Finished (full) or the ServerHello (resumed), before
  // the server's ChangeCipherSpec, once, and only when announced.
  if (!handshake_.ticketExpected || handshake_.ticketReceived || read_.active ||
      (!handshake_.resumed && handshake_.finishedPending)) {
    FailHandshake(kAlertUnexpectedMessage, "Unexpected NewSessionTicket");
    return;
  }
  std::string error;
  std::optional<NewSessionTicket12> ticket = ParseNewSessionTicket12(body, &error);
  if (!ticket) {
    FailHandshake(kAlertDecodeError, error);
    return;
  }
  if (ticket->ticket.size() > kMaxKeptTicketBytes) {
    Log(3, "NewSessionTicket of " + std::to_string(ticket->ticket.size()) + " bytes is not kept");
    ticket->ticket.clear();
  }
  handshake_.ticketReceived = true;
  handshake_.newTicket = std::move(ticket->ticket);
  handshake_.ticketLifetimeHint = ticket->lifetimeHint;
  LogTlsMessage("NewSessionTicket (lifetime hint " + std::to_string(ticket->lifetimeHint) + " s, " +
                std::to_string(handshake_.newTicket.size()) + " bytes)");
}

bool TlsConnection::RefusedInResumption12(std::uint8_t type) {
  if (!handshake_.resumed) return false;
  switch (type) {
    case kHandshakeCertificate:
    case kHandshakeServerKeyExchange:
    case kHandshakeCertificateRequest:
    case kHandshakeServerHelloDone:
      FailHandshake(kAlertUnexpectedMessage,
                    "Unexpected handshake type " + std::to_string(type) + " in a resumed session");
      return true;
    default:
      return false;
  }
}

void TlsConnection::CompleteHandshake12() {
  if (version_ != kVersionTls12) return;
  Log(3, handshake_.resumed ? "TLS session resumed (TLS 1.2)" : "TLS full handshake (TLS 1.2)");
  if (!handshake_.extendedMasterSecret) return;
  const auto now = std::chrono::steady_clock::now();
  Tls12Session session;
  if (handshake_.resumed) {
    session = *session12_;
  } else {
    session.sessionId = handshake_.sessionId;
    session.masterSecret = handshake_.masterSecret;
    session.cipherSuite = handshake_.cipherSuite;
    session.received = now;
  }
  if (handshake_.ticketReceived) {
    // An empty ticket withdraws the old one.
    session.ticket = std::move(handshake_.newTicket);
    session.ticketLifetimeHint = handshake_.ticketLifetimeHint;
    session.received = now;
  }
  if (session.sessionId.empty() && session.ticket.empty()) return;
  latestSession12_ = std::move(session);
}

}  // namespace qv
