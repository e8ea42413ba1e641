#include "crypto/chacha20_avx2.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstring>

// Only these functions carry AVX2, so the rest of the binary runs on any
// x86. 32-bit Windows callers may leave the stack 4-byte aligned.
#if defined(__i386__)
#define QV_AVX2 __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define QV_AVX2 __attribute__((target("avx2")))
#endif

namespace qv::chacha_avx2 {

namespace {

constexpr std::size_t kChunk = 512;  // eight 64-byte blocks

QV_AVX2 inline __m256i rotl16(__m256i x) {
  const __m256i shuffle = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3, 0, 1, 6, 7,
                                           4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  return _mm256_shuffle_epi8(x, shuffle);
}
QV_AVX2 inline __m256i rotl8(__m256i x) {
  const __m256i shuffle = _mm256_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14, 3, 0, 1, 2, 7, 4,
                                           5, 6, 11, 8, 9, 10, 15, 12, 13, 14);
  return _mm256_shuffle_epi8(x, shuffle);
}
template <int n>
QV_AVX2 inline __m256i rotl(__m256i x) {
  return _mm256_or_si256(_mm256_slli_epi32(x, n), _mm256_srli_epi32(x, 32 - n));
}

QV_AVX2 inline void quarter(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
  a = _mm256_add_epi32(a, b);
  d = rotl16(_mm256_xor_si256(d, a));
  c = _mm256_add_epi32(c, d);
  b = rotl<12>(_mm256_xor_si256(b, c));
  a = _mm256_add_epi32(a, b);
  d = rotl8(_mm256_xor_si256(d, a));
  c = _mm256_add_epi32(c, d);
  b = rotl<7>(_mm256_xor_si256(b, c));
}

// Four state words of eight blocks (one per lane) to four words of one
// block per 128-bit half: u[k] holds block k (low half) and block k + 4.
QV_AVX2 inline void transpose4(__m256i x0, __m256i x1, __m256i x2, __m256i x3, __m256i u[4]) {
  const __m256i t0 = _mm256_unpacklo_epi32(x0, x1);
  const __m256i t1 = _mm256_unpackhi_epi32(x0, x1);
  const __m256i t2 = _mm256_unpacklo_epi32(x2, x3);
  const __m256i t3 = _mm256_unpackhi_epi32(x2, x3);
  u[0] = _mm256_unpacklo_epi64(t0, t2);
  u[1] = _mm256_unpackhi_epi64(t0, t2);
  u[2] = _mm256_unpacklo_epi64(t1, t3);
  u[3] = _mm256_unpackhi_epi64(t1, t3);
}

QV_AVX2 inline void xor32(const unsigned char* in, unsigned char* out, __m256i stream) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_xor_si256(v, stream));
}

// Eight blocks from counter state[12] on, xor'ed into 512 bytes.
QV_AVX2 void xorChunk(const std::uint32_t state[16], const unsigned char* in, unsigned char* out) {
  __m256i s[16];
  for (int k = 0; k < 16; ++k) s[k] = _mm256_set1_epi32(static_cast<int>(state[k]));
  s[12] = _mm256_add_epi32(s[12], _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  __m256i x0 = s[0], x1 = s[1], x2 = s[2], x3 = s[3], x4 = s[4], x5 = s[5], x6 = s[6], x7 = s[7];
  __m256i x8 = s[8], x9 = s[9], x10 = s[10], x11 = s[11], x12 = s[12], x13 = s[13], x14 = s[14], x15 = s[15];
  for (int round = 0; round < 10; ++round) {
    quarter(x0, x4, x8, x12);
    quarter(x1, x5, x9, x13);
    quarter(x2, x6, x10, x14);
    quarter(x3, x7, x11, x15);
    quarter(x0, x5, x10, x15);
    quarter(x1, x6, x11, x12);
    quarter(x2, x7, x8, x13);
    quarter(x3, x4, x9, x14);
  }
  __m256i a[4], b[4];
  transpose4(_mm256_add_epi32(x0, s[0]), _mm256_add_epi32(x1, s[1]), _mm256_add_epi32(x2, s[2]),
             _mm256_add_epi32(x3, s[3]), a);
  transpose4(_mm256_add_epi32(x4, s[4]), _mm256_add_epi32(x5, s[5]), _mm256_add_epi32(x6, s[6]),
             _mm256_add_epi32(x7, s[7]), b);
  for (int k = 0; k < 4; ++k) {
    xor32(in + 64 * k, out + 64 * k, _mm256_permute2x128_si256(a[k], b[k], 0x20));
    xor32(in + 64 * (k + 4), out + 64 * (k + 4), _mm256_permute2x128_si256(a[k], b[k], 0x31));
  }
  transpose4(_mm256_add_epi32(x8, s[8]), _mm256_add_epi32(x9, s[9]), _mm256_add_epi32(x10, s[10]),
             _mm256_add_epi32(x11, s[11]), a);
  transpose4(_mm256_add_epi32(x12, s[12]), _mm256_add_epi32(x13, s[13]), _mm256_add_epi32(x14, s[14]),
             _mm256_add_epi32(x15, s[15]), b);
  for (int k = 0; k < 4; ++k) {
    xor32(in + 64 * k + 32, out + 64 * k + 32, _mm256_permute2x128_si256(a[k], b[k], 0x20));
    xor32(in + 64 * (k + 4) + 32, out + 64 * (k + 4) + 32, _mm256_permute2x128_si256(a[k], b[k], 0x31));
  }
}

}  // namespace

QV_AVX2 void xorStream(std::uint32_t state[16], const unsigned char* in, unsigned char* out,
                       std::size_t length) {
  while (length >= kChunk) {
    xorChunk(state, in, out);
    state[12] += 8;
    in += kChunk;
    out += kChunk;
    length -= kChunk;
  }
  if (length == 0) return;
  // The tail: a whole chunk of key stream, of which only the blocks used count.
  unsigned char buffer[kChunk] = {};
  std::memcpy(buffer, in, length);
  xorChunk(state, buffer, buffer);
  std::memcpy(out, buffer, length);
  state[12] += static_cast<std::uint32_t>((length + 63) / 64);
  volatile unsigned char* wipe = buffer;
  for (std::size_t k = 0; k < kChunk; ++k) wipe[k] = 0;
}

}  // namespace qv::chacha_avx2

#else  // no x86: never called, chachaHardwareActive() is false

namespace qv::chacha_avx2 {
void xorStream(std::uint32_t*, const unsigned char*, unsigned char*, std::size_t) {}
}  // namespace qv::chacha_avx2

#endif
