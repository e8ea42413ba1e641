#include "crypto/ecdsa.h"

#include "crypto/ec_nonce.h"
#include "crypto/ec_point.h"
#include "crypto/ec_scalar.h"
#include "crypto/ecdsa_der.h"

namespace qv {

namespace {

using ec::Word;

// A big-endian integer of any length as a scalar in [1, n - 1].
template <std::size_t N>
bool loadSignatureScalar(const ec::CurveParams<N>& c, std::string_view bytes, Word* out) {
  while (!bytes.empty() && bytes[0] == 0) bytes.remove_prefix(1);
  if (bytes.size() > 8 * N) return false;
  Bytes padded(8 * N - bytes.size(), '\0');
  padded.append(bytes);
  return ec::loadScalar(c, padded, out) != 0;
}

template <std::size_t N>
bool verify(std::string_view publicPoint, std::string_view digest, std::string_view rBytes,
            std::string_view sBytes) {
  const auto& c = ec::curveParams<N>();
  ec::AffinePoint<N> q;
  Word r[N], s[N], e[N];
  if (rBytes.size() > 66 || sBytes.size() > 66) return false;
  if (!ec::decodePoint(c, publicPoint, q)) return false;
  if (!loadSignatureScalar(c, rBytes, r) || !loadSignatureScalar(c, sBytes, s)) return false;
  ec::digestToScalar(c, digest, e);
  const ec::Fe<N> w = ec::invert(ec::toMontgomery<N>(s, c.n), c.n);
  Word u1[N], u2[N];
  ec::fromMontgomery(ec::mul(ec::toMontgomery<N>(e, c.n), w, c.n), u1, c.n);
  ec::fromMontgomery(ec::mul(ec::toMontgomery<N>(r, c.n), w, c.n), u2, c.n);
  return ec::combinationHasX(c, u1, u2, q, r);
}

template <std::size_t N>
Bytes sign(std::string_view privateScalar, HashAlgorithm hash, std::string_view digest) {
  const auto& c = ec::curveParams<N>();
  Word d[N], e[N];
  if (privateScalar.size() != 8 * N || !ec::loadScalar(c, privateScalar, d)) return {};
  ec::digestToScalar(c, digest, e);
  unsigned char reduced[8 * N];
  ec::wordsToBytes<N>(e, reduced);
  ec::DeterministicNonce<N> nonces(hash, privateScalar,
                                   std::string_view(reinterpret_cast<const char*>(reduced), sizeof reduced));
  const ec::Fe<N> dM = ec::toMontgomery<N>(d, c.n);
  const ec::Fe<N> eM = ec::toMontgomery<N>(e, c.n);
  for (;;) {
    Word k[N];
    nonces.next(c, k);
    unsigned char x[8 * N], y[8 * N];
    ec::toAffineBytes(c, ec::scalarMulBase(c, k), x, y);
    Word r[N];
    ec::wordsFromBytes<N>(x, r);
    ec::reduceOnceModN(c, r);
    const ec::Fe<N> rM = ec::toMontgomery<N>(r, c.n);
    const ec::Fe<N> kInverse = ec::invert(ec::toMontgomery<N>(k, c.n), c.n);
    const ec::Fe<N> sM = ec::mul(kInverse, ec::add(eM, ec::mul(rM, dM, c.n), c.n), c.n);
    // r and s are the public output: testing them for zero leaks nothing.
    if (ec::isZero(rM) || ec::isZero(sM)) continue;
    Word s[N];
    ec::fromMontgomery(sM, s, c.n);
    unsigned char rOut[8 * N], sOut[8 * N];
    ec::wordsToBytes<N>(r, rOut);
    ec::wordsToBytes<N>(s, sOut);
    return encodeEcdsaSignatureDer(std::string_view(reinterpret_cast<const char*>(rOut), sizeof rOut),
                                   std::string_view(reinterpret_cast<const char*>(sOut), sizeof sOut));
  }
}

}  // namespace

bool ecdsaVerify(EcCurve curve, std::string_view publicPoint, std::string_view digest, std::string_view r,
                 std::string_view s) {
  return curve == EcCurve::kP256 ? verify<4>(publicPoint, digest, r, s)
                                 : verify<6>(publicPoint, digest, r, s);
}

bool ecdsaVerifyDer(EcCurve curve, std::string_view publicPoint, std::string_view digest,
                    std::string_view derSignature) {
  const auto parts = parseEcdsaSignatureDer(derSignature);
  return parts && ecdsaVerify(curve, publicPoint, digest, parts->r, parts->s);
}

Bytes ecdsaSignDer(EcCurve curve, std::string_view privateScalar, HashAlgorithm hash,
                   std::string_view digest) {
  return curve == EcCurve::kP256 ? sign<4>(privateScalar, hash, digest)
                                 : sign<6>(privateScalar, hash, digest);
}

}  // namespace qv
