#include "crypto/ec_point.h"

#include <vector>

namespace qv::ec {

namespace {

template <std::size_t N>
Point<N> identity(const CurveParams<N>& c) {
  return {zero<N>(), c.p.one, zero<N>()};
}

template <std::size_t N>
Point<N> selectPoint(Word mask, const Point<N>& a, const Point<N>& b) {
  return {select(mask, a.x, b.x), select(mask, a.y, b.y), select(mask, a.z, b.z)};
}

template <std::size_t N>
AffinePoint<N> selectAffine(Word mask, const AffinePoint<N>& a, const AffinePoint<N>& b) {
  return {select(mask, a.x, b.x), select(mask, a.y, b.y)};
}

// Nibble `i` (4 bits from bit 4i) of a scalar.
template <std::size_t N>
unsigned nibble(const Word* k, std::size_t i) {
  return static_cast<unsigned>((k[i / 16] >> (4 * (i % 16))) & 15);
}

}  // namespace

// Algorithm 4 of Renes-Costello-Batina (2015/1060): 12M + 2 multiplications by b.
template <std::size_t N>
Point<N> pointAdd(const CurveParams<N>& c, const Point<N>& a, const Point<N>& b) {
  const Modulus<N>& p = c.p;
  Fe<N> t0 = mul(a.x, b.x, p);
  Fe<N> t1 = mul(a.y, b.y, p);
  Fe<N> t2 = mul(a.z, b.z, p);
  Fe<N> t3 = mul(add(a.x, a.y, p), add(b.x, b.y, p), p);
  t3 = sub(t3, add(t0, t1, p), p);  // X1 Y2 + X2 Y1
  Fe<N> t4 = mul(add(a.y, a.z, p), add(b.y, b.z, p), p);
  t4 = sub(t4, add(t1, t2, p), p);  // Y1 Z2 + Y2 Z1
  Fe<N> y3 = mul(add(a.x, a.z, p), add(b.x, b.z, p), p);
  y3 = sub(y3, add(t0, t2, p), p);  // X1 Z2 + X2 Z1
  Fe<N> z3 = mul(c.b, t2, p);
  Fe<N> x3 = sub(y3, z3, p);
  x3 = add(x3, add(x3, x3, p), p);
  z3 = sub(t1, x3, p);
  x3 = add(t1, x3, p);
  y3 = mul(c.b, y3, p);
  t2 = add(t2, add(t2, t2, p), p);  // 3 Z1 Z2
  y3 = sub(sub(y3, t2, p), t0, p);
  y3 = add(y3, add(y3, y3, p), p);
  t0 = sub(add(t0, add(t0, t0, p), p), t2, p);
  t1 = mul(t4, y3, p);
  t2 = mul(t0, y3, p);
  y3 = add(mul(x3, z3, p), t2, p);
  x3 = sub(mul(t3, x3, p), t1, p);
  z3 = add(mul(t4, z3, p), mul(t3, t0, p), p);
  return {x3, y3, z3};
}

// Algorithm 5: the same with Z2 = 1, 11M + 2 multiplications by b.
template <std::size_t N>
Point<N> pointAddAffine(const CurveParams<N>& c, const Point<N>& a, const AffinePoint<N>& b) {
  const Modulus<N>& p = c.p;
  Fe<N> t0 = mul(a.x, b.x, p);
  Fe<N> t1 = mul(a.y, b.y, p);
  Fe<N> t3 = mul(add(b.x, b.y, p), add(a.x, a.y, p), p);
  t3 = sub(t3, add(t0, t1, p), p);
  const Fe<N> t4 = add(mul(b.y, a.z, p), a.y, p);
  Fe<N> y3 = add(mul(b.x, a.z, p), a.x, p);
  Fe<N> z3 = mul(c.b, a.z, p);
  Fe<N> x3 = sub(y3, z3, p);
  x3 = add(x3, add(x3, x3, p), p);
  z3 = sub(t1, x3, p);
  x3 = add(t1, x3, p);
  y3 = mul(c.b, y3, p);
  const Fe<N> t2 = add(a.z, add(a.z, a.z, p), p);
  y3 = sub(sub(y3, t2, p), t0, p);
  y3 = add(y3, add(y3, y3, p), p);
  t0 = sub(add(t0, add(t0, t0, p), p), t2, p);
  t1 = mul(t4, y3, p);
  const Fe<N> t5 = mul(t0, y3, p);
  y3 = add(mul(x3, z3, p), t5, p);
  x3 = sub(mul(t3, x3, p), t1, p);
  z3 = add(mul(t4, z3, p), mul(t3, t0, p), p);
  return {x3, y3, z3};
}

// Algorithm 6: 8M + 3S + 2 multiplications by b.
template <std::size_t N>
Point<N> pointDouble(const CurveParams<N>& c, const Point<N>& a) {
  const Modulus<N>& p = c.p;
  Fe<N> t0 = sqr(a.x, p);
  const Fe<N> t1 = sqr(a.y, p);
  Fe<N> t2 = sqr(a.z, p);
  Fe<N> t3 = mul(a.x, a.y, p);
  t3 = add(t3, t3, p);
  const Fe<N> t4 = mul(a.y, a.z, p);
  Fe<N> z3 = mul(a.x, a.z, p);
  z3 = add(z3, z3, p);
  Fe<N> y3 = sub(mul(c.b, t2, p), z3, p);
  y3 = add(y3, add(y3, y3, p), p);
  Fe<N> x3 = sub(t1, y3, p);
  y3 = add(t1, y3, p);
  y3 = mul(x3, y3, p);
  x3 = mul(x3, t3, p);
  t2 = add(t2, add(t2, t2, p), p);
  z3 = sub(sub(mul(c.b, z3, p), t2, p), t0, p);
  z3 = add(z3, add(z3, z3, p), p);
  t0 = sub(add(t0, add(t0, t0, p), p), t2, p);
  y3 = add(y3, mul(t0, z3, p), p);
  const Fe<N> t5 = add(t4, t4, p);
  x3 = sub(x3, mul(t5, z3, p), p);
  z3 = mul(t5, t1, p);
  z3 = add(z3, z3, p);
  z3 = add(z3, z3, p);
  return {x3, y3, z3};
}

template <std::size_t N>
bool decodePoint(const CurveParams<N>& c, std::string_view encoded, AffinePoint<N>& out) {
  if (encoded.size() != 1 + 16 * N || encoded[0] != 0x04) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(encoded.data());
  Word x[N], y[N];
  wordsFromBytes<N>(bytes + 1, x);
  wordsFromBytes<N>(bytes + 1 + 8 * N, y);
  if (!lessThanModulus<N>(x, c.p) || !lessThanModulus<N>(y, c.p)) return false;
  const Fe<N> fx = toMontgomery<N>(x, c.p);
  const Fe<N> fy = toMontgomery<N>(y, c.p);
  // y^2 = x^3 - 3x + b
  const Fe<N> x3 = mul(sqr(fx, c.p), fx, c.p);
  const Fe<N> threeX = add(fx, add(fx, fx, c.p), c.p);
  const Fe<N> rhs = add(sub(x3, threeX, c.p), c.b, c.p);
  if (!equal(sqr(fy, c.p), rhs)) return false;
  out = {fx, fy};
  return true;
}

template <std::size_t N>
bool toAffineBytes(const CurveParams<N>& c, const Point<N>& a, unsigned char* x, unsigned char* y) {
  const Fe<N> zInverse = invert(a.z, c.p);
  Word px[N], py[N];
  fromMontgomery(mul(a.x, zInverse, c.p), px, c.p);
  fromMontgomery(mul(a.y, zInverse, c.p), py, c.p);
  wordsToBytes<N>(px, x);
  wordsToBytes<N>(py, y);
  return !isZero(a.z);
}

namespace {

// Jacobian coordinates (X / Z^2, Y / Z^3), Z = 0 the identity. Doubling has
// no exceptional case on a curve without points of order two, so the
// constant-time paths double here; their additions go through the complete
// projective formulas. The Jacobian additions further down branch on their
// special cases and serve public values only.
template <std::size_t N>
struct Jacobian {
  Fe<N> x, y, z;
};

template <std::size_t N>
bool isIdentity(const Jacobian<N>& a) {
  return isZero(a.z) != 0;
}

// dbl-2001-b for a = -3: 3M + 5S, no branch; the identity doubles to itself.
template <std::size_t N>
Jacobian<N> jacobianDouble(const Modulus<N>& p, const Jacobian<N>& a) {
  const Fe<N> delta = sqr(a.z, p);
  const Fe<N> gamma = sqr(a.y, p);
  const Fe<N> beta = mul(a.x, gamma, p);
  const Fe<N> t = mul(sub(a.x, delta, p), add(a.x, delta, p), p);
  const Fe<N> alpha = add(t, add(t, t, p), p);
  const Fe<N> beta4 = add(add(beta, beta, p), add(beta, beta, p), p);
  Jacobian<N> r;
  r.x = sub(sqr(alpha, p), add(beta4, beta4, p), p);
  r.z = sub(sub(sqr(add(a.y, a.z, p), p), gamma, p), delta, p);
  Fe<N> gamma2 = sqr(gamma, p);
  gamma2 = add(gamma2, gamma2, p);
  gamma2 = add(gamma2, gamma2, p);
  gamma2 = add(gamma2, gamma2, p);
  r.y = sub(mul(alpha, sub(beta4, r.x, p), p), gamma2, p);
  return r;
}

// (X Z, Y, Z^3); an identity, which may arrive as (0, 0, 0), becomes (0 : 1 : 0).
template <std::size_t N>
Point<N> toProjective(const Modulus<N>& p, const Jacobian<N>& a) {
  Point<N> r = {mul(a.x, a.z, p), a.y, mul(sqr(a.z, p), a.z, p)};
  r.y = select(isZero(r.z), r.y, p.one);
  return r;
}

// (X Z, Y Z^2, Z).
template <std::size_t N>
Jacobian<N> toJacobian(const Modulus<N>& p, const Point<N>& a) {
  return {mul(a.x, a.z, p), mul(a.y, sqr(a.z, p), p), a.z};
}

}  // namespace

// A fixed 4-bit window: 4 doublings (Jacobian) and one complete addition of
// a multiple picked by reading every entry of the table under a mask.
template <std::size_t N>
Point<N> scalarMul(const CurveParams<N>& c, const Word* k, const AffinePoint<N>& p) {
  Point<N> table[16];
  table[0] = identity(c);
  table[1] = {p.x, p.y, c.p.one};
  for (int j = 2; j < 16; ++j)
    table[j] = j % 2 == 0 ? pointDouble(c, table[j / 2]) : pointAdd(c, table[j - 1], table[1]);
  Point<N> acc = identity(c);
  for (std::size_t i = 16 * N; i-- > 0;) {
    if (i + 1 < 16 * N) {
      Jacobian<N> j = toJacobian(c.p, acc);
      for (int d = 0; d < 4; ++d) j = jacobianDouble(c.p, j);
      acc = toProjective(c.p, j);
    }
    const unsigned digit = nibble<N>(k, i);
    Point<N> chosen = table[0];
    for (unsigned j = 1; j < 16; ++j) chosen = selectPoint(maskIfZero(digit ^ j), chosen, table[j]);
    acc = pointAdd(c, acc, chosen);
  }
  return acc;
}

namespace {

// Row i holds j * 16^i * G for j = 1..15, affine.
template <std::size_t N>
struct BaseTable {
  std::vector<AffinePoint<N>> entries;  // 16N rows of 15
  const AffinePoint<N>* row(std::size_t i) const { return entries.data() + 15 * i; }
};

template <std::size_t N>
BaseTable<N> makeBaseTable(const CurveParams<N>& c) {
  const std::size_t rows = 16 * N;
  std::vector<Point<N>> points(15 * rows);
  Point<N> base = {c.gx, c.gy, c.p.one};
  for (std::size_t i = 0; i < rows; ++i) {
    Point<N>* row = points.data() + 15 * i;
    row[0] = base;
    for (int j = 1; j < 15; ++j) row[j] = pointAdd(c, row[j - 1], base);
    for (int d = 0; d < 4; ++d) base = pointDouble(c, base);
  }
  // One inversion for all: prefix products of the Z, then back down.
  std::vector<Fe<N>> prefix(points.size());
  Fe<N> acc = c.p.one;
  for (std::size_t i = 0; i < points.size(); ++i) prefix[i] = acc = mul(acc, points[i].z, c.p);
  Fe<N> inverse = invert(acc, c.p);
  BaseTable<N> table;
  table.entries.resize(points.size());
  for (std::size_t i = points.size(); i-- > 0;) {
    const Fe<N> zInverse = i == 0 ? inverse : mul(inverse, prefix[i - 1], c.p);
    inverse = mul(inverse, points[i].z, c.p);
    table.entries[i] = {mul(points[i].x, zInverse, c.p), mul(points[i].y, zInverse, c.p)};
  }
  return table;
}

template <std::size_t N>
const BaseTable<N>& baseTable(const CurveParams<N>& c) {
  static const BaseTable<N> table = makeBaseTable(c);
  return table;
}

}  // namespace

// One affine addition per nibble and no doubling; a zero nibble adds a
// dummy entry whose result is then dropped under a mask.
template <std::size_t N>
Point<N> scalarMulBase(const CurveParams<N>& c, const Word* k) {
  const BaseTable<N>& table = baseTable(c);
  Point<N> acc = identity(c);
  for (std::size_t i = 0; i < 16 * N; ++i) {
    const unsigned digit = nibble<N>(k, i);
    const AffinePoint<N>* row = table.row(i);
    AffinePoint<N> chosen = row[0];
    for (unsigned j = 2; j <= 15; ++j) chosen = selectAffine(maskIfZero(digit ^ j), chosen, row[j - 1]);
    const Point<N> sum = pointAddAffine(c, acc, chosen);
    acc = selectPoint(~maskIfZero(digit), acc, sum);
  }
  return acc;
}

namespace {

// Width-5 non-adjacent form: digits odd in [-15, 15] or zero, least
// significant first; at most 64N + 1 of them.
template <std::size_t N>
std::size_t wnaf(const Word* scalar, signed char* digits) {
  Word k[N + 1];
  for (std::size_t i = 0; i < N; ++i) k[i] = scalar[i];
  k[N] = 0;
  std::size_t length = 0;
  auto nonZero = [&] {
    Word acc = 0;
    for (Word w : k) acc |= w;
    return acc != 0;
  };
  while (nonZero()) {
    int d = 0;
    if (k[0] & 1) {
      d = static_cast<int>(k[0] & 31);
      if (d >= 16) d -= 32;
      // k -= d
      if (d > 0) {
        Word borrow = 0;
        k[0] = subBorrow(k[0], static_cast<Word>(d), borrow);
        for (std::size_t i = 1; i <= N; ++i) k[i] = subBorrow(k[i], 0, borrow);
      } else {
        Word carry = 0;
        k[0] = addCarry(k[0], static_cast<Word>(-d), carry);
        for (std::size_t i = 1; i <= N; ++i) k[i] = addCarry(k[i], 0, carry);
      }
    }
    digits[length++] = static_cast<signed char>(d);
    for (std::size_t i = 0; i < N; ++i) k[i] = (k[i] >> 1) | (k[i + 1] << 63);
    k[N] >>= 1;
  }
  return length;
}

// The common tail of add-2007-bl and madd-2007-bl once U1, U2, S1, S2 and
// the Z of the result up to the factor H are known.
template <std::size_t N>
Jacobian<N> jacobianFinish(const Modulus<N>& p, const Fe<N>& u1, const Fe<N>& u2, const Fe<N>& s1,
                           const Fe<N>& s2, const Fe<N>& zSum, bool* same) {
  const Fe<N> h = sub(u2, u1, p);
  Fe<N> r = sub(s2, s1, p);
  *same = false;
  if (isZero(h)) {
    if (isZero(r)) *same = true;  // the caller doubles
    return {zero<N>(), p.one, zero<N>()};
  }
  r = add(r, r, p);
  const Fe<N> h2 = add(h, h, p);
  const Fe<N> i = sqr(h2, p);
  const Fe<N> j = mul(h, i, p);
  const Fe<N> v = mul(u1, i, p);
  Jacobian<N> out;
  out.x = sub(sub(sqr(r, p), j, p), add(v, v, p), p);
  const Fe<N> s1j = mul(s1, j, p);
  out.y = sub(mul(r, sub(v, out.x, p), p), add(s1j, s1j, p), p);
  out.z = mul(zSum, h, p);
  return out;
}

template <std::size_t N>
Jacobian<N> jacobianAdd(const Modulus<N>& p, const Jacobian<N>& a, const Jacobian<N>& b) {
  if (isIdentity(a)) return b;
  if (isIdentity(b)) return a;
  const Fe<N> z1z1 = sqr(a.z, p), z2z2 = sqr(b.z, p);
  const Fe<N> u1 = mul(a.x, z2z2, p), u2 = mul(b.x, z1z1, p);
  const Fe<N> s1 = mul(a.y, mul(b.z, z2z2, p), p), s2 = mul(b.y, mul(a.z, z1z1, p), p);
  // (Z1 + Z2)^2 - Z1Z1 - Z2Z2 = 2 Z1 Z2
  const Fe<N> z12 = mul(a.z, b.z, p);
  bool same;
  const Jacobian<N> out = jacobianFinish(p, u1, u2, s1, s2, add(z12, z12, p), &same);
  return same ? jacobianDouble(p, a) : out;
}

template <std::size_t N>
Jacobian<N> jacobianAddAffine(const Modulus<N>& p, const Jacobian<N>& a, const AffinePoint<N>& b) {
  if (isIdentity(a)) return {b.x, b.y, p.one};
  const Fe<N> z1z1 = sqr(a.z, p);
  const Fe<N> u2 = mul(b.x, z1z1, p);
  const Fe<N> s2 = mul(b.y, mul(a.z, z1z1, p), p);
  bool same;
  const Jacobian<N> out = jacobianFinish(p, a.x, u2, a.y, s2, add(a.z, a.z, p), &same);
  return same ? jacobianDouble(p, a) : out;
}

template <std::size_t N>
Jacobian<N> negate(const Modulus<N>& p, Jacobian<N> a) {
  a.y = sub(zero<N>(), a.y, p);
  return a;
}

}  // namespace

template <std::size_t N>
bool combinationHasX(const CurveParams<N>& c, const Word* u1, const Word* u2, const AffinePoint<N>& q,
                     const Word* r) {
  const Modulus<N>& p = c.p;
  // u2 * Q by w-NAF over the odd multiples Q, 3Q, ..., 15Q.
  Jacobian<N> odd[8];
  odd[0] = {q.x, q.y, p.one};
  const Jacobian<N> twice = jacobianDouble(p, odd[0]);
  for (int j = 1; j < 8; ++j) odd[j] = jacobianAdd(p, odd[j - 1], twice);
  signed char digits[64 * N + 1];
  const std::size_t length = wnaf<N>(u2, digits);
  Jacobian<N> acc = {zero<N>(), p.one, zero<N>()};
  for (std::size_t i = length; i-- > 0;) {
    acc = jacobianDouble(p, acc);
    const int d = digits[i];
    if (d > 0) acc = jacobianAdd(p, acc, odd[d / 2]);
    if (d < 0) acc = jacobianAdd(p, acc, negate(p, odd[-d / 2]));
  }
  // Plus u1 * G from the base table, skipping zero nibbles.
  const BaseTable<N>& table = baseTable(c);
  for (std::size_t i = 0; i < 16 * N; ++i) {
    const unsigned digit = nibble<N>(u1, i);
    if (digit != 0) acc = jacobianAddAffine(p, acc, table.row(i)[digit - 1]);
  }
  if (isIdentity(acc)) return false;
  // x(R) = X / Z^2 and x(R) mod n = r: X = r Z^2, or X = (r + n) Z^2 where
  // r + n < p, without an inversion.
  const Fe<N> z2 = sqr(acc.z, p);
  if (equal(acc.x, mul(toMontgomery<N>(r, p), z2, p))) return true;
  Word rn[N];
  Word carry = 0;
  for (std::size_t k = 0; k < N; ++k) rn[k] = addCarry(r[k], c.n.m[k], carry);
  if (carry || !lessThanModulus<N>(rn, p)) return false;
  return equal(acc.x, mul(toMontgomery<N>(rn, p), z2, p)) != 0;
}

#define QV_EC_INSTANTIATE(N)                                                                               \
  template Point<N> pointAdd<N>(const CurveParams<N>&, const Point<N>&, const Point<N>&);                  \
  template Point<N> pointAddAffine<N>(const CurveParams<N>&, const Point<N>&, const AffinePoint<N>&);      \
  template Point<N> pointDouble<N>(const CurveParams<N>&, const Point<N>&);                                \
  template bool decodePoint<N>(const CurveParams<N>&, std::string_view, AffinePoint<N>&);                  \
  template bool toAffineBytes<N>(const CurveParams<N>&, const Point<N>&, unsigned char*, unsigned char*);  \
  template Point<N> scalarMul<N>(const CurveParams<N>&, const Word*, const AffinePoint<N>&);               \
  template Point<N> scalarMulBase<N>(const CurveParams<N>&, const Word*);                                  \
  template bool combinationHasX<N>(const CurveParams<N>&, const Word*, const Word*, const AffinePoint<N>&, \
                                   const Word*);
QV_EC_INSTANTIATE(4)
QV_EC_INSTANTIATE(6)
#undef QV_EC_INSTANTIATE

}  // namespace qv::ec
