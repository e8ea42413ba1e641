#pragma once
// The elliptic-curve keys the TLS engine meets: ECDSA keys of certificates
// (their named curve, point and signatures) and the ECDHE groups of TLS 1.2.
#include <cstdint>
#include <string_view>

#include "tls/certificate.h"
#include "xml/byte_string.h"

namespace qv {

// Whether point is an uncompressed point on the key's curve (not infinity).
bool EcCertificatePointValid(CertificateKey curve, std::string_view point);
// A DER ECDSA signature over digest by point on the key's curve. False for
// any key that is not P-256 or P-384, and for an invalid point.
bool VerifyEcdsaDigest(CertificateKey curve, std::string_view point, std::string_view digest,
                       std::string_view derSignature);

// ECDHE over a TLS named group (X25519, secp256r1, secp384r1).
struct EcdheResult {
  Bytes ownShare;      // what the ClientKeyExchange carries
  Bytes sharedSecret;  // the pre-master secret; empty when the peer's share is unusable
};
// Bytes of a share of the group (32, 65, 97); 0 for other groups.
std::size_t EcdheShareSize(std::uint16_t group);
// Whether a share of the group is usable: the right size and, for the NIST
// curves, an uncompressed point on the curve.
bool EcdheShareValid(std::uint16_t group, std::string_view peerShare);
// A fresh key pair of the group and the secret shared with peerShare.
EcdheResult EcdheAgree(std::uint16_t group, std::string_view peerShare);

}  // namespace qv
