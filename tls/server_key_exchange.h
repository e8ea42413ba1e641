#pragma once
// The ECDHE ServerKeyExchange of TLS 1.2 (RFC 8422 5.4, RFC 5246 7.4.3):
// parsing, and the check of its signature with the certificate's RSA key.
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/rsa.h"
#include "xml/byte_string.h"

namespace qv {

struct EcdheServerParams {
  std::uint16_t group = 0;
  Bytes publicKey;
  // ECParameters and the point as they were sent: what the signature covers.
  Bytes params;
  std::uint16_t signatureScheme = 0;
  Bytes signature;
};

// Alert 0: parsed; otherwise the fatal alert to send and a log text.
struct ServerKeyExchangeCheck {
  std::uint8_t alert = 0;
  std::string error;
  EcdheServerParams params;
};

// Accepts only what was offered: a named X25519 group with a 32-byte point,
// and one of the six RSA signature schemes of the ClientHello.
ServerKeyExchangeCheck ParseServerKeyExchange(std::string_view body);

// client_random + server_random + params, hashed with the scheme's hash and
// checked as PKCS#1 v1.5 or PSS as the scheme says. False for any scheme
// that was not offered.
bool VerifyServerKeyExchange(const RsaKey& serverKey, const EcdheServerParams& params,
                             std::string_view clientRandom, std::string_view serverRandom);

}  // namespace qv
