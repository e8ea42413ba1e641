#pragma once
// TLS 1.0 data expansion and pseudo-random function (RFC 2246 section 5).
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

// HMAC(secret, A(1) + seed) + HMAC(secret, A(2) + seed) + ... until at least
// length bytes; whole HMAC outputs (a multiple of 16 or 20 bytes), not cut.
// length <= 0 gives an empty string.
Bytes pHashMd5(std::string_view secret, std::string_view seed, int length);
Bytes pHashSha1(std::string_view secret, std::string_view seed, int length);

// Exactly length bytes (empty for length <= 0): P_MD5 over the first half of
// the secret XOR P_SHA1 over the second half; for an odd secret length the
// middle byte belongs to both halves.
Bytes tlsPrf(std::string_view secret, std::string_view label, std::string_view seed, int length);

}  // namespace qv
