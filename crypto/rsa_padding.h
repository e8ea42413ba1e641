#pragma once
// Pieces of the RFC 8017 encodings shared by RSA signing and verification.
#include <string_view>

#include "crypto/digest.h"
#include "xml/byte_string.h"

namespace qv {

// DER of DigestInfo up to the digest's OCTET STRING header (RFC 8017 9.2
// note 1), with explicit NULL parameters.
std::string_view digestInfoPrefix(HashAlgorithm hash);
// MGF1 (RFC 8017 B.2.1) over hash, length bytes.
Bytes mgf1(HashAlgorithm hash, std::string_view seed, std::size_t length);

}  // namespace qv
