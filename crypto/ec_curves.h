#pragma once
// The NIST prime curves y^2 = x^3 - 3x + b over GF(p) with a base point G of
// prime order n (FIPS 186-4 D.1.2.3 and D.1.2.4), as the field code needs them.
#include <cstddef>

#include "crypto/ec_field.h"

namespace qv::ec {

template <std::size_t N>
struct CurveParams {
  Modulus<N> p;
  Modulus<N> n;
  Fe<N> b;  // Montgomery form, as are the coordinates of G
  Fe<N> gx;
  Fe<N> gy;
};

// P-256 in four words, P-384 in six.
const CurveParams<4>& p256Params();
const CurveParams<6>& p384Params();

template <std::size_t N>
const CurveParams<N>& curveParams();
template <>
inline const CurveParams<4>& curveParams<4>() {
  return p256Params();
}
template <>
inline const CurveParams<6>& curveParams<6>() {
  return p384Params();
}

}  // namespace qv::ec
