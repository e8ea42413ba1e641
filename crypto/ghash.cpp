#include "crypto/ghash.h"

#include <cstring>

namespace qv {

namespace {

inline std::uint64_t loadBe64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int k = 0; k < 8; ++k) v = (v << 8) | p[k];
  return v;
}

inline void storeBe64(unsigned char* p, std::uint64_t v) {
  for (int k = 7; k >= 0; --k, v >>= 8) p[k] = static_cast<unsigned char>(v);
}

// Low 64 bits of the carry-less product x * y. Each operand is split into
// four parts holding every fourth bit. In an integer product of two parts
// at most 15 one-bits add up in a kept position below bit 60, so carries
// only reach the three positions between, which the final masks drop; the
// 16 possible at the top carry out of the word.
inline std::uint64_t clmulLow(std::uint64_t x, std::uint64_t y) {
  constexpr std::uint64_t m0 = 0x1111111111111111, m1 = 0x2222222222222222;
  constexpr std::uint64_t m2 = 0x4444444444444444, m3 = 0x8888888888888888;
  const std::uint64_t x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
  const std::uint64_t y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
  std::uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
  std::uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
  std::uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
  std::uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
  return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

inline std::uint64_t reverse64(std::uint64_t x) {
  x = ((x & 0x5555555555555555) << 1) | ((x >> 1) & 0x5555555555555555);
  x = ((x & 0x3333333333333333) << 2) | ((x >> 2) & 0x3333333333333333);
  x = ((x & 0x0F0F0F0F0F0F0F0F) << 4) | ((x >> 4) & 0x0F0F0F0F0F0F0F0F);
  x = ((x & 0x00FF00FF00FF00FF) << 8) | ((x >> 8) & 0x00FF00FF00FF00FF);
  x = ((x & 0x0000FFFF0000FFFF) << 16) | ((x >> 16) & 0x0000FFFF0000FFFF);
  return (x << 32) | (x >> 32);
}

// Y = Y * H in GCM's bit-reflected representation. The 128-bit product is
// built by Karatsuba from three 64-bit products; the high half of each comes
// from the low half of the product of the bit-reversed operands (reversal
// turns the top of a product into the bottom, one position off).
inline void multiply(std::uint64_t& yHi, std::uint64_t& yLo, std::uint64_t hHi, std::uint64_t hLo,
                     std::uint64_t hHiR, std::uint64_t hLoR) {
  const std::uint64_t hMid = hHi ^ hLo, hMidR = hHiR ^ hLoR;
  const std::uint64_t yHiR = reverse64(yHi), yLoR = reverse64(yLo);
  const std::uint64_t yMid = yHi ^ yLo, yMidR = yHiR ^ yLoR;
  // Bit-reflected: the value's "low" polynomial half is the second word.
  std::uint64_t z0 = clmulLow(yLo, hLo);
  std::uint64_t z1 = clmulLow(yHi, hHi);
  std::uint64_t z2 = clmulLow(yMid, hMid);
  std::uint64_t z0h = clmulLow(yLoR, hLoR);
  std::uint64_t z1h = clmulLow(yHiR, hHiR);
  std::uint64_t z2h = clmulLow(yMidR, hMidR);
  z2 ^= z0 ^ z1;
  z2h ^= z0h ^ z1h;
  z0h = reverse64(z0h) >> 1;
  z1h = reverse64(z1h) >> 1;
  z2h = reverse64(z2h) >> 1;
  // The 256-bit product v3:v2:v1:v0, shifted left once because the
  // reflected product of two 128-bit values sits one position off.
  std::uint64_t v0 = z0, v1 = z0h ^ z2, v2 = z1 ^ z2h, v3 = z1h;
  v3 = (v3 << 1) | (v2 >> 63);
  v2 = (v2 << 1) | (v1 >> 63);
  v1 = (v1 << 1) | (v0 >> 63);
  v0 <<= 1;
  // Reduction modulo x^128 + x^7 + x^2 + x + 1, reflected.
  v2 ^= v0 ^ (v0 >> 1) ^ (v0 >> 2) ^ (v0 >> 7);
  v1 ^= (v0 << 63) ^ (v0 << 62) ^ (v0 << 57);
  v3 ^= v1 ^ (v1 >> 1) ^ (v1 >> 2) ^ (v1 >> 7);
  v2 ^= (v1 << 63) ^ (v1 << 62) ^ (v1 << 57);
  yLo = v2;
  yHi = v3;
}

}  // namespace

void ghashInit(GhashState& state, const unsigned char h[16]) {
  state.h[0] = loadBe64(h);
  state.h[1] = loadBe64(h + 8);
  state.y[0] = 0;
  state.y[1] = 0;
}

void ghashUpdate(GhashState& state, const unsigned char* data, std::size_t length) {
  const std::uint64_t hHi = state.h[0], hLo = state.h[1];
  const std::uint64_t hHiR = reverse64(hHi), hLoR = reverse64(hLo);
  std::uint64_t yHi = state.y[0], yLo = state.y[1];
  for (; length >= 16; data += 16, length -= 16) {
    yHi ^= loadBe64(data);
    yLo ^= loadBe64(data + 8);
    multiply(yHi, yLo, hHi, hLo, hHiR, hLoR);
  }
  if (length != 0) {
    unsigned char last[16] = {};
    std::memcpy(last, data, length);
    yHi ^= loadBe64(last);
    yLo ^= loadBe64(last + 8);
    multiply(yHi, yLo, hHi, hLo, hHiR, hLoR);
  }
  state.y[0] = yHi;
  state.y[1] = yLo;
}

void ghashValue(const GhashState& state, unsigned char out[16]) {
  storeBe64(out, state.y[0]);
  storeBe64(out + 8, state.y[1]);
}

}  // namespace qv
