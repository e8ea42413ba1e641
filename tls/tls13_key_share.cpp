#include "tls/tls13_key_share.h"

#include "crypto/ec.h"
#include "crypto/x25519.h"
#include "tls/hello_extensions.h"
#include "tls/tls13_messages.h"

namespace qv {

namespace {

bool curveOf(std::uint16_t group, EcCurve& curve) {
  if (group == kGroupSecp256r1)
    curve = EcCurve::kP256;
  else if (group == kGroupSecp384r1)
    curve = EcCurve::kP384;
  else
    return false;
  return true;
}

}  // namespace

KeySharePrivate MakeKeyShare(std::uint16_t group) {
  KeySharePrivate share;
  share.group = group;
  if (group == kGroupX25519) {
    share.secret = randomBytes(static_cast<int>(kX25519Size));
    share.publicKey = x25519Base(share.secret);
    return share;
  }
  EcCurve curve;
  if (!curveOf(group, curve)) return share;
  // Rejection sampling: almost never more than one draw.
  for (int attempt = 0; attempt < 64 && share.secret.empty(); ++attempt) {
    if (auto scalar = ecPrivateKeyFromRandom(curve, randomBytes(static_cast<int>(ecFieldSize(curve))))) {
      share.secret = std::move(*scalar);
    }
  }
  if (!share.secret.empty()) share.publicKey = ecPublicKey(curve, share.secret);
  return share;
}

Bytes KeyShareSecret(const KeySharePrivate& own, std::string_view peerPublic) {
  if (own.group == kGroupX25519) {
    if (peerPublic.size() != kX25519Size) return {};
    Bytes shared = x25519(own.secret, peerPublic);
    if (shared.size() != kX25519Size || isAllZero(shared)) return {};
    return shared;
  }
  EcCurve curve;
  if (!curveOf(own.group, curve)) return {};
  return ecdh(curve, own.secret, peerPublic);
}

}  // namespace qv
