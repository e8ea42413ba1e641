#pragma once
// Points of the NIST prime curves and scalar multiplication. Projective
// coordinates (X : Y : Z) with the complete formulas of Renes, Costello and
// Batina for a = -3 (every input, the identity (0 : 1 : 0) and doubling
// included, takes the same instructions), so the constant-time paths never
// branch on a point.
#include <cstddef>
#include <string_view>

#include "crypto/ec_curves.h"

namespace qv::ec {

template <std::size_t N>
struct Point {
  Fe<N> x, y, z;
};

template <std::size_t N>
struct AffinePoint {
  Fe<N> x, y;
};

template <std::size_t N>
Point<N> pointAdd(const CurveParams<N>& c, const Point<N>& a, const Point<N>& b);
// a + b for an affine b (not the identity).
template <std::size_t N>
Point<N> pointAddAffine(const CurveParams<N>& c, const Point<N>& a, const AffinePoint<N>& b);
template <std::size_t N>
Point<N> pointDouble(const CurveParams<N>& c, const Point<N>& a);

// An uncompressed encoding 04 || X || Y with X, Y < p on the curve; false
// for anything else (it can never be the identity).
template <std::size_t N>
bool decodePoint(const CurveParams<N>& c, std::string_view encoded, AffinePoint<N>& out);
// Plain big-endian coordinates; false (and zeros) for the identity.
template <std::size_t N>
bool toAffineBytes(const CurveParams<N>& c, const Point<N>& a, unsigned char* x, unsigned char* y);

// k * P for a plain scalar k < 2^(64N), constant time in k and P.
template <std::size_t N>
Point<N> scalarMul(const CurveParams<N>& c, const Word* k, const AffinePoint<N>& p);
// k * G from a table of multiples of G, constant time in k.
template <std::size_t N>
Point<N> scalarMulBase(const CurveParams<N>& c, const Word* k);
// ECDSA's final check, for public scalars and point (variable time):
// whether R = u1 * G + u2 * Q is not the identity and x(R) mod n = r, for a
// plain r in [1, n - 1].
template <std::size_t N>
bool combinationHasX(const CurveParams<N>& c, const Word* u1, const Word* u2, const AffinePoint<N>& q,
                     const Word* r);

}  // namespace qv::ec
