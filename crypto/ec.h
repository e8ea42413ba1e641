#pragma once
// crypto/ec.h -- NIST P-256 and P-384 (FIPS 186-4 / SEC 1): keys and ECDH.
// Constant time in the private scalar (no secret-dependent branch or table index).
#include <optional>
#include <string_view>
#include "xml/byte_string.h"
namespace qv {
enum class EcCurve { kP256, kP384 };
// 32 or 48: bytes of a scalar and of one coordinate.
std::size_t ecFieldSize(EcCurve curve);
// A private scalar from random bytes of ecFieldSize(curve): the bytes as a
// big-endian number if 1 <= s < n, else nothing (the caller draws again).
std::optional<Bytes> ecPrivateKeyFromRandom(EcCurve curve, std::string_view random);
// Uncompressed public point 04 || X || Y of a private scalar; empty when the
// scalar is not in [1, n-1] or not ecFieldSize bytes.
Bytes ecPublicKey(EcCurve curve, std::string_view privateScalar);
// Whether an encoded point (uncompressed 04||X||Y only) is on the curve and
// not the point at infinity, coordinates < p.
bool ecPointIsValid(EcCurve curve, std::string_view point);
// ECDH: the X coordinate (ecFieldSize bytes) of privateScalar * peerPoint;
// empty when the peer point is invalid (not on the curve, wrong length or
// form) or the result is the point at infinity.
Bytes ecdh(EcCurve curve, std::string_view privateScalar, std::string_view peerPoint);
}  // namespace qv
