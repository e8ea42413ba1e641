// The TLS engine's use of the curve arithmetic in crypto/.
#include "tls/ec_keys.h"

#include "crypto/x25519.h"
#include "tls/hello_extensions.h"

namespace qv {

bool EcCertificatePointValid(CertificateKey, std::string_view) { return false; }

bool VerifyEcdsaDigest(CertificateKey, std::string_view, std::string_view, std::string_view) { return false; }

std::size_t EcdheShareSize(std::uint16_t group) {
  switch (group) {
    case kGroupX25519:
      return kX25519Size;
    case kGroupSecp256r1:
      return 65;
    case kGroupSecp384r1:
      return 97;
    default:
      return 0;
  }
}

bool EcdheShareValid(std::uint16_t group, std::string_view peerShare) {
  const std::size_t size = EcdheShareSize(group);
  if (size == 0 || peerShare.size() != size) return false;
  return group == kGroupX25519;
}

EcdheResult EcdheAgree(std::uint16_t group, std::string_view peerShare) {
  EcdheResult result;
  if (group == kGroupX25519 && peerShare.size() == kX25519Size) {
    const Bytes scalar = randomBytes(static_cast<int>(kX25519Size));
    result.ownShare = x25519Base(scalar);
    result.sharedSecret = x25519(scalar, peerShare);
    if (result.sharedSecret.size() != kX25519Size || isAllZero(result.sharedSecret))
      result.sharedSecret.clear();
  }
  return result;
}

}  // namespace qv
