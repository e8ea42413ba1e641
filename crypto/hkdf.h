#pragma once
// crypto/hkdf.h -- HKDF (RFC 5869) over SHA-256/384/512, and the TLS 1.3
// HKDF-Expand-Label (RFC 8446 7.1).
#include <string_view>
#include "crypto/digest.h"
#include "xml/byte_string.h"
namespace qv {
// PRK = HMAC(salt, ikm); an empty salt means HashLen zero bytes.
Bytes hkdfExtract(HashAlgorithm hash, std::string_view salt, std::string_view ikm);
// OKM of `length` bytes; empty when length > 255 * HashLen.
Bytes hkdfExpand(HashAlgorithm hash, std::string_view prk, std::string_view info, std::size_t length);
// HKDF-Expand(secret, HkdfLabel{length, "tls13 " + label, context}, length).
Bytes hkdfExpandLabel(HashAlgorithm hash, std::string_view secret, std::string_view label,
                      std::string_view context, std::size_t length);
}  // namespace qv
