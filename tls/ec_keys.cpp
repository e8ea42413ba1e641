// The TLS engine's use of the curve arithmetic in crypto/.
#include "tls/ec_keys.h"

#include <optional>

#include "crypto/ec.h"
#include "crypto/ecdsa.h"
#include "crypto/x25519.h"
#include "tls/hello_extensions.h"

namespace qv {

namespace {

std::optional<EcCurve> curveOf(CertificateKey key) {
  if (key == CertificateKey::kEcP256) return EcCurve::kP256;
  if (key == CertificateKey::kEcP384) return EcCurve::kP384;
  return std::nullopt;
}

std::optional<EcCurve> curveOfGroup(std::uint16_t group) {
  if (group == kGroupSecp256r1) return EcCurve::kP256;
  if (group == kGroupSecp384r1) return EcCurve::kP384;
  return std::nullopt;
}

}  // namespace

bool EcCertificatePointValid(CertificateKey curve, std::string_view point) {
  const std::optional<EcCurve> ec = curveOf(curve);
  return ec && ecPointIsValid(*ec, point);
}

bool VerifyEcdsaDigest(CertificateKey curve, std::string_view point, std::string_view digest,
                       std::string_view derSignature) {
  const std::optional<EcCurve> ec = curveOf(curve);
  return ec && ecdsaVerifyDer(*ec, point, digest, derSignature);
}

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
  if (group == kGroupX25519) return true;
  const std::optional<EcCurve> curve = curveOfGroup(group);
  return curve && ecPointIsValid(*curve, peerShare);
}

EcdheResult EcdheAgree(std::uint16_t group, std::string_view peerShare) {
  EcdheResult result;
  if (group == kGroupX25519 && peerShare.size() == kX25519Size) {
    const Bytes scalar = randomBytes(static_cast<int>(kX25519Size));
    result.ownShare = x25519Base(scalar);
    result.sharedSecret = x25519(scalar, peerShare);
    if (result.sharedSecret.size() != kX25519Size || isAllZero(result.sharedSecret))
      result.sharedSecret.clear();
    return result;
  }
  const std::optional<EcCurve> curve = curveOfGroup(group);
  if (!curve) return result;
  std::optional<Bytes> scalar;
  // A draw at or above the group order is drawn again (about 2^-32 for P-256).
  for (int attempt = 0; attempt < 64 && !scalar; ++attempt) {
    scalar = ecPrivateKeyFromRandom(*curve, randomBytes(static_cast<int>(ecFieldSize(*curve))));
  }
  if (!scalar) return result;
  result.ownShare = ecPublicKey(*curve, *scalar);
  result.sharedSecret = ecdh(*curve, *scalar, peerShare);
  return result;
}

}  // namespace qv
