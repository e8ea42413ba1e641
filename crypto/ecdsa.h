#pragma once
// crypto/ecdsa.h -- ECDSA (FIPS 186-4) over P-256 and P-384; DER signatures as
// X.509 and TLS carry them (Ecdsa-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER }).
#include <string_view>
#include "crypto/digest.h"
#include "crypto/ec.h"
#include "xml/byte_string.h"
namespace qv {
// Verifies a DER signature over a message digest (any length: the leftmost
// bits of the digest are used as FIPS 186-4 says). Strict DER: minimal
// lengths and integers, no trailing bytes, 1 <= r, s < n. The public key is an
// uncompressed point, validated. Not constant time (public data only).
bool ecdsaVerifyDer(EcCurve curve, std::string_view publicPoint, std::string_view digest,
                    std::string_view derSignature);
// The same with r and s as big-endian byte strings (any length <= 66 bytes).
bool ecdsaVerify(EcCurve curve, std::string_view publicPoint, std::string_view digest, std::string_view r,
                 std::string_view s);
// Signs a digest with a deterministic nonce (RFC 6979, HMAC-DRBG over `hash`,
// which must be the hash that made the digest); DER signature, or empty when
// the private scalar is invalid. Constant time in the private scalar and nonce.
Bytes ecdsaSignDer(EcCurve curve, std::string_view privateScalar, HashAlgorithm hash,
                   std::string_view digest);
}  // namespace qv
