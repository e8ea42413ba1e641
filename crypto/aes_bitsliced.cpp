#include "crypto/aes_bitsliced.h"

#include <cstring>

namespace qv::bitsliced {

namespace {

using Q = std::uint64_t;

inline std::uint32_t loadLe32(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline void storeLe32(unsigned char* p, std::uint32_t w) {
  p[0] = static_cast<unsigned char>(w);
  p[1] = static_cast<unsigned char>(w >> 8);
  p[2] = static_cast<unsigned char>(w >> 16);
  p[3] = static_cast<unsigned char>(w >> 24);
}

// SubBytes on all 32 bytes of state at once: q[7] holds the top bit of
// every byte, q[0] the bottom bit. Joan Boyar and Rene Peralta's circuit
// (113 gates): a linear layer in, the GF(2^4)-tower inversion, a linear
// layer out with the affine constant.
void sbox(Q* q) {
  const Q x0 = q[7], x1 = q[6], x2 = q[5], x3 = q[4], x4 = q[3], x5 = q[2], x6 = q[1], x7 = q[0];

  const Q y14 = x3 ^ x5;
  const Q y13 = x0 ^ x6;
  const Q y9 = x0 ^ x3;
  const Q y8 = x0 ^ x5;
  const Q t0 = x1 ^ x2;
  const Q y1 = t0 ^ x7;
  const Q y4 = y1 ^ x3;
  const Q y12 = y13 ^ y14;
  const Q y2 = y1 ^ x0;
  const Q y5 = y1 ^ x6;
  const Q y3 = y5 ^ y8;
  const Q t1 = x4 ^ y12;
  const Q y15 = t1 ^ x5;
  const Q y20 = t1 ^ x1;
  const Q y6 = y15 ^ x7;
  const Q y10 = y15 ^ t0;
  const Q y11 = y20 ^ y9;
  const Q y7 = x7 ^ y11;
  const Q y17 = y10 ^ y11;
  const Q y19 = y10 ^ y8;
  const Q y16 = t0 ^ y11;
  const Q y21 = y13 ^ y16;
  const Q y18 = x0 ^ y16;

  const Q t2 = y12 & y15;
  const Q t3 = y3 & y6;
  const Q t4 = t3 ^ t2;
  const Q t5 = y4 & x7;
  const Q t6 = t5 ^ t2;
  const Q t7 = y13 & y16;
  const Q t8 = y5 & y1;
  const Q t9 = t8 ^ t7;
  const Q t10 = y2 & y7;
  const Q t11 = t10 ^ t7;
  const Q t12 = y9 & y11;
  const Q t13 = y14 & y17;
  const Q t14 = t13 ^ t12;
  const Q t15 = y8 & y10;
  const Q t16 = t15 ^ t12;
  const Q t17 = t4 ^ t14;
  const Q t18 = t6 ^ t16;
  const Q t19 = t9 ^ t14;
  const Q t20 = t11 ^ t16;
  const Q t21 = t17 ^ y20;
  const Q t22 = t18 ^ y19;
  const Q t23 = t19 ^ y21;
  const Q t24 = t20 ^ y18;

  const Q t25 = t21 ^ t22;
  const Q t26 = t21 & t23;
  const Q t27 = t24 ^ t26;
  const Q t28 = t25 & t27;
  const Q t29 = t28 ^ t22;
  const Q t30 = t23 ^ t24;
  const Q t31 = t22 ^ t26;
  const Q t32 = t31 & t30;
  const Q t33 = t32 ^ t24;
  const Q t34 = t23 ^ t33;
  const Q t35 = t27 ^ t33;
  const Q t36 = t24 & t35;
  const Q t37 = t36 ^ t34;
  const Q t38 = t27 ^ t36;
  const Q t39 = t29 & t38;
  const Q t40 = t25 ^ t39;

  const Q t41 = t40 ^ t37;
  const Q t42 = t29 ^ t33;
  const Q t43 = t29 ^ t40;
  const Q t44 = t33 ^ t37;
  const Q t45 = t42 ^ t41;
  const Q z0 = t44 & y15;
  const Q z1 = t37 & y6;
  const Q z2 = t33 & x7;
  const Q z3 = t43 & y16;
  const Q z4 = t40 & y1;
  const Q z5 = t29 & y7;
  const Q z6 = t42 & y11;
  const Q z7 = t45 & y17;
  const Q z8 = t41 & y10;
  const Q z9 = t44 & y12;
  const Q z10 = t37 & y3;
  const Q z11 = t33 & y4;
  const Q z12 = t43 & y13;
  const Q z13 = t40 & y5;
  const Q z14 = t29 & y2;
  const Q z15 = t42 & y9;
  const Q z16 = t45 & y14;
  const Q z17 = t41 & y8;

  const Q t46 = z15 ^ z16;
  const Q t47 = z10 ^ z11;
  const Q t48 = z5 ^ z13;
  const Q t49 = z9 ^ z10;
  const Q t50 = z2 ^ z12;
  const Q t51 = z2 ^ z5;
  const Q t52 = z7 ^ z8;
  const Q t53 = z0 ^ z3;
  const Q t54 = z6 ^ z7;
  const Q t55 = z16 ^ z17;
  const Q t56 = z12 ^ t48;
  const Q t57 = t50 ^ t53;
  const Q t58 = z4 ^ t46;
  const Q t59 = z3 ^ t54;
  const Q t60 = t46 ^ t57;
  const Q t61 = z14 ^ t57;
  const Q t62 = t52 ^ t58;
  const Q t63 = t49 ^ t58;
  const Q t64 = z4 ^ t59;
  const Q t65 = t61 ^ t62;
  const Q t66 = z1 ^ t63;
  const Q s0 = t59 ^ t63;
  const Q s6 = t56 ^ ~t62;
  const Q s7 = t48 ^ ~t60;
  const Q t67 = t64 ^ t65;
  const Q s3 = t53 ^ t66;
  const Q s4 = t51 ^ t66;
  const Q s5 = t47 ^ t65;
  const Q s1 = t64 ^ ~s3;
  const Q s2 = t55 ^ ~t67;

  q[7] = s0;
  q[6] = s1;
  q[5] = s2;
  q[4] = s3;
  q[3] = s4;
  q[2] = s5;
  q[1] = s6;
  q[0] = s7;
}

// The inverse affine map without its constant: bit i of the result is bits
// i+2, i+5 and i+7 of the input.
void inverseAffine(Q* q) {
  Q r[8];
  for (int i = 0; i < 8; ++i) r[i] = q[(i + 2) & 7] ^ q[(i + 5) & 7] ^ q[(i + 7) & 7];
  std::memcpy(q, r, sizeof r);
}

// InvSubBytes = A^-1(S(A^-1(y) + 05)) + 05: the forward circuit inverts,
// the inverse affine maps on both sides cancel its affine step.
void inverseSbox(Q* q) {
  inverseAffine(q);
  q[0] = ~q[0];
  q[2] = ~q[2];
  sbox(q);
  inverseAffine(q);
  q[0] = ~q[0];
  q[2] = ~q[2];
}

// Spreads the 16 bits of each 16-bit lane over the words: afterwards bit k
// of every byte is in q[k].
inline void swapBits(Q& x, Q& y, Q lowMask, int shift) {
  const Q a = x, b = y;
  x = (a & lowMask) | ((b & lowMask) << shift);
  y = ((a >> shift) & lowMask) | (b & ~lowMask);
}

void orthogonalize(Q* q) {
  constexpr Q m1 = 0x5555555555555555, m2 = 0x3333333333333333, m4 = 0x0F0F0F0F0F0F0F0F;
  swapBits(q[0], q[1], m1, 1);
  swapBits(q[2], q[3], m1, 1);
  swapBits(q[4], q[5], m1, 1);
  swapBits(q[6], q[7], m1, 1);
  swapBits(q[0], q[2], m2, 2);
  swapBits(q[1], q[3], m2, 2);
  swapBits(q[4], q[6], m2, 2);
  swapBits(q[5], q[7], m2, 2);
  swapBits(q[0], q[4], m4, 4);
  swapBits(q[1], q[5], m4, 4);
  swapBits(q[2], q[6], m4, 4);
  swapBits(q[3], q[7], m4, 4);
}

// One block's four column words into two words, bytes interleaved so that
// the orthogonalization gives row r of every block in bits 16r..16r+15.
void interleaveIn(Q& q0, Q& q1, const std::uint32_t* w) {
  Q x0 = w[0], x1 = w[1], x2 = w[2], x3 = w[3];
  x0 |= x0 << 16;
  x1 |= x1 << 16;
  x2 |= x2 << 16;
  x3 |= x3 << 16;
  x0 &= 0x0000FFFF0000FFFF;
  x1 &= 0x0000FFFF0000FFFF;
  x2 &= 0x0000FFFF0000FFFF;
  x3 &= 0x0000FFFF0000FFFF;
  x0 |= x0 << 8;
  x1 |= x1 << 8;
  x2 |= x2 << 8;
  x3 |= x3 << 8;
  x0 &= 0x00FF00FF00FF00FF;
  x1 &= 0x00FF00FF00FF00FF;
  x2 &= 0x00FF00FF00FF00FF;
  x3 &= 0x00FF00FF00FF00FF;
  q0 = x0 | (x2 << 8);
  q1 = x1 | (x3 << 8);
}

void interleaveOut(std::uint32_t* w, Q q0, Q q1) {
  Q x0 = q0 & 0x00FF00FF00FF00FF;
  Q x1 = q1 & 0x00FF00FF00FF00FF;
  Q x2 = (q0 >> 8) & 0x00FF00FF00FF00FF;
  Q x3 = (q1 >> 8) & 0x00FF00FF00FF00FF;
  x0 |= x0 >> 8;
  x1 |= x1 >> 8;
  x2 |= x2 >> 8;
  x3 |= x3 >> 8;
  x0 &= 0x0000FFFF0000FFFF;
  x1 &= 0x0000FFFF0000FFFF;
  x2 &= 0x0000FFFF0000FFFF;
  x3 &= 0x0000FFFF0000FFFF;
  w[0] = static_cast<std::uint32_t>(x0) | static_cast<std::uint32_t>(x0 >> 16);
  w[1] = static_cast<std::uint32_t>(x1) | static_cast<std::uint32_t>(x1 >> 16);
  w[2] = static_cast<std::uint32_t>(x2) | static_cast<std::uint32_t>(x2 >> 16);
  w[3] = static_cast<std::uint32_t>(x3) | static_cast<std::uint32_t>(x3 >> 16);
}

void load4(Q* q, const unsigned char* blocks) {
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = loadLe32(blocks + 4 * i);
  for (int i = 0; i < 4; ++i) interleaveIn(q[i], q[i + 4], w + 4 * i);
  orthogonalize(q);
}

void store4(unsigned char* blocks, Q* q) {
  orthogonalize(q);
  std::uint32_t w[16];
  for (int i = 0; i < 4; ++i) interleaveOut(w + 4 * i, q[i], q[i + 4]);
  for (int i = 0; i < 16; ++i) storeLe32(blocks + 4 * i, w[i]);
}

inline void addRoundKey(Q* q, const Q* k) {
  for (int i = 0; i < 8; ++i) q[i] ^= k[i];
}

// Each 16-bit row holds four 4-bit column groups, one bit per block.
inline void shiftRows(Q* q) {
  for (int i = 0; i < 8; ++i) {
    const Q x = q[i];
    q[i] = (x & 0x000000000000FFFF) | ((x & 0x00000000FFF00000) >> 4) | ((x & 0x00000000000F0000) << 12) |
           ((x & 0x0000FF0000000000) >> 8) | ((x & 0x000000FF00000000) << 8) |
           ((x & 0xF000000000000000) >> 12) | ((x & 0x0FFF000000000000) << 4);
  }
}

inline void inverseShiftRows(Q* q) {
  for (int i = 0; i < 8; ++i) {
    const Q x = q[i];
    q[i] = (x & 0x000000000000FFFF) | ((x & 0x000000000FFF0000) << 4) | ((x & 0x00000000F0000000) >> 12) |
           ((x & 0x000000FF00000000) << 8) | ((x & 0x0000FF0000000000) >> 8) |
           ((x & 0x000F000000000000) << 12) | ((x & 0xFFF0000000000000) >> 4);
  }
}

inline Q rotate32(Q x) { return (x << 32) | (x >> 32); }

// out_r = 2 (a_r + a_r+1) + a_r+1 + a_r+2 + a_r+3 for the rows r of each
// column; a rotation by 16 bits steps one row.
inline void mixColumns(Q* q) {
  const Q q0 = q[0], q1 = q[1], q2 = q[2], q3 = q[3], q4 = q[4], q5 = q[5], q6 = q[6], q7 = q[7];
  const Q r0 = (q0 >> 16) | (q0 << 48), r1 = (q1 >> 16) | (q1 << 48), r2 = (q2 >> 16) | (q2 << 48),
          r3 = (q3 >> 16) | (q3 << 48), r4 = (q4 >> 16) | (q4 << 48), r5 = (q5 >> 16) | (q5 << 48),
          r6 = (q6 >> 16) | (q6 << 48), r7 = (q7 >> 16) | (q7 << 48);
  q[0] = q7 ^ r7 ^ r0 ^ rotate32(q0 ^ r0);
  q[1] = q0 ^ r0 ^ q7 ^ r7 ^ r1 ^ rotate32(q1 ^ r1);
  q[2] = q1 ^ r1 ^ r2 ^ rotate32(q2 ^ r2);
  q[3] = q2 ^ r2 ^ q7 ^ r7 ^ r3 ^ rotate32(q3 ^ r3);
  q[4] = q3 ^ r3 ^ q7 ^ r7 ^ r4 ^ rotate32(q4 ^ r4);
  q[5] = q4 ^ r4 ^ r5 ^ rotate32(q5 ^ r5);
  q[6] = q5 ^ r5 ^ r6 ^ rotate32(q6 ^ r6);
  q[7] = q6 ^ r6 ^ r7 ^ rotate32(q7 ^ r7);
}

// InvMixColumns = MixColumns after the circulant (05 00 04 00):
// a_r += 4 (a_r + a_r+2).
inline void inverseMixColumns(Q* q) {
  Q u[8];
  for (int i = 0; i < 8; ++i) u[i] = q[i] ^ rotate32(q[i]);
  // 4u: two doublings, with x^8 = x^4 + x^3 + x + 1.
  const Q v0 = u[6], v1 = u[7] ^ u[6], v2 = u[0] ^ u[7], v3 = u[1] ^ u[6], v4 = u[2] ^ u[7] ^ u[6],
          v5 = u[3] ^ u[7], v6 = u[4], v7 = u[5];
  q[0] ^= v0;
  q[1] ^= v1;
  q[2] ^= v2;
  q[3] ^= v3;
  q[4] ^= v4;
  q[5] ^= v5;
  q[6] ^= v6;
  q[7] ^= v7;
  mixColumns(q);
}

}  // namespace

std::uint32_t subWord(std::uint32_t x) {
  Q q[8] = {x, 0, 0, 0, 0, 0, 0, 0};
  orthogonalize(q);
  sbox(q);
  orthogonalize(q);
  return static_cast<std::uint32_t>(q[0]);
}

void expandKey(const unsigned char* key, int keyWords, int rounds, std::uint64_t* schedule) {
  std::uint32_t w[60];
  const int total = 4 * (rounds + 1);
  for (int i = 0; i < keyWords; ++i) w[i] = loadLe32(key + 4 * i);
  std::uint32_t rcon = 1;
  for (int i = keyWords; i < total; ++i) {
    std::uint32_t temp = w[i - 1];
    if (i % keyWords == 0) {
      temp = subWord((temp >> 8) | (temp << 24)) ^ rcon;
      rcon = (rcon << 1) ^ (0x11B & (0u - (rcon >> 7)));
    } else if (keyWords > 6 && i % keyWords == 4) {
      temp = subWord(temp);
    }
    w[i] = w[i - keyWords] ^ temp;
  }
  // The same round key in all four block positions.
  for (int r = 0; r <= rounds; ++r) {
    Q* q = schedule + 8 * r;
    interleaveIn(q[0], q[4], w + 4 * r);
    q[1] = q[2] = q[3] = q[0];
    q[5] = q[6] = q[7] = q[4];
    orthogonalize(q);
  }
}

void encrypt4(const std::uint64_t* schedule, int rounds, unsigned char blocks[64]) {
  Q q[8];
  load4(q, blocks);
  addRoundKey(q, schedule);
  for (int r = 1; r < rounds; ++r) {
    sbox(q);
    shiftRows(q);
    mixColumns(q);
    addRoundKey(q, schedule + 8 * r);
  }
  sbox(q);
  shiftRows(q);
  addRoundKey(q, schedule + 8 * rounds);
  store4(blocks, q);
}

void decrypt4(const std::uint64_t* schedule, int rounds, unsigned char blocks[64]) {
  Q q[8];
  load4(q, blocks);
  addRoundKey(q, schedule + 8 * rounds);
  for (int r = rounds - 1; r > 0; --r) {
    inverseShiftRows(q);
    inverseSbox(q);
    addRoundKey(q, schedule + 8 * r);
    inverseMixColumns(q);
  }
  inverseShiftRows(q);
  inverseSbox(q);
  addRoundKey(q, schedule);
  store4(blocks, q);
}

}  // namespace qv::bitsliced
