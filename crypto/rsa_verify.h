#pragma once
// RSA signature checks for TLS 1.2 (RFC 8017): PKCS#1 v1.5 and PSS.
#include <string_view>

#include "crypto/digest.h"
#include "crypto/rsa.h"

namespace qv {

// RSASSA-PKCS1-v1_5: rebuilds the whole encoded block 00 01 FF.. 00
// DigestInfo(hash, digest) for the modulus length and compares it with
// signature^e mod n, so nothing in the signature block is parsed. Only the
// DigestInfo with explicit NULL parameters is accepted. False when the
// signature is not exactly the modulus length, the digest not the hash's
// length, or the key is unusable.
bool rsaVerifyPkcs1(const RsaKey& publicKey, HashAlgorithm hash, std::string_view digest,
                    std::string_view signature);

// RSASSA-PSS (EMSA-PSS-VERIFY) with MGF1 over the same hash and a salt as
// long as the hash, as TLS 1.2 and 1.3 require for rsa_pss_* schemes.
bool rsaVerifyPss(const RsaKey& publicKey, HashAlgorithm hash, std::string_view digest,
                  std::string_view signature);

}  // namespace qv
