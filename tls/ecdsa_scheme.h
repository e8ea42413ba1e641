#pragma once
// ECDSA keys of certificates, as the TLS engine checks them: the named curve
// of the key, its point, and signatures over a digest.
#include <string_view>

#include "tls/certificate.h"

namespace qv {

// Whether point is an uncompressed point on the key's curve (not infinity).
bool EcCertificatePointValid(CertificateKey curve, std::string_view point);
// A DER ECDSA signature over digest by point on the key's curve. False for
// any key that is not P-256 or P-384, and for an invalid point.
bool VerifyEcdsaDigest(CertificateKey curve, std::string_view point, std::string_view digest,
                       std::string_view derSignature);

}  // namespace qv
