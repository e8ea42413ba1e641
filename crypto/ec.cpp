#include "crypto/ec.h"

#include "crypto/ec_point.h"
#include "crypto/ec_scalar.h"

namespace qv {

namespace {

using ec::Word;

template <std::size_t N>
Bytes publicKey(std::string_view privateScalar) {
  const auto& c = ec::curveParams<N>();
  Word k[N];
  if (privateScalar.size() != 8 * N || !ec::loadScalar(c, privateScalar, k)) return {};
  Bytes out(1 + 16 * N, '\x04');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  ec::toAffineBytes(c, ec::scalarMulBase(c, k), bytes + 1, bytes + 1 + 8 * N);
  return out;
}

template <std::size_t N>
bool pointIsValid(std::string_view point) {
  ec::AffinePoint<N> p;
  return ec::decodePoint(ec::curveParams<N>(), point, p);
}

template <std::size_t N>
Bytes sharedSecret(std::string_view privateScalar, std::string_view peerPoint) {
  const auto& c = ec::curveParams<N>();
  ec::AffinePoint<N> peer;
  Word k[N];
  if (privateScalar.size() != 8 * N || !ec::decodePoint(c, peerPoint, peer)) return {};
  if (!ec::loadScalar(c, privateScalar, k)) return {};
  unsigned char x[8 * N], y[8 * N];
  // A prime-order curve cannot reach the identity from a valid point and
  // scalar; refusing it anyway costs nothing.
  if (!ec::toAffineBytes(c, ec::scalarMul(c, k, peer), x, y)) return {};
  return Bytes(reinterpret_cast<const char*>(x), sizeof x);
}

}  // namespace

std::size_t ecFieldSize(EcCurve curve) { return curve == EcCurve::kP256 ? 32 : 48; }

std::optional<Bytes> ecPrivateKeyFromRandom(EcCurve curve, std::string_view random) {
  if (random.size() != ecFieldSize(curve)) return std::nullopt;
  Word s[6];
  const Word ok = curve == EcCurve::kP256 ? ec::loadScalar(ec::p256Params(), random, s)
                                          : ec::loadScalar(ec::p384Params(), random, s);
  if (!ok) return std::nullopt;
  return Bytes(random);
}

Bytes ecPublicKey(EcCurve curve, std::string_view privateScalar) {
  return curve == EcCurve::kP256 ? publicKey<4>(privateScalar) : publicKey<6>(privateScalar);
}

bool ecPointIsValid(EcCurve curve, std::string_view point) {
  return curve == EcCurve::kP256 ? pointIsValid<4>(point) : pointIsValid<6>(point);
}

Bytes ecdh(EcCurve curve, std::string_view privateScalar, std::string_view peerPoint) {
  return curve == EcCurve::kP256 ? sharedSecret<4>(privateScalar, peerPoint)
                                 : sharedSecret<6>(privateScalar, peerPoint);
}

}  // namespace qv
