#include "crypto/aes_ni.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

// Only these functions carry the instruction sets, so the rest of the binary
// runs on any x86. 32-bit Windows callers may leave the stack 4-byte aligned.
#if defined(__i386__)
#define QV_AESNI __attribute__((target("aes,pclmul,ssse3,sse4.1"), force_align_arg_pointer))
#else
#define QV_AESNI __attribute__((target("aes,pclmul,ssse3,sse4.1")))
#endif

namespace qv::aesni {

namespace {

constexpr int kWide = 8;  // blocks in flight

QV_AESNI inline __m128i load(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
QV_AESNI inline void store(unsigned char* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// SubWord of the word's second lane, its RotWord and rcon in the next; the
// round constant has to be an immediate.
QV_AESNI inline __m128i keygen(__m128i x, int rconIndex) {
  switch (rconIndex) {
    case 1:
      return _mm_aeskeygenassist_si128(x, 0x01);
    case 2:
      return _mm_aeskeygenassist_si128(x, 0x02);
    case 3:
      return _mm_aeskeygenassist_si128(x, 0x04);
    case 4:
      return _mm_aeskeygenassist_si128(x, 0x08);
    case 5:
      return _mm_aeskeygenassist_si128(x, 0x10);
    case 6:
      return _mm_aeskeygenassist_si128(x, 0x20);
    case 7:
      return _mm_aeskeygenassist_si128(x, 0x40);
    case 8:
      return _mm_aeskeygenassist_si128(x, 0x80);
    case 9:
      return _mm_aeskeygenassist_si128(x, 0x1B);
    case 10:
      return _mm_aeskeygenassist_si128(x, 0x36);
    default:
      return _mm_aeskeygenassist_si128(x, 0x00);
  }
}

QV_AESNI inline __m128i encrypt1(const __m128i* k, int rounds, __m128i x) {
  x = _mm_xor_si128(x, k[0]);
  for (int r = 1; r < rounds; ++r) x = _mm_aesenc_si128(x, k[r]);
  return _mm_aesenclast_si128(x, k[rounds]);
}

QV_AESNI inline __m128i decrypt1(const __m128i* k, int rounds, __m128i x) {
  x = _mm_xor_si128(x, k[0]);
  for (int r = 1; r < rounds; ++r) x = _mm_aesdec_si128(x, k[r]);
  return _mm_aesdeclast_si128(x, k[rounds]);
}

QV_AESNI inline void loadKeys(const unsigned char* roundKeys, int rounds, __m128i* k) {
  for (int r = 0; r <= rounds; ++r) k[r] = load(roundKeys + 16 * r);
}

// base with its last four bytes replaced by the big-endian counter value.
QV_AESNI inline __m128i counterBlock(__m128i base, std::uint32_t at) {
  return _mm_insert_epi32(base, static_cast<int>(__builtin_bswap32(at)), 3);
}

}  // namespace

// FIPS 197's word loop, with the S-box from aeskeygenassist: a word placed
// in lane 1 comes back substituted in lane 0 and rotated, rcon added, in lane 1.
QV_AESNI void expandEncryptKey(const unsigned char* key, int keyWords, int rounds, unsigned char* roundKeys) {
  std::uint32_t w[60];
  std::memcpy(w, key, 4 * static_cast<std::size_t>(keyWords));
  const int total = 4 * (rounds + 1);
  for (int i = keyWords; i < total; ++i) {
    std::uint32_t temp = w[i - 1];
    if (i % keyWords == 0) {
      const __m128i x = keygen(_mm_set_epi32(0, 0, static_cast<int>(temp), 0), i / keyWords);
      temp = static_cast<std::uint32_t>(_mm_extract_epi32(x, 1));
    } else if (keyWords > 6 && i % keyWords == 4) {
      const __m128i x = keygen(_mm_set_epi32(0, 0, static_cast<int>(temp), 0), 0);
      temp = static_cast<std::uint32_t>(_mm_cvtsi128_si32(x));
    }
    w[i] = w[i - keyWords] ^ temp;
  }
  std::memcpy(roundKeys, w, 4 * static_cast<std::size_t>(total));
}

QV_AESNI void toDecryptKey(const unsigned char* encryptKeys, int rounds, unsigned char* decryptKeys) {
  store(decryptKeys, load(encryptKeys + 16 * rounds));
  for (int r = 1; r < rounds; ++r)
    store(decryptKeys + 16 * r, _mm_aesimc_si128(load(encryptKeys + 16 * (rounds - r))));
  store(decryptKeys + 16 * rounds, load(encryptKeys));
}

QV_AESNI void encryptBlock(const unsigned char* roundKeys, int rounds, const unsigned char in[16],
                           unsigned char out[16]) {
  __m128i k[15] = {};
  loadKeys(roundKeys, rounds, k);
  store(out, encrypt1(k, rounds, load(in)));
}

QV_AESNI void decryptBlock(const unsigned char* roundKeys, int rounds, const unsigned char in[16],
                           unsigned char out[16]) {
  __m128i k[15] = {};
  loadKeys(roundKeys, rounds, k);
  store(out, decrypt1(k, rounds, load(in)));
}

QV_AESNI void encryptCbc(const unsigned char* roundKeys, int rounds, unsigned char chain[16],
                         const unsigned char* in, unsigned char* out, std::size_t blocks) {
  __m128i k[15] = {};
  loadKeys(roundKeys, rounds, k);
  __m128i c = load(chain);
  for (std::size_t b = 0; b < blocks; ++b, in += 16, out += 16) {
    c = encrypt1(k, rounds, _mm_xor_si128(c, load(in)));
    store(out, c);
  }
  store(chain, c);
}

QV_AESNI void decryptCbc(const unsigned char* roundKeys, int rounds, unsigned char chain[16],
                         const unsigned char* in, unsigned char* out, std::size_t blocks) {
  __m128i k[15] = {};
  loadKeys(roundKeys, rounds, k);
  __m128i prev = load(chain);
  for (; blocks >= kWide; blocks -= kWide, in += 16 * kWide, out += 16 * kWide) {
    __m128i c[kWide], x[kWide];
#pragma GCC unroll 8
    for (int j = 0; j < kWide; ++j) {
      c[j] = load(in + 16 * j);
      x[j] = _mm_xor_si128(c[j], k[0]);
    }
#pragma GCC unroll 14
    for (int r = 1; r < rounds; ++r)
#pragma GCC unroll 8
      for (int j = 0; j < kWide; ++j) x[j] = _mm_aesdec_si128(x[j], k[r]);
#pragma GCC unroll 8
    for (int j = 0; j < kWide; ++j) x[j] = _mm_aesdeclast_si128(x[j], k[rounds]);
    store(out, _mm_xor_si128(x[0], prev));
    for (int j = 1; j < kWide; ++j) store(out + 16 * j, _mm_xor_si128(x[j], c[j - 1]));
    prev = c[kWide - 1];
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i c = load(in);
    store(out, _mm_xor_si128(decrypt1(k, rounds, c), prev));
    prev = c;
  }
  store(chain, prev);
}

QV_AESNI void encryptCtr32(const unsigned char* roundKeys, int rounds, unsigned char counter[16],
                           const unsigned char* in, unsigned char* out, std::size_t length) {
  __m128i k[15] = {};
  loadKeys(roundKeys, rounds, k);
  const __m128i base = load(counter);
  std::uint32_t n = __builtin_bswap32(static_cast<std::uint32_t>(_mm_extract_epi32(base, 3)));
  for (; length >= 16 * kWide; length -= 16 * kWide, in += 16 * kWide, out += 16 * kWide) {
    __m128i x[kWide];
#pragma GCC unroll 8
    for (int j = 0; j < kWide; ++j)
      x[j] = _mm_xor_si128(counterBlock(base, n + static_cast<std::uint32_t>(j)), k[0]);
    n += kWide;
#pragma GCC unroll 14
    for (int r = 1; r < rounds; ++r)
#pragma GCC unroll 8
      for (int j = 0; j < kWide; ++j) x[j] = _mm_aesenc_si128(x[j], k[r]);
#pragma GCC unroll 8
    for (int j = 0; j < kWide; ++j)
      store(out + 16 * j, _mm_xor_si128(_mm_aesenclast_si128(x[j], k[rounds]), load(in + 16 * j)));
  }
  for (; length >= 16; length -= 16, in += 16, out += 16)
    store(out, _mm_xor_si128(encrypt1(k, rounds, counterBlock(base, n++)), load(in)));
  if (length != 0) {
    unsigned char stream[16];
    store(stream, encrypt1(k, rounds, counterBlock(base, n++)));
    for (std::size_t j = 0; j < length; ++j) out[j] = static_cast<unsigned char>(in[j] ^ stream[j]);
  }
  store(counter, counterBlock(base, n));
}

}  // namespace qv::aesni

#else  // no x86: never called, aesHardwareActive() is false

namespace qv::aesni {
void expandEncryptKey(const unsigned char*, int, int, unsigned char*) {}
void toDecryptKey(const unsigned char*, int, unsigned char*) {}
void encryptBlock(const unsigned char*, int, const unsigned char*, unsigned char*) {}
void decryptBlock(const unsigned char*, int, const unsigned char*, unsigned char*) {}
void encryptCbc(const unsigned char*, int, unsigned char*, const unsigned char*, unsigned char*,
                std::size_t) {}
void decryptCbc(const unsigned char*, int, unsigned char*, const unsigned char*, unsigned char*,
                std::size_t) {}
void encryptCtr32(const unsigned char*, int, unsigned char*, const unsigned char*, unsigned char*,
                  std::size_t) {}
}  // namespace qv::aesni

#endif
