#include "crypto/sha_ni.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#if defined(__i386__)
#define QV_SHANI __attribute__((target("sha,ssse3,sse4.1"), force_align_arg_pointer))
#else
#define QV_SHANI __attribute__((target("sha,ssse3,sse4.1")))
#endif

namespace qv::shani {

namespace {

alignas(16) constexpr std::uint32_t kRound256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

QV_SHANI inline __m128i load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

// One SHA-1 group of four rounds with its function index (the template
// argument has to be an immediate).
template <int F>
QV_SHANI inline __m128i sha1Rounds(__m128i abcd, __m128i e) {
  return _mm_sha1rnds4_epu32(abcd, e, F);
}

}  // namespace

// Twenty groups of four rounds; the message schedule runs three groups ahead
// in four registers (msg1, xor, msg2 per group).
QV_SHANI void sha1Compress(std::uint32_t state[5], const unsigned char* blocks, std::size_t count) {
  const __m128i swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(load(state), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count > 0; --count, blocks += 64) {
    const __m128i abcdSave = abcd, eSave = e0;
    __m128i m[4];
    __m128i e[2] = {e0, _mm_setzero_si128()};
#pragma GCC unroll 20
    for (int g = 0; g < 20; ++g) {
      if (g < 4) m[g] = _mm_shuffle_epi8(load(blocks + 16 * g), swap);
      __m128i& cur = e[g & 1];
      cur = g == 0 ? _mm_add_epi32(cur, m[0]) : _mm_sha1nexte_epu32(cur, m[g & 3]);
      e[(g + 1) & 1] = abcd;
      if (g >= 3 && g <= 18) m[(g + 1) & 3] = _mm_sha1msg2_epu32(m[(g + 1) & 3], m[g & 3]);
      switch (g / 5) {
        case 0:
          abcd = sha1Rounds<0>(abcd, cur);
          break;
        case 1:
          abcd = sha1Rounds<1>(abcd, cur);
          break;
        case 2:
          abcd = sha1Rounds<2>(abcd, cur);
          break;
        default:
          abcd = sha1Rounds<3>(abcd, cur);
          break;
      }
      if (g >= 1 && g <= 16) m[(g - 1) & 3] = _mm_sha1msg1_epu32(m[(g - 1) & 3], m[g & 3]);
      if (g >= 2 && g <= 17) m[(g + 2) & 3] = _mm_xor_si128(m[(g + 2) & 3], m[g & 3]);
    }
    e0 = _mm_sha1nexte_epu32(e[0], eSave);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

// Sixteen groups of four rounds in the ABEF/CDGH register layout the
// instructions use; the schedule runs as for SHA-1.
QV_SHANI void sha256Compress(std::uint32_t state[8], const unsigned char* blocks, std::size_t count) {
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i tmp = _mm_shuffle_epi32(load(state), 0xB1);     // CDAB
  __m128i s1 = _mm_shuffle_epi32(load(state + 4), 0x1B);  // EFGH
  __m128i s0 = _mm_alignr_epi8(tmp, s1, 8);               // ABEF
  s1 = _mm_blend_epi16(s1, tmp, 0xF0);                    // CDGH
  for (; count > 0; --count, blocks += 64) {
    const __m128i s0Save = s0, s1Save = s1;
    __m128i m[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      if (g < 4) m[g] = _mm_shuffle_epi8(load(blocks + 16 * g), swap);
      __m128i msg = _mm_add_epi32(m[g & 3], load(kRound256 + 4 * g));
      s1 = _mm_sha256rnds2_epu32(s1, s0, msg);
      if (g >= 3 && g <= 14) {
        const __m128i next = _mm_add_epi32(m[(g + 1) & 3], _mm_alignr_epi8(m[g & 3], m[(g + 3) & 3], 4));
        m[(g + 1) & 3] = _mm_sha256msg2_epu32(next, m[g & 3]);
      }
      msg = _mm_shuffle_epi32(msg, 0x0E);
      s0 = _mm_sha256rnds2_epu32(s0, s1, msg);
      if (g >= 1 && g <= 12) m[(g - 1) & 3] = _mm_sha256msg1_epu32(m[(g - 1) & 3], m[g & 3]);
    }
    s0 = _mm_add_epi32(s0, s0Save);
    s1 = _mm_add_epi32(s1, s1Save);
  }
  tmp = _mm_shuffle_epi32(s0, 0x1B);    // FEBA
  s1 = _mm_shuffle_epi32(s1, 0xB1);     // DCHG
  s0 = _mm_blend_epi16(tmp, s1, 0xF0);  // DCBA
  s1 = _mm_alignr_epi8(s1, tmp, 8);     // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), s0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), s1);
}

}  // namespace qv::shani

#else

namespace qv::shani {
void sha1Compress(std::uint32_t*, const unsigned char*, std::size_t) {}
void sha256Compress(std::uint32_t*, const unsigned char*, std::size_t) {}
}  // namespace qv::shani

#endif
