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
// Inlined, so a round's state can stay in registers instead of going
// through memory between the S-box and the linear layer.
template <class W>
__attribute__((always_inline)) inline void sbox(W* q) {
  const W x0 = q[7], x1 = q[6], x2 = q[5], x3 = q[4], x4 = q[3], x5 = q[2], x6 = q[1], x7 = q[0];

  const W y14 = x3 ^ x5;
  const W y13 = x0 ^ x6;
  const W y9 = x0 ^ x3;
  const W y8 = x0 ^ x5;
  const W t0 = x1 ^ x2;
  const W y1 = t0 ^ x7;
  const W y4 = y1 ^ x3;
  const W y12 = y13 ^ y14;
  const W y2 = y1 ^ x0;
  const W y5 = y1 ^ x6;
  const W y3 = y5 ^ y8;
  const W t1 = x4 ^ y12;
  const W y15 = t1 ^ x5;
  const W y20 = t1 ^ x1;
  const W y6 = y15 ^ x7;
  const W y10 = y15 ^ t0;
  const W y11 = y20 ^ y9;
  const W y7 = x7 ^ y11;
  const W y17 = y10 ^ y11;
  const W y19 = y10 ^ y8;
  const W y16 = t0 ^ y11;
  const W y21 = y13 ^ y16;
  const W y18 = x0 ^ y16;

  const W t2 = y12 & y15;
  const W t3 = y3 & y6;
  const W t4 = t3 ^ t2;
  const W t5 = y4 & x7;
  const W t6 = t5 ^ t2;
  const W t7 = y13 & y16;
  const W t8 = y5 & y1;
  const W t9 = t8 ^ t7;
  const W t10 = y2 & y7;
  const W t11 = t10 ^ t7;
  const W t12 = y9 & y11;
  const W t13 = y14 & y17;
  const W t14 = t13 ^ t12;
  const W t15 = y8 & y10;
  const W t16 = t15 ^ t12;
  const W t17 = t4 ^ t14;
  const W t18 = t6 ^ t16;
  const W t19 = t9 ^ t14;
  const W t20 = t11 ^ t16;
  const W t21 = t17 ^ y20;
  const W t22 = t18 ^ y19;
  const W t23 = t19 ^ y21;
  const W t24 = t20 ^ y18;

  const W t25 = t21 ^ t22;
  const W t26 = t21 & t23;
  const W t27 = t24 ^ t26;
  const W t28 = t25 & t27;
  const W t29 = t28 ^ t22;
  const W t30 = t23 ^ t24;
  const W t31 = t22 ^ t26;
  const W t32 = t31 & t30;
  const W t33 = t32 ^ t24;
  const W t34 = t23 ^ t33;
  const W t35 = t27 ^ t33;
  const W t36 = t24 & t35;
  const W t37 = t36 ^ t34;
  const W t38 = t27 ^ t36;
  const W t39 = t29 & t38;
  const W t40 = t25 ^ t39;

  const W t41 = t40 ^ t37;
  const W t42 = t29 ^ t33;
  const W t43 = t29 ^ t40;
  const W t44 = t33 ^ t37;
  const W t45 = t42 ^ t41;
  const W z0 = t44 & y15;
  const W z1 = t37 & y6;
  const W z2 = t33 & x7;
  const W z3 = t43 & y16;
  const W z4 = t40 & y1;
  const W z5 = t29 & y7;
  const W z6 = t42 & y11;
  const W z7 = t45 & y17;
  const W z8 = t41 & y10;
  const W z9 = t44 & y12;
  const W z10 = t37 & y3;
  const W z11 = t33 & y4;
  const W z12 = t43 & y13;
  const W z13 = t40 & y5;
  const W z14 = t29 & y2;
  const W z15 = t42 & y9;
  const W z16 = t45 & y14;
  const W z17 = t41 & y8;

  const W t46 = z15 ^ z16;
  const W t47 = z10 ^ z11;
  const W t48 = z5 ^ z13;
  const W t49 = z9 ^ z10;
  const W t50 = z2 ^ z12;
  const W t51 = z2 ^ z5;
  const W t52 = z7 ^ z8;
  const W t53 = z0 ^ z3;
  const W t54 = z6 ^ z7;
  const W t55 = z16 ^ z17;
  const W t56 = z12 ^ t48;
  const W t57 = t50 ^ t53;
  const W t58 = z4 ^ t46;
  const W t59 = z3 ^ t54;
  const W t60 = t46 ^ t57;
  const W t61 = z14 ^ t57;
  const W t62 = t52 ^ t58;
  const W t63 = t49 ^ t58;
  const W t64 = z4 ^ t59;
  const W t65 = t61 ^ t62;
  const W t66 = z1 ^ t63;
  const W s0 = t59 ^ t63;
  const W s6 = t56 ^ ~t62;
  const W s7 = t48 ^ ~t60;
  const W t67 = t64 ^ t65;
  const W s3 = t53 ^ t66;
  const W s4 = t51 ^ t66;
  const W s5 = t47 ^ t65;
  const W s1 = t64 ^ ~s3;
  const W s2 = t55 ^ ~t67;

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
template <class W>
void inverseAffine(W* q) {
  W r[8];
  for (int i = 0; i < 8; ++i) r[i] = q[(i + 2) & 7] ^ q[(i + 5) & 7] ^ q[(i + 7) & 7];
  for (int i = 0; i < 8; ++i) q[i] = r[i];
}

// InvSubBytes = A^-1(S(A^-1(y) + 05)) + 05: the forward circuit inverts,
// the inverse affine maps on both sides cancel its affine step.
template <class W>
void inverseSbox(W* q) {
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

// Word by word: as a loop g++ vectorises it into 16-byte loads of the
// state just stored in 8-byte halves, which do not forward and stall.
template <class W>
inline void addRoundKey(W* q, const std::uint64_t* k) {
  q[0] ^= k[0];
  q[1] ^= k[1];
  q[2] ^= k[2];
  q[3] ^= k[3];
  q[4] ^= k[4];
  q[5] ^= k[5];
  q[6] ^= k[6];
  q[7] ^= k[7];
}

// Each 16-bit row holds four 4-bit column groups, one bit per block.
template <class W>
inline void shiftRows(W* q) {
  for (int i = 0; i < 8; ++i) {
    const W x = q[i];
    q[i] = (x & 0x000000000000FFFF) | ((x & 0x00000000FFF00000) >> 4) | ((x & 0x00000000000F0000) << 12) |
           ((x & 0x0000FF0000000000) >> 8) | ((x & 0x000000FF00000000) << 8) |
           ((x & 0xF000000000000000) >> 12) | ((x & 0x0FFF000000000000) << 4);
  }
}

template <class W>
inline void inverseShiftRows(W* q) {
  for (int i = 0; i < 8; ++i) {
    const W x = q[i];
    q[i] = (x & 0x000000000000FFFF) | ((x & 0x000000000FFF0000) << 4) | ((x & 0x00000000F0000000) >> 12) |
           ((x & 0x000000FF00000000) << 8) | ((x & 0x0000FF0000000000) >> 8) |
           ((x & 0x000F000000000000) << 12) | ((x & 0xFFF0000000000000) >> 4);
  }
}

template <class W>
inline W rotate32(W x) {
  return (x << 32) | (x >> 32);
}

// out_r = 2 (a_r + a_r+1) + a_r+1 + a_r+2 + a_r+3 for the rows r of each
// column; a rotation by 16 bits steps one row.
template <class W>
inline void mixColumns(W* q) {
  const W q0 = q[0], q1 = q[1], q2 = q[2], q3 = q[3], q4 = q[4], q5 = q[5], q6 = q[6], q7 = q[7];
  const W r0 = (q0 >> 16) | (q0 << 48), r1 = (q1 >> 16) | (q1 << 48), r2 = (q2 >> 16) | (q2 << 48),
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
template <class W>
inline void inverseMixColumns(W* q) {
  W u[8];
  for (int i = 0; i < 8; ++i) u[i] = q[i] ^ rotate32(q[i]);
  // 4u: two doublings, with x^8 = x^4 + x^3 + x + 1.
  const W v0 = u[6], v1 = u[7] ^ u[6], v2 = u[0] ^ u[7], v3 = u[1] ^ u[6], v4 = u[2] ^ u[7] ^ u[6],
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

template <int n, class W>
inline W rotateRight(W x) {
  return (x >> n) | (x << (64 - n));
}

// The encryption skips ShiftRows: after round r the state is held as
// ShiftRows^-(r mod 4) of the true one, and MixColumns takes its columns
// where they lie. Row r + 1 of a column sits k columns on (k = r mod 4):
// one rotation for the nibbles that stay in their row, one for those that
// wrap round it.
template <int k, class W>
inline W nextRow(W x) {
  if constexpr (k == 0) {
    return rotateRight<16>(x);
  } else {
    constexpr Q stay = 0x0001000100010001 * ((Q{1} << (16 - 4 * k)) - 1);
    return (rotateRight<16 + 4 * k>(x) & stay) | (rotateRight<4 * k>(x) & ~stay);
  }
}

// Two rows on: 2k columns, which is none or two.
template <int k, class W>
inline W rowAfterNext(W x) {
  if constexpr (k % 2 == 0) {
    return rotate32(x);
  } else {
    constexpr Q stay = 0x00FF00FF00FF00FF;
    return (rotateRight<40>(x) & stay) | (rotateRight<24>(x) & ~stay);
  }
}

template <int k, class W>
inline void mixColumnsShifted(W* q) {
  const W q0 = q[0], q1 = q[1], q2 = q[2], q3 = q[3], q4 = q[4], q5 = q[5], q6 = q[6], q7 = q[7];
  const W r0 = nextRow<k>(q0), r1 = nextRow<k>(q1), r2 = nextRow<k>(q2), r3 = nextRow<k>(q3),
          r4 = nextRow<k>(q4), r5 = nextRow<k>(q5), r6 = nextRow<k>(q6), r7 = nextRow<k>(q7);
  q[0] = q7 ^ r7 ^ r0 ^ rowAfterNext<k>(q0 ^ r0);
  q[1] = q0 ^ r0 ^ q7 ^ r7 ^ r1 ^ rowAfterNext<k>(q1 ^ r1);
  q[2] = q1 ^ r1 ^ r2 ^ rowAfterNext<k>(q2 ^ r2);
  q[3] = q2 ^ r2 ^ q7 ^ r7 ^ r3 ^ rowAfterNext<k>(q3 ^ r3);
  q[4] = q3 ^ r3 ^ q7 ^ r7 ^ r4 ^ rowAfterNext<k>(q4 ^ r4);
  q[5] = q4 ^ r4 ^ r5 ^ rowAfterNext<k>(q5 ^ r5);
  q[6] = q5 ^ r5 ^ r6 ^ rowAfterNext<k>(q6 ^ r6);
  q[7] = q6 ^ r6 ^ r7 ^ rowAfterNext<k>(q7 ^ r7);
}

// With the schedule of toEncryptSchedule: the round keys are shifted back
// as the state is, and the ShiftRows still owed are made up at the end.
template <class W>
void encryptRounds(const std::uint64_t* schedule, int rounds, W* state) {
  W q[8];
  for (int i = 0; i < 8; ++i) q[i] = state[i] ^ schedule[i];
  for (int r = 1; r < rounds; ++r) {
    sbox(q);
    switch (r & 3) {
      case 0:
        mixColumnsShifted<0>(q);
        break;
      case 1:
        mixColumnsShifted<1>(q);
        break;
      case 2:
        mixColumnsShifted<2>(q);
        break;
      default:
        mixColumnsShifted<3>(q);
        break;
    }
    addRoundKey(q, schedule + 8 * r);
  }
  sbox(q);
  addRoundKey(q, schedule + 8 * rounds);
  // 10 and 14 rounds owe two (12 none): rows 1 and 3 turn by two columns.
  if ((rounds & 3) == 2) {
    for (int i = 0; i < 8; ++i) {
      const W x = q[i];
      q[i] = (x & 0x0000FFFF0000FFFF) | ((x >> 8) & 0x00FF000000FF0000) | ((x << 8) & 0xFF000000FF000000);
    }
  } else {
    for (int k = 0; k < (rounds & 3); ++k) shiftRows(q);
  }
  for (int i = 0; i < 8; ++i) state[i] = q[i];
}

template <class W>
void decryptRounds(const std::uint64_t* schedule, int rounds, W* q) {
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
}

#if defined(__SSE2__)
// Two groups of four blocks side by side in the two halves of an SSE2 vector.
using Wide = std::uint64_t __attribute__((vector_size(16)));

template <bool kEncrypt>
void run8(const std::uint64_t* schedule, int rounds, unsigned char* blocks) {
  Q a[8], b[8];
  load4(a, blocks);
  load4(b, blocks + 64);
  Wide q[8];
  for (int i = 0; i < 8; ++i) q[i] = Wide{a[i], b[i]};
  if (kEncrypt) {
    encryptRounds(schedule, rounds, q);
  } else {
    decryptRounds(schedule, rounds, q);
  }
  for (int i = 0; i < 8; ++i) {
    a[i] = q[i][0];
    b[i] = q[i][1];
  }
  store4(blocks, a);
  store4(blocks + 64, b);
}
#else
// No vector unit assumed (32-bit x86 builds): the two groups one after the other.
template <bool kEncrypt>
void run8(const std::uint64_t* schedule, int rounds, unsigned char* blocks) {
  for (int half = 0; half < 2; ++half) {
    Q q[8];
    load4(q, blocks + 64 * half);
    if (kEncrypt) {
      encryptRounds(schedule, rounds, q);
    } else {
      decryptRounds(schedule, rounds, q);
    }
    store4(blocks + 64 * half, q);
  }
}
#endif

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

void toEncryptSchedule(std::uint64_t* schedule, int rounds) {
  for (int r = 1; r <= rounds; ++r)
    for (int k = 0; k < (r & 3); ++k) inverseShiftRows(schedule + 8 * r);
}

void encrypt4(const std::uint64_t* schedule, int rounds, unsigned char blocks[64]) {
  Q q[8];
  load4(q, blocks);
  encryptRounds(schedule, rounds, q);
  store4(blocks, q);
}

void decrypt4(const std::uint64_t* schedule, int rounds, unsigned char blocks[64]) {
  Q q[8];
  load4(q, blocks);
  decryptRounds(schedule, rounds, q);
  store4(blocks, q);
}

// One block in the first of the four positions: the other three stay zero,
// so only its own words are spread and gathered.
template <bool kEncrypt>
void run1(const std::uint64_t* schedule, int rounds, const unsigned char in[16], unsigned char out[16]) {
  std::uint32_t w[4];
  for (int i = 0; i < 4; ++i) w[i] = loadLe32(in + 4 * i);
  Q q[8] = {};
  interleaveIn(q[0], q[4], w);
  orthogonalize(q);
  if (kEncrypt) {
    encryptRounds(schedule, rounds, q);
  } else {
    decryptRounds(schedule, rounds, q);
  }
  orthogonalize(q);
  interleaveOut(w, q[0], q[4]);
  for (int i = 0; i < 4; ++i) storeLe32(out + 4 * i, w[i]);
}

void encrypt1(const std::uint64_t* schedule, int rounds, const unsigned char in[16], unsigned char out[16]) {
  run1<true>(schedule, rounds, in, out);
}

void decrypt1(const std::uint64_t* schedule, int rounds, const unsigned char in[16], unsigned char out[16]) {
  run1<false>(schedule, rounds, in, out);
}

// CBC is serial, so each block runs alone in lane 0; but four plaintexts
// are spread into the lanes with one orthogonalization and four
// ciphertexts gathered with one, and the chaining xor is done bitsliced.
void encryptCbc(const std::uint64_t* schedule, int rounds, unsigned char chain[16], const unsigned char* in,
                unsigned char* out, std::size_t blocks) {
  constexpr Q lane0 = 0x1111111111111111;
  Q x[8] = {};
  {
    std::uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = loadLe32(chain + 4 * i);
    interleaveIn(x[0], x[4], w);
    orthogonalize(x);
  }
  unsigned char group[64];
  for (std::size_t done = 0; done < blocks; done += kBlocks) {
    const std::size_t n = blocks - done < kBlocks ? blocks - done : kBlocks;
    std::memset(group, 0, sizeof group);
    std::memcpy(group, in + 16 * done, 16 * n);
    Q p[8], c[8] = {};
    load4(p, group);
    for (std::size_t j = 0; j < n; ++j) {
      for (int i = 0; i < 8; ++i) x[i] = (x[i] & lane0) ^ ((p[i] >> j) & lane0);
      encryptRounds(schedule, rounds, x);
      for (int i = 0; i < 8; ++i) c[i] |= (x[i] & lane0) << j;
    }
    store4(group, c);
    std::memcpy(out + 16 * done, group, 16 * n);
  }
  if (blocks > 0) std::memcpy(chain, out + 16 * (blocks - 1), 16);
}

void encrypt8(const std::uint64_t* schedule, int rounds, unsigned char blocks[128]) {
  run8<true>(schedule, rounds, blocks);
}

void decrypt8(const std::uint64_t* schedule, int rounds, unsigned char blocks[128]) {
  run8<false>(schedule, rounds, blocks);
}

}  // namespace qv::bitsliced
