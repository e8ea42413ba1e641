#pragma once
// Constant-time arithmetic modulo an odd prime of N 64-bit words (the P-256 and
// P-384 field primes and group orders): Montgomery form, every value fully
// reduced, fixed word counts, carries and selections by masks, never by branches.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv::ec {

using Word = std::uint64_t;

// Every loop here runs a fixed, small number of times; fully unrolled, the
// words stay in registers.
#define QV_EC_UNROLL _Pragma("GCC unroll 16")

// Portable forms from 32 x 32 -> 64 products, for targets without a 128-bit
// integer (i686); carries come from bit logic rather than comparisons, which
// may compile to branches there. Always compiled, so tests can hold them
// against the 128-bit forms; QV_EC_PORTABLE_WORDS selects them anywhere.
namespace portable {
inline Word carryOf(Word a, Word b, Word sum) { return ((a & b) | ((a | b) & ~sum)) >> 63; }
inline Word borrowOf(Word a, Word b, Word diff) { return ((~a & b) | (~(a ^ b) & diff)) >> 63; }

// a + b + carry (carry 0 or 1, and so out).
inline Word addCarry(Word a, Word b, Word& carry) {
  const Word s1 = a + b;
  const Word c1 = carryOf(a, b, s1);
  const Word s2 = s1 + carry;
  carry = c1 | carryOf(s1, carry, s2);
  return s2;
}
// a - b - borrow (borrow 0 or 1, and so out).
inline Word subBorrow(Word a, Word b, Word& borrow) {
  const Word d1 = a - b;
  const Word b1 = borrowOf(a, b, d1);
  const Word d2 = d1 - borrow;
  borrow = b1 | borrowOf(d1, borrow, d2);
  return d2;
}
// a * b + c + carry, low word returned and high word left in carry (never overflows).
inline Word mulAdd(Word a, Word b, Word c, Word& carry) {
  constexpr Word kLow = 0xFFFFFFFF;
  const Word a0 = a & kLow, a1 = a >> 32, b0 = b & kLow, b1 = b >> 32;
  const Word p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const Word mid = (p00 >> 32) + (p01 & kLow) + (p10 & kLow);
  Word lo = (mid << 32) | (p00 & kLow);
  const Word hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
  Word c1 = 0;
  lo = addCarry(lo, c, c1);
  Word c2 = 0;
  lo = addCarry(lo, carry, c2);
  carry = hi + c1 + c2;
  return lo;
}
}  // namespace portable

#if defined(__SIZEOF_INT128__) && !defined(QV_EC_PORTABLE_WORDS)
__extension__ typedef unsigned __int128 DoubleWord;

inline Word mulAdd(Word a, Word b, Word c, Word& carry) {
  const DoubleWord t = static_cast<DoubleWord>(a) * b + c + carry;
  carry = static_cast<Word>(t >> 64);
  return static_cast<Word>(t);
}
inline Word addCarry(Word a, Word b, Word& carry) {
  const DoubleWord t = static_cast<DoubleWord>(a) + b + carry;
  carry = static_cast<Word>(t >> 64);
  return static_cast<Word>(t);
}
inline Word subBorrow(Word a, Word b, Word& borrow) {
  const DoubleWord t = static_cast<DoubleWord>(a) - b - borrow;
  borrow = static_cast<Word>(t >> 64) & 1;
  return static_cast<Word>(t);
}
#else
using portable::addCarry;
using portable::mulAdd;
using portable::subBorrow;
#endif

// All ones when w is zero, else zero.
inline Word maskIfZero(Word w) { return ((w | (0 - w)) >> 63) - 1; }

// A residue in Montgomery form (a * 2^(64N) mod m), least significant word first.
template <std::size_t N>
struct Fe {
  Word v[N];
};

// A modulus and what Montgomery multiplication needs of it.
template <std::size_t N>
struct Modulus {
  Word m[N];
  Word inv;         // -m^-1 mod 2^64
  Fe<N> one;        // R mod m
  Fe<N> r2;         // R^2 mod m, to enter Montgomery form
  Word mMinus2[N];  // the exponent of Fermat inversion
};

// A big-endian hex constant (exactly 16N digits) as words.
template <std::size_t N>
constexpr void wordsFromHex(const char* hex, Word* out) {
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) {
    Word w = 0;
    QV_EC_UNROLL
    for (std::size_t d = 0; d < 16; ++d) {
      const char c = hex[(N - 1 - k) * 16 + d];
      const Word v = c >= 'a' ? static_cast<Word>(c - 'a' + 10) : static_cast<Word>(c - '0');
      w = (w << 4) | v;
    }
    out[k] = w;
  }
}

// The modulus m must be odd and have its top bit set.
template <std::size_t N>
Modulus<N> makeModulus(const char* hex) {
  Modulus<N> md{};
  wordsFromHex<N>(hex, md.m);
  // Newton's iteration doubles the correct low bits of m^-1 each step.
  Word x = md.m[0];
  for (int i = 0; i < 6; ++i) x *= 2 - md.m[0] * x;
  md.inv = 0 - x;
  // R mod m = 2^(64N) - m, since m > 2^(64N-1).
  Word borrow = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) md.one.v[k] = subBorrow(0, md.m[k], borrow);
  // R^2 mod m by 64N modular doublings of R mod m.
  Fe<N> t = md.one;
  for (std::size_t i = 0; i < 64 * N; ++i) {
    Word carry = 0;
    Word d[N] = {};
    QV_EC_UNROLL
    for (std::size_t k = 0; k < N; ++k) d[k] = addCarry(t.v[k], t.v[k], carry);
    Word s[N] = {};
    Word b = 0;
    QV_EC_UNROLL
    for (std::size_t k = 0; k < N; ++k) s[k] = subBorrow(d[k], md.m[k], b);
    const bool keep = carry == 0 && b == 1;
    QV_EC_UNROLL
    for (std::size_t k = 0; k < N; ++k) t.v[k] = keep ? d[k] : s[k];
  }
  md.r2 = t;
  // The low word of an odd modulus above 2 cannot borrow.
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) md.mMinus2[k] = md.m[k];
  md.mMinus2[0] -= 2;
  return md;
}

// r = t - m if t (N words plus a top word) >= m, else t; t < 2m.
template <std::size_t N>
inline void reduceOnce(Word* r, const Word* t, Word top, const Modulus<N>& md) {
  Word d[N];
  Word borrow = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) d[k] = subBorrow(t[k], md.m[k], borrow);
  subBorrow(top, 0, borrow);
  const Word keep = 0 - borrow;  // t < m
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) r[k] = (t[k] & keep) | (d[k] & ~keep);
}

// a * b * R^-1 mod m (coarsely integrated operand scanning).
template <std::size_t N>
inline Fe<N> mul(const Fe<N>& a, const Fe<N>& b, const Modulus<N>& md) {
  Word t[N + 2] = {};
  QV_EC_UNROLL
  for (std::size_t i = 0; i < N; ++i) {
    Word c = 0;
    QV_EC_UNROLL
    for (std::size_t j = 0; j < N; ++j) t[j] = mulAdd(a.v[j], b.v[i], t[j], c);
    Word c2 = 0;
    t[N] = addCarry(t[N], c, c2);
    t[N + 1] = c2;
    const Word q = t[0] * md.inv;
    c = 0;
    mulAdd(q, md.m[0], t[0], c);  // the low word cancels
    QV_EC_UNROLL
    for (std::size_t j = 1; j < N; ++j) t[j - 1] = mulAdd(q, md.m[j], t[j], c);
    c2 = 0;
    t[N - 1] = addCarry(t[N], c, c2);
    t[N] = t[N + 1] + c2;
  }
  Fe<N> r;
  reduceOnce<N>(r.v, t, t[N], md);
  return r;
}

template <std::size_t N>
inline Fe<N> sqr(const Fe<N>& a, const Modulus<N>& md) {
  return mul(a, a, md);
}

template <std::size_t N>
inline Fe<N> add(const Fe<N>& a, const Fe<N>& b, const Modulus<N>& md) {
  Word s[N];
  Word carry = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) s[k] = addCarry(a.v[k], b.v[k], carry);
  Fe<N> r;
  reduceOnce<N>(r.v, s, carry, md);
  return r;
}

template <std::size_t N>
inline Fe<N> sub(const Fe<N>& a, const Fe<N>& b, const Modulus<N>& md) {
  Fe<N> r;
  Word borrow = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) r.v[k] = subBorrow(a.v[k], b.v[k], borrow);
  const Word mask = 0 - borrow;
  Word carry = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) r.v[k] = addCarry(r.v[k], md.m[k] & mask, carry);
  return r;
}

template <std::size_t N>
inline Fe<N> zero() {
  return Fe<N>{};
}

// All ones when a is zero (Montgomery form of zero is zero).
template <std::size_t N>
inline Word isZero(const Fe<N>& a) {
  Word acc = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) acc |= a.v[k];
  return maskIfZero(acc);
}

template <std::size_t N>
inline Word equal(const Fe<N>& a, const Fe<N>& b) {
  Word acc = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) acc |= a.v[k] ^ b.v[k];
  return maskIfZero(acc);
}

// mask all ones: b, else a.
template <std::size_t N>
inline Fe<N> select(Word mask, const Fe<N>& a, const Fe<N>& b) {
  Fe<N> r;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) r.v[k] = (a.v[k] & ~mask) | (b.v[k] & mask);
  return r;
}

// Plain value (< m) into Montgomery form and back.
template <std::size_t N>
inline Fe<N> toMontgomery(const Word* plain, const Modulus<N>& md) {
  Fe<N> a;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) a.v[k] = plain[k];
  return mul(a, md.r2, md);
}

template <std::size_t N>
inline void fromMontgomery(const Fe<N>& a, Word* plain, const Modulus<N>& md) {
  Fe<N> one{};
  one.v[0] = 1;
  const Fe<N> r = mul(a, one, md);
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) plain[k] = r.v[k];
}

// a^e for a public exponent e, by a fixed 4-bit window over its words.
template <std::size_t N>
Fe<N> powPublic(const Fe<N>& a, const Word* e, const Modulus<N>& md) {
  Fe<N> table[16];
  table[0] = md.one;
  for (int i = 1; i < 16; ++i) table[i] = mul(table[i - 1], a, md);
  Fe<N> r = md.one;
  for (std::size_t k = N; k-- > 0;) {
    for (int shift = 60; shift >= 0; shift -= 4) {
      for (int s = 0; s < 4; ++s) r = sqr(r, md);
      r = mul(r, table[(e[k] >> shift) & 15], md);
    }
  }
  return r;
}

// a^-1 by Fermat (zero gives zero); the exponent is public, so constant time in a.
template <std::size_t N>
Fe<N> invert(const Fe<N>& a, const Modulus<N>& md) {
  return powPublic(a, md.mMinus2, md);
}

// Big-endian bytes (exactly 8N) to plain words and back.
template <std::size_t N>
inline void wordsFromBytes(const unsigned char* in, Word* out) {
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) {
    Word w = 0;
    QV_EC_UNROLL
    for (std::size_t b = 0; b < 8; ++b) w = (w << 8) | in[(N - 1 - k) * 8 + b];
    out[k] = w;
  }
}

template <std::size_t N>
inline void wordsToBytes(const Word* in, unsigned char* out) {
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) QV_EC_UNROLL
  for (std::size_t b = 0; b < 8; ++b)
    out[(N - 1 - k) * 8 + b] = static_cast<unsigned char>(in[k] >> (56 - 8 * b));
}

// All ones when the plain value a < m (a borrow chain, no early exit).
template <std::size_t N>
inline Word lessThanModulus(const Word* a, const Modulus<N>& md) {
  Word borrow = 0;
  QV_EC_UNROLL
  for (std::size_t k = 0; k < N; ++k) subBorrow(a[k], md.m[k], borrow);
  return 0 - borrow;
}

}  // namespace qv::ec
