#pragma once
// The cipher suites a TLS 1.2 connection may use, in the order a client
// offers them, and what each needs from the key schedule and record layer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/digest.h"

namespace qv {

enum class KeyExchange : std::uint8_t { kRsa, kEcdheRsa, kEcdheEcdsa };
enum class RecordCipher : std::uint8_t { kAesGcm, kAesCbc, kChaCha20Poly1305 };

struct Tls12Suite {
  std::uint16_t id;
  std::string_view name;
  KeyExchange keyExchange;
  RecordCipher cipher;
  std::size_t keyLength;      // 16 or 32
  std::size_t macLength;      // 0 for GCM, 20 for HMAC-SHA1
  std::size_t fixedIvLength;  // 4-byte GCM salt, 12-byte ChaCha20 IV; CBC has none under TLS 1.2
  HashAlgorithm prfHash;      // PRF, Finished and extended master secret
};

// ECDHE before RSA key transport, AEAD before CBC; for each the ECDSA suite
// before the RSA one, so a server with both certificates may pick either.
inline constexpr std::string_view kTls12OfferedSuites{
    "\xC0\x2B\xC0\x2F\xC0\x2C\xC0\x30\xCC\xA9\xCC\xA8\x00\x9C\x00\x9D"
    "\xC0\x09\xC0\x13\xC0\x0A\xC0\x14\x00\x2F\x00\x35",
    28};
// The TLS 1.0 suites that a TLS 1.2 list does not already hold; offered
// after it when a TLS 1.0 server is acceptable.
inline constexpr std::string_view kTls10OnlySuites{"\x00\x04\x00\x05", 4};

// ECDHE with either signature.
inline bool IsEcdhe(KeyExchange exchange) { return exchange != KeyExchange::kRsa; }

// The suite for its two bytes, or nullptr when TLS 1.2 does not use it here.
const Tls12Suite* FindTls12Suite(std::string_view suite);

}  // namespace qv
