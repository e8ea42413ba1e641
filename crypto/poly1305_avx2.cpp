#include "crypto/poly1305_avx2.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#if defined(__i386__)
#define QV_AVX2 __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define QV_AVX2 __attribute__((target("avx2")))
#endif

namespace qv::poly1305_avx2 {

namespace {

struct Limbs {
  __m256i v[5];
};

// A power of r in every lane, or one power per lane; s = 5r folds the
// products past 2^130 back (2^130 = 5 mod p).
struct Multiplier {
  Limbs r;
  Limbs s;
};

QV_AVX2 inline __m256i mul(__m256i a, __m256i b) { return _mm256_mul_epu32(a, b); }

QV_AVX2 inline void mulReduce(Limbs& h, const Multiplier& k) {
  const __m256i* r = k.r.v;
  const __m256i* s = k.s.v;
  const __m256i h0 = h.v[0], h1 = h.v[1], h2 = h.v[2], h3 = h.v[3], h4 = h.v[4];
  __m256i d0 =
      _mm256_add_epi64(_mm256_add_epi64(mul(h0, r[0]), mul(h1, s[4])),
                       _mm256_add_epi64(_mm256_add_epi64(mul(h2, s[3]), mul(h3, s[2])), mul(h4, s[1])));
  __m256i d1 =
      _mm256_add_epi64(_mm256_add_epi64(mul(h0, r[1]), mul(h1, r[0])),
                       _mm256_add_epi64(_mm256_add_epi64(mul(h2, s[4]), mul(h3, s[3])), mul(h4, s[2])));
  __m256i d2 =
      _mm256_add_epi64(_mm256_add_epi64(mul(h0, r[2]), mul(h1, r[1])),
                       _mm256_add_epi64(_mm256_add_epi64(mul(h2, r[0]), mul(h3, s[4])), mul(h4, s[3])));
  __m256i d3 =
      _mm256_add_epi64(_mm256_add_epi64(mul(h0, r[3]), mul(h1, r[2])),
                       _mm256_add_epi64(_mm256_add_epi64(mul(h2, r[1]), mul(h3, r[0])), mul(h4, s[4])));
  __m256i d4 =
      _mm256_add_epi64(_mm256_add_epi64(mul(h0, r[4]), mul(h1, r[3])),
                       _mm256_add_epi64(_mm256_add_epi64(mul(h2, r[2]), mul(h3, r[1])), mul(h4, r[0])));
  // Two carry chains side by side (d3 -> d4 -> d0 -> d1, d0 -> d1 -> d2 -> d3):
  // every limb ends below 2^26 + 2^12, low enough for the next product.
  const __m256i mask = _mm256_set1_epi64x(0x3ffffff);
  __m256i c = _mm256_srli_epi64(d3, 26);
  __m256i e = _mm256_srli_epi64(d0, 26);
  d3 = _mm256_and_si256(d3, mask);
  d0 = _mm256_and_si256(d0, mask);
  d4 = _mm256_add_epi64(d4, c);
  d1 = _mm256_add_epi64(d1, e);
  c = _mm256_srli_epi64(d4, 26);
  e = _mm256_srli_epi64(d1, 26);
  d4 = _mm256_and_si256(d4, mask);
  d1 = _mm256_and_si256(d1, mask);
  d0 = _mm256_add_epi64(d0, _mm256_add_epi64(c, _mm256_slli_epi64(c, 2)));
  d2 = _mm256_add_epi64(d2, e);
  c = _mm256_srli_epi64(d0, 26);
  e = _mm256_srli_epi64(d2, 26);
  d0 = _mm256_and_si256(d0, mask);
  d2 = _mm256_and_si256(d2, mask);
  d1 = _mm256_add_epi64(d1, c);
  d3 = _mm256_add_epi64(d3, e);
  c = _mm256_srli_epi64(d3, 26);
  d3 = _mm256_and_si256(d3, mask);
  d4 = _mm256_add_epi64(d4, c);
  h.v[0] = d0;
  h.v[1] = d1;
  h.v[2] = d2;
  h.v[3] = d3;
  h.v[4] = d4;
}

QV_AVX2 inline void fill(Multiplier& k, const std::uint32_t* l0, const std::uint32_t* l1,
                         const std::uint32_t* l2, const std::uint32_t* l3) {
  for (int j = 0; j < 5; ++j) {
    k.r.v[j] = _mm256_setr_epi64x(l0[j], l1[j], l2[j], l3[j]);
    k.s.v[j] = _mm256_add_epi64(k.r.v[j], _mm256_slli_epi64(k.r.v[j], 2));
  }
}

QV_AVX2 inline std::uint32_t laneSum(__m256i x) {
  __m128i s = _mm_add_epi64(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
  s = _mm_add_epi64(s, _mm_unpackhi_epi64(s, s));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(s));  // below 2^29
}

QV_AVX2 inline void addBlocks(Limbs& acc, const unsigned char* m) {
  const __m256i mask = _mm256_set1_epi64x(0x3ffffff);
  const __m256i highBit = _mm256_set1_epi64x(1 << 24);
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m + 32));
  const __m256i lo = _mm256_unpacklo_epi64(a, b);
  const __m256i hi = _mm256_unpackhi_epi64(a, b);
  acc.v[0] = _mm256_add_epi64(acc.v[0], _mm256_and_si256(lo, mask));
  acc.v[1] = _mm256_add_epi64(acc.v[1], _mm256_and_si256(_mm256_srli_epi64(lo, 26), mask));
  acc.v[2] = _mm256_add_epi64(
      acc.v[2],
      _mm256_and_si256(_mm256_or_si256(_mm256_srli_epi64(lo, 52), _mm256_slli_epi64(hi, 12)), mask));
  acc.v[3] = _mm256_add_epi64(acc.v[3], _mm256_and_si256(_mm256_srli_epi64(hi, 14), mask));
  acc.v[4] = _mm256_add_epi64(acc.v[4], _mm256_or_si256(_mm256_srli_epi64(hi, 40), highBit));
}

// The lanes' sum in the scalar code's form: every limb below 2^26 but h1 a
// little over.
QV_AVX2 inline void sumInto(std::uint32_t h[5], const Limbs& a, const Limbs* b) {
  std::uint32_t t[5];
  for (int j = 0; j < 5; ++j) t[j] = laneSum(b != nullptr ? _mm256_add_epi64(a.v[j], b->v[j]) : a.v[j]);
  std::uint32_t c = t[0] >> 26;
  t[0] &= 0x3ffffff;
  for (int j = 1; j < 5; ++j) {
    t[j] += c;
    c = t[j] >> 26;
    t[j] &= 0x3ffffff;
  }
  t[0] += c * 5;
  c = t[0] >> 26;
  t[0] &= 0x3ffffff;
  t[1] += c;
  for (int j = 0; j < 5; ++j) h[j] = t[j];
}

QV_AVX2 inline void start(Limbs& acc, const std::uint32_t h[5]) {
  for (int j = 0; j < 5; ++j) acc.v[j] = _mm256_setr_epi64x(h[j], 0, 0, 0);
}

}  // namespace

QV_AVX2 void blocks(std::uint32_t h[5], const std::uint32_t powers[8][5], const unsigned char* m,
                    std::size_t n) {
  // Each lane takes every fourth (or eighth) block and is multiplied by r^4
  // (r^8) between them; the last blocks are multiplied by the powers down
  // to r and the lanes summed. The lanes hold blocks 0, 2, 1, 3 of a group
  // of four, as the 64-bit unpacks leave them.
  if (n % 8 != 0) {
    Multiplier last;
    fill(last, powers[3], powers[1], powers[2], powers[0]);
    Limbs acc;
    start(acc, h);
    addBlocks(acc, m);
    mulReduce(acc, last);
    sumInto(h, acc, nullptr);
    m += 64;
    n -= 4;
  }
  if (n == 0) return;
  // Two groups of four side by side, so one's carries overlap the other's products.
  Multiplier step, lastA, lastB;
  fill(step, powers[7], powers[7], powers[7], powers[7]);
  fill(lastA, powers[7], powers[5], powers[6], powers[4]);
  fill(lastB, powers[3], powers[1], powers[2], powers[0]);
  Limbs a, b;
  start(a, h);
  for (int j = 0; j < 5; ++j) b.v[j] = _mm256_setzero_si256();
  for (std::size_t i = 0; i < n; i += 8, m += 128) {
    addBlocks(a, m);
    addBlocks(b, m + 64);
    const bool lastRound = i + 8 == n;
    mulReduce(a, lastRound ? lastA : step);
    mulReduce(b, lastRound ? lastB : step);
  }
  sumInto(h, a, &b);
}

}  // namespace qv::poly1305_avx2

#else  // no x86: never called, chachaHardwareActive() is false

namespace qv::poly1305_avx2 {
void blocks(std::uint32_t*, const std::uint32_t (*)[5], const unsigned char*, std::size_t) {}
}  // namespace qv::poly1305_avx2

#endif
