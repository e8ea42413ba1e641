#include "crypto/ec_curves.h"

namespace qv::ec {

namespace {

template <std::size_t N>
Fe<N> fieldConstant(const char* hex, const Modulus<N>& p) {
  Word w[N];
  wordsFromHex<N>(hex, w);
  return toMontgomery<N>(w, p);
}

template <std::size_t N>
CurveParams<N> makeCurve(const char* p, const char* n, const char* b, const char* gx, const char* gy) {
  CurveParams<N> c{};
  c.p = makeModulus<N>(p);
  c.n = makeModulus<N>(n);
  c.b = fieldConstant<N>(b, c.p);
  c.gx = fieldConstant<N>(gx, c.p);
  c.gy = fieldConstant<N>(gy, c.p);
  return c;
}

}  // namespace

const CurveParams<4>& p256Params() {
  static const CurveParams<4> curve =
      makeCurve<4>("ffffffff00000001000000000000000000000000ffffffffffffffffffffffff",
                   "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551",
                   "5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b",
                   "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296",
                   "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
  return curve;
}

const CurveParams<6>& p384Params() {
  static const CurveParams<6> curve = makeCurve<6>(
      "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffeffffffff0000000000000000ffffffff",
      "ffffffffffffffffffffffffffffffffffffffffffffffffc7634d81f4372ddf581a0db248b0a77aecec196accc52973",
      "b3312fa7e23ee7e4988e056be3f82d19181d9c6efe8141120314088f5013875ac656398d8a2ed19d2a85c8edd3ec2aef",
      "aa87ca22be8b05378eb1c71ef320ad746e1d3b628ba79b9859f741e082542a385502f25dbf55296c3a545e3872760ab7",
      "3617de4a96262c6f5d9e98bf9292dc29f8f41dbd289a147ce9da3113b5f0b8c00a60b1ce1d7e819d7a431d7c90ea0e5f");
  return curve;
}

}  // namespace qv::ec
