#pragma once
// Which protocol versions a client offers and accepts (registry value
// `tlsversion`).
#include <optional>
#include <string_view>

namespace qv {

enum class TlsVersionPolicy {
  kTls10,  // "1.0": TLS 1.0 only, today's hello byte for byte
  kTls12,  // "1.2": TLS 1.2 only
  kAuto,   // "auto": offers TLS 1.3 and 1.2, accepts a server that chooses TLS 1.0
  kTls13,  // "1.3": TLS 1.3 only
};

// Whether the hello offers TLS 1.3.
inline bool OffersTls13(TlsVersionPolicy policy) {
  return policy == TlsVersionPolicy::kAuto || policy == TlsVersionPolicy::kTls13;
}

// The policy a `tlsversion` text names; nothing for any other text.
inline std::optional<TlsVersionPolicy> ParseTlsVersionPolicy(std::string_view text) {
  if (text == "1.0") return TlsVersionPolicy::kTls10;
  if (text == "1.2") return TlsVersionPolicy::kTls12;
  if (text == "auto") return TlsVersionPolicy::kAuto;
  if (text == "1.3") return TlsVersionPolicy::kTls13;
  return std::nullopt;
}

}  // namespace qv
