#pragma once
// A TLS 1.2 session as the client keeps it between connections: the id the
// server gave, its RFC 5077 ticket if any, and the master secret. Only
// sessions made with the extended master secret (RFC 7627) are kept.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

struct Tls12Session {
  Bytes sessionId;  // may be empty when the server gave a ticket instead
  Bytes ticket;     // empty when the server gave none
  Bytes masterSecret;
  Bytes cipherSuite;
  std::uint32_t ticketLifetimeHint = 0;  // seconds; 0 = not given
  std::chrono::steady_clock::time_point received;
};

inline constexpr std::uint8_t kHandshakeNewSessionTicket12 = 4;
// A longer ticket (TLS 1.2 or 1.3) is not kept: it would swell the next
// hello past what its length fields hold (servers' tickets are a few
// hundred bytes).
inline constexpr std::size_t kMaxKeptTicketBytes = 16 * 1024;

// The body of a TLS 1.2 NewSessionTicket (RFC 5077 3.3): the hint and the
// ticket, filling the body exactly. An empty ticket is allowed (the server
// changed its mind); `error` says what was wrong otherwise.
struct NewSessionTicket12 {
  std::uint32_t lifetimeHint = 0;
  Bytes ticket;
};
std::optional<NewSessionTicket12> ParseNewSessionTicket12(std::string_view body, std::string* error);

// Whether the session may be offered now: a ticket past its lifetime hint
// is not (the server would only decline it).
bool Tls12SessionOfferable(const Tls12Session& session, std::chrono::steady_clock::time_point now);

}  // namespace qv
