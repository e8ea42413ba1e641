#pragma once
// The ECDHE ServerKeyExchange of TLS 1.2 (RFC 8422 5.4, RFC 5246 7.4.3):
// parsing, and the check of its signature with the certificate's key.
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/rsa.h"
#include "tls/certificate.h"
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

// Accepts only what was offered: a named group of the ClientHello (X25519
// with a 32-byte share; secp256r1 or secp384r1 with an uncompressed point on
// the curve) and one of the signature schemes of the ClientHello.
ServerKeyExchangeCheck ParseServerKeyExchange(std::string_view body);

// client_random + server_random + params, hashed with the scheme's hash and
// checked as PKCS#1 v1.5 or PSS as the scheme says. False for any scheme
// that was not offered or is not an RSA one.
bool VerifyServerKeyExchange(const RsaKey& serverKey, const EcdheServerParams& params,
                             std::string_view clientRandom, std::string_view serverRandom);
// The same with the server certificate's key of any kind (RSA, RSA-PSS,
// ECDSA), under TLS 1.2's rules; false with *error set to a log text.
bool VerifyServerKeyExchange(const Certificate& certificate, const EcdheServerParams& params,
                             std::string_view clientRandom, std::string_view serverRandom,
                             std::string* error);

}  // namespace qv
