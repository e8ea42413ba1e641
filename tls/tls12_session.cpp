#include "tls/tls12_session.h"

namespace qv {

std::optional<NewSessionTicket12> ParseNewSessionTicket12(std::string_view body, std::string* error) {
  const auto refuse = [error](const char* text) -> std::optional<NewSessionTicket12> {
    if (error != nullptr) *error = text;
    return std::nullopt;
  };
  if (body.size() < 6) return refuse("NewSessionTicket too short");
  const std::size_t length = bytesToUInt(body.substr(4, 2));
  if (length != body.size() - 6) return refuse("NewSessionTicket length does not match the message");
  NewSessionTicket12 ticket;
  ticket.lifetimeHint = bytesToUInt(body.substr(0, 4));
  ticket.ticket = Bytes(body.substr(6));
  return ticket;
}

bool Tls12SessionOfferable(const Tls12Session& session, std::chrono::steady_clock::time_point now) {
  if (session.masterSecret.size() != 48 || session.cipherSuite.size() != 2) return false;
  if (session.sessionId.empty() && session.ticket.empty()) return false;
  if (session.ticket.empty() || session.ticketLifetimeHint == 0) return true;
  const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - session.received).count();
  return age >= 0 && age < static_cast<long long>(session.ticketLifetimeHint);
}

}  // namespace qv
