#include "crypto/ghash_clmul.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#if defined(__i386__)
#define QV_CLMUL __attribute__((target("pclmul,ssse3,sse4.1"), force_align_arg_pointer))
#else
#define QV_CLMUL __attribute__((target("pclmul,ssse3,sse4.1")))
#endif

namespace qv::clmul {

namespace {

QV_CLMUL inline __m128i reversed(const unsigned char* p) {
  const __m128i swap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
}

QV_CLMUL inline void storeReversed(unsigned char* p, __m128i v) {
  const __m128i swap = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(v, swap));
}

// The unreduced 256-bit carry-less product, accumulated into lo, mid, hi.
QV_CLMUL inline void accumulate(__m128i a, __m128i b, __m128i& lo, __m128i& mid, __m128i& hi) {
  lo = _mm_xor_si128(lo, _mm_clmulepi64_si128(a, b, 0x00));
  hi = _mm_xor_si128(hi, _mm_clmulepi64_si128(a, b, 0x11));
  mid = _mm_xor_si128(mid, _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x10), _mm_clmulepi64_si128(a, b, 0x01)));
}

// Folds the middle term in, shifts the product left once (the operands are
// bit-reflected) and reduces modulo x^128 + x^7 + x^2 + x + 1. All of it is
// linear, so it may follow a sum of several products.
QV_CLMUL inline __m128i reduce(__m128i lo, __m128i mid, __m128i hi) {
  lo = _mm_xor_si128(lo, _mm_slli_si128(mid, 8));
  hi = _mm_xor_si128(hi, _mm_srli_si128(mid, 8));
  __m128i carryLo = _mm_srli_epi32(lo, 31);
  __m128i carryHi = _mm_srli_epi32(hi, 31);
  lo = _mm_slli_epi32(lo, 1);
  hi = _mm_slli_epi32(hi, 1);
  const __m128i across = _mm_srli_si128(carryLo, 12);
  carryHi = _mm_slli_si128(carryHi, 4);
  carryLo = _mm_slli_si128(carryLo, 4);
  lo = _mm_or_si128(lo, carryLo);
  hi = _mm_or_si128(_mm_or_si128(hi, carryHi), across);
  __m128i a =
      _mm_xor_si128(_mm_xor_si128(_mm_slli_epi32(lo, 31), _mm_slli_epi32(lo, 30)), _mm_slli_epi32(lo, 25));
  const __m128i b = _mm_srli_si128(a, 4);
  a = _mm_slli_si128(a, 12);
  lo = _mm_xor_si128(lo, a);
  __m128i c =
      _mm_xor_si128(_mm_xor_si128(_mm_srli_epi32(lo, 1), _mm_srli_epi32(lo, 2)), _mm_srli_epi32(lo, 7));
  c = _mm_xor_si128(c, b);
  lo = _mm_xor_si128(lo, c);
  return _mm_xor_si128(hi, lo);
}

QV_CLMUL inline __m128i multiply(__m128i a, __m128i b) {
  __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
  accumulate(a, b, lo, mid, hi);
  return reduce(lo, mid, hi);
}

QV_CLMUL inline __m128i power(const unsigned char powers[8][16], int i) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(powers[i]));
}

}  // namespace

QV_CLMUL void ghashPowers(const unsigned char h[16], unsigned char powers[8][16]) {
  const __m128i h1 = reversed(h);
  __m128i p = h1;
  for (int i = 0; i < 8; ++i) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(powers[i]), p);
    p = multiply(p, h1);
  }
}

QV_CLMUL void ghashBlocks(const unsigned char powers[8][16], unsigned char y[16], const unsigned char* data,
                          std::size_t length) {
  __m128i acc = reversed(y);
  if (length >= 128) {
    __m128i hp[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) hp[i] = power(powers, i);
    for (; length >= 128; length -= 128, data += 128) {
      // (Y + X1) H^8 + X2 H^7 + ... + X8 H, reduced once.
      __m128i lo = _mm_setzero_si128(), mid = lo, hi = lo;
      accumulate(_mm_xor_si128(acc, reversed(data)), hp[7], lo, mid, hi);
#pragma GCC unroll 8
      for (int j = 1; j < 8; ++j) accumulate(reversed(data + 16 * j), hp[7 - j], lo, mid, hi);
      acc = reduce(lo, mid, hi);
    }
  }
  const __m128i h1 = power(powers, 0);
  for (; length >= 16; length -= 16, data += 16) acc = multiply(_mm_xor_si128(acc, reversed(data)), h1);
  if (length != 0) {
    unsigned char last[16] = {};
    std::memcpy(last, data, length);
    acc = multiply(_mm_xor_si128(acc, reversed(last)), h1);
  }
  storeReversed(y, acc);
}

}  // namespace qv::clmul

#else

namespace qv::clmul {
void ghashPowers(const unsigned char*, unsigned char (*)[16]) {}
void ghashBlocks(const unsigned char (*)[16], unsigned char*, const unsigned char*, std::size_t) {}
}  // namespace qv::clmul

#endif
