#pragma once
// A TLS 1.3 resumption ticket as the client keeps it between connections:
// what the server's NewSessionTicket gave and the PSK derived from it.
#include <chrono>
#include <cstdint>
#include <optional>

#include "xml/byte_string.h"

namespace qv {

struct Tls13Ticket {
  std::uint16_t suite = 0;  // the suite of the connection that got it (its hash goes with the PSK)
  Bytes identity;           // the opaque ticket
  Bytes psk;
  std::uint32_t ageAdd = 0;
  std::uint32_t lifetimeSeconds = 0;  // at most seven days (RFC 8446 4.6.1)
  std::chrono::steady_clock::time_point received;
};

inline constexpr std::uint32_t kMaxTicketLifetimeSeconds = 7 * 24 * 3600;

// Milliseconds since the ticket came, or nothing when it has expired.
inline std::optional<std::uint32_t> TicketAgeMs(const Tls13Ticket& ticket,
                                                std::chrono::steady_clock::time_point now) {
  const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(now - ticket.received).count();
  if (age < 0 || age >= static_cast<long long>(ticket.lifetimeSeconds) * 1000) return std::nullopt;
  return static_cast<std::uint32_t>(age);
}

}  // namespace qv
