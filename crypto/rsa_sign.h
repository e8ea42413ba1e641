#pragma once
// crypto/rsa_sign.h -- RSA signatures made with a private key (RFC 8017), for
// client certificates: PKCS#1 v1.5 with DigestInfo, and PSS.
#include <string_view>
#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "xml/byte_string.h"
namespace qv {
// EMSA-PKCS1-v1_5 with the DigestInfo of `hash` (explicit NULL parameters);
// modulus-length bytes, or empty when the key has no private part or is too short.
Bytes rsaSignPkcs1Digest(const RsaKey& key, HashAlgorithm hash, std::string_view digest);
// EMSA-PSS with MGF1 over `hash` and a salt of the hash's length taken from
// `salt` (must be digestSize(hash) bytes: the caller supplies randomness).
// Empty on any failure. rsaVerifyPss(key, hash, digest, result) holds.
Bytes rsaSignPss(const RsaKey& key, HashAlgorithm hash, std::string_view digest, std::string_view salt);
}  // namespace qv
