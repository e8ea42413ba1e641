#pragma once
// TLS 1.2 pseudo-random function (RFC 5246 section 5): P_hash over one hash.
#include <string_view>

#include "crypto/digest.h"
#include "xml/byte_string.h"

namespace qv {

// P_hash(secret, label + seed) cut to exactly length bytes; empty for
// length <= 0. TLS 1.2 uses SHA-256, or the suite's hash (SHA-384).
Bytes tls12Prf(HashAlgorithm hash, std::string_view secret, std::string_view label, std::string_view seed,
               int length);

}  // namespace qv
