#include "crypto/x25519.h"

#include <cstdint>

namespace qv {

namespace {

using u64 = std::uint64_t;
#if defined(__SIZEOF_INT128__) && !defined(QV_X25519_NO_INT128)
using u128 = unsigned __int128;
#else
// 32-bit targets have no 128-bit integer: the few operations the field code
// needs, on two 64-bit halves, without branches.
struct u128 {
  u64 lo = 0;
  u64 hi = 0;
  constexpr u128() = default;
  constexpr u128(u64 v) : lo(v) {}  // NOLINT: used as the built-in type would be
  explicit operator u64() const { return lo; }
  friend u128 operator+(u128 a, u128 b) {
    u128 r;
    r.lo = a.lo + b.lo;
    r.hi = a.hi + b.hi + (r.lo < a.lo ? 1 : 0);
    return r;
  }
  u128& operator+=(u128 b) { return *this = *this + b; }
  friend u128 operator*(u128 a, u64 b) {
    const u64 a0 = a.lo & 0xFFFFFFFF, a1 = a.lo >> 32, b0 = b & 0xFFFFFFFF, b1 = b >> 32;
    const u64 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const u64 mid = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
    u128 r;
    r.lo = (mid << 32) | (p00 & 0xFFFFFFFF);
    r.hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32) + a.hi * b;
    return r;
  }
  friend u128 operator>>(u128 a, int shift) {  // 0 < shift < 64
    u128 r;
    r.lo = (a.lo >> shift) | (a.hi << (64 - shift));
    r.hi = a.hi >> shift;
    return r;
  }
};
#endif

constexpr u64 kMask51 = (u64{1} << 51) - 1;

// An element of GF(2^255 - 19) as h[0] + h[1] 2^51 + ... + h[4] 2^204. Limbs
// may exceed 51 bits between operations; only toBytes reduces fully.
struct Fe {
  u64 v[5];
};

inline u64 load64(const unsigned char* p) {
  u64 x = 0;
  for (int k = 7; k >= 0; --k) x = (x << 8) | p[k];
  return x;
}

Fe fromBytes(const unsigned char* s) {
  // The top bit (255) is dropped by the last mask.
  return {{load64(s) & kMask51, (load64(s + 6) >> 3) & kMask51, (load64(s + 12) >> 6) & kMask51,
           (load64(s + 19) >> 1) & kMask51, (load64(s + 24) >> 12) & kMask51}};
}

inline Fe add(const Fe& a, const Fe& b) {
  return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3], a.v[4] + b.v[4]}};
}

// a - b + 4p keeps every limb positive for limbs of b below 2^53.
inline Fe sub(const Fe& a, const Fe& b) {
  constexpr u64 k4p0 = 0x1FFFFFFFFFFFB4, k4pi = 0x1FFFFFFFFFFFFC;
  return {{a.v[0] + k4p0 - b.v[0], a.v[1] + k4pi - b.v[1], a.v[2] + k4pi - b.v[2], a.v[3] + k4pi - b.v[3],
           a.v[4] + k4pi - b.v[4]}};
}

// Carries five wide limb sums down to 51 bits (the top carry wraps as * 19,
// kept wide: it can exceed 64 bits before the multiplication's reduction).
inline Fe carry(u128 t0, u128 t1, u128 t2, u128 t3, u128 t4) {
  Fe r;
  t1 += t0 >> 51;
  r.v[0] = static_cast<u64>(t0) & kMask51;
  t2 += t1 >> 51;
  r.v[1] = static_cast<u64>(t1) & kMask51;
  t3 += t2 >> 51;
  r.v[2] = static_cast<u64>(t2) & kMask51;
  t4 += t3 >> 51;
  r.v[3] = static_cast<u64>(t3) & kMask51;
  r.v[4] = static_cast<u64>(t4) & kMask51;
  const u128 low = (t4 >> 51) * 19 + r.v[0];
  r.v[0] = static_cast<u64>(low) & kMask51;
  r.v[1] += static_cast<u64>(low >> 51);
  return r;
}

// 2^255 = 19 mod p, so products landing at limb 5 and above fold back * 19.
Fe mul(const Fe& a, const Fe& b) {
  const u64 a0 = a.v[0], a1 = a.v[1], a2 = a.v[2], a3 = a.v[3], a4 = a.v[4];
  const u64 b0 = b.v[0], b1 = b.v[1], b2 = b.v[2], b3 = b.v[3], b4 = b.v[4];
  const u64 b1x = b1 * 19, b2x = b2 * 19, b3x = b3 * 19, b4x = b4 * 19;
  const u128 t0 = u128{a0} * b0 + u128{a1} * b4x + u128{a2} * b3x + u128{a3} * b2x + u128{a4} * b1x;
  const u128 t1 = u128{a0} * b1 + u128{a1} * b0 + u128{a2} * b4x + u128{a3} * b3x + u128{a4} * b2x;
  const u128 t2 = u128{a0} * b2 + u128{a1} * b1 + u128{a2} * b0 + u128{a3} * b4x + u128{a4} * b3x;
  const u128 t3 = u128{a0} * b3 + u128{a1} * b2 + u128{a2} * b1 + u128{a3} * b0 + u128{a4} * b4x;
  const u128 t4 = u128{a0} * b4 + u128{a1} * b3 + u128{a2} * b2 + u128{a3} * b1 + u128{a4} * b0;
  return carry(t0, t1, t2, t3, t4);
}

Fe square(const Fe& a) {
  const u64 a0 = a.v[0], a1 = a.v[1], a2 = a.v[2], a3 = a.v[3], a4 = a.v[4];
  const u64 d0 = a0 * 2, d1 = a1 * 2, d2 = a2 * 2;
  const u64 a3x = a3 * 19, a4x = a4 * 19;
  const u128 t0 = u128{a0} * a0 + u128{d1} * a4x + u128{d2} * a3x;
  const u128 t1 = u128{d0} * a1 + u128{d2} * a4x + u128{a3} * a3x;
  const u128 t2 = u128{d0} * a2 + u128{a1} * a1 + u128{a3 * 2} * a4x;
  const u128 t3 = u128{d0} * a3 + u128{d1} * a2 + u128{a4} * a4x;
  const u128 t4 = u128{d0} * a4 + u128{d1} * a3 + u128{a2} * a2;
  return carry(t0, t1, t2, t3, t4);
}

Fe squareTimes(Fe a, int n) {
  for (int k = 0; k < n; ++k) a = square(a);
  return a;
}

Fe mulSmall(const Fe& a, u64 m) {
  return carry(u128{a.v[0]} * m, u128{a.v[1]} * m, u128{a.v[2]} * m, u128{a.v[3]} * m, u128{a.v[4]} * m);
}

// z^(p - 2) = z^(2^255 - 21) by a fixed chain of 254 squarings and 11
// multiplications; zero maps to zero.
Fe invert(const Fe& z) {
  const Fe z2 = square(z);
  const Fe z9 = mul(squareTimes(z2, 2), z);
  const Fe z11 = mul(z9, z2);
  const Fe z_5_0 = mul(square(z11), z9);  // z^(2^5 - 1)
  const Fe z_10_0 = mul(squareTimes(z_5_0, 5), z_5_0);
  const Fe z_20_0 = mul(squareTimes(z_10_0, 10), z_10_0);
  const Fe z_40_0 = mul(squareTimes(z_20_0, 20), z_20_0);
  const Fe z_50_0 = mul(squareTimes(z_40_0, 10), z_10_0);
  const Fe z_100_0 = mul(squareTimes(z_50_0, 50), z_50_0);
  const Fe z_200_0 = mul(squareTimes(z_100_0, 100), z_100_0);
  const Fe z_250_0 = mul(squareTimes(z_200_0, 50), z_50_0);
  return mul(squareTimes(z_250_0, 5), z11);  // z^(2^255 - 2^5 + 11)
}

// Fully reduced, little-endian.
void toBytes(Fe h, unsigned char* out) {
  h = carry(h.v[0], h.v[1], h.v[2], h.v[3], h.v[4]);
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < 4; ++k) {
      h.v[k + 1] += h.v[k] >> 51;
      h.v[k] &= kMask51;
    }
    if (pass == 0) {
      h.v[0] += 19 * (h.v[4] >> 51);
      h.v[4] &= kMask51;
    }
  }
  // h < 2p now; q = 1 exactly when h >= p, and h + 19q - 2^255q is the result.
  u64 q = (h.v[0] + 19) >> 51;
  q = (h.v[1] + q) >> 51;
  q = (h.v[2] + q) >> 51;
  q = (h.v[3] + q) >> 51;
  q = (h.v[4] + q) >> 51;
  h.v[0] += 19 * q;
  for (int k = 0; k < 4; ++k) {
    h.v[k + 1] += h.v[k] >> 51;
    h.v[k] &= kMask51;
  }
  h.v[4] &= kMask51;  // drops the 2^255
  const u64 w0 = h.v[0] | (h.v[1] << 51);
  const u64 w1 = (h.v[1] >> 13) | (h.v[2] << 38);
  const u64 w2 = (h.v[2] >> 26) | (h.v[3] << 25);
  const u64 w3 = (h.v[3] >> 39) | (h.v[4] << 12);
  const u64 w[4] = {w0, w1, w2, w3};
  for (int k = 0; k < 32; ++k) out[k] = static_cast<unsigned char>(w[k / 8] >> (8 * (k % 8)));
}

// Swaps a and b when bit is 1, with the same instructions either way.
inline void conditionalSwap(Fe& a, Fe& b, u64 bit) {
  const u64 mask = 0 - bit;
  for (int k = 0; k < 5; ++k) {
    const u64 t = mask & (a.v[k] ^ b.v[k]);
    a.v[k] ^= t;
    b.v[k] ^= t;
  }
}

void ladder(const unsigned char scalar[32], const unsigned char u[32], unsigned char out[32]) {
  unsigned char k[32];
  for (int i = 0; i < 32; ++i) k[i] = scalar[i];
  k[0] &= 248;
  k[31] &= 127;
  k[31] |= 64;
  const Fe x1 = fromBytes(u);
  Fe x2 = {{1, 0, 0, 0, 0}}, z2 = {{0, 0, 0, 0, 0}};
  Fe x3 = x1, z3 = {{1, 0, 0, 0, 0}};
  u64 swap = 0;
  for (int t = 254; t >= 0; --t) {
    const u64 bit = (k[t >> 3] >> (t & 7)) & 1;
    swap ^= bit;
    conditionalSwap(x2, x3, swap);
    conditionalSwap(z2, z3, swap);
    swap = bit;
    const Fe a = add(x2, z2);
    const Fe aa = square(a);
    const Fe b = sub(x2, z2);
    const Fe bb = square(b);
    const Fe e = sub(aa, bb);
    const Fe c = add(x3, z3);
    const Fe d = sub(x3, z3);
    const Fe da = mul(d, a);
    const Fe cb = mul(c, b);
    x3 = square(add(da, cb));
    z3 = mul(x1, square(sub(da, cb)));
    x2 = mul(aa, bb);
    z2 = mul(e, add(aa, mulSmall(e, 121665)));
  }
  conditionalSwap(x2, x3, swap);
  conditionalSwap(z2, z3, swap);
  toBytes(mul(x2, invert(z2)), out);
}

}  // namespace

Bytes x25519(std::string_view scalar32, std::string_view u32) {
  if (scalar32.size() != kX25519Size || u32.size() != kX25519Size) return {};
  Bytes out(kX25519Size, '\0');
  ladder(reinterpret_cast<const unsigned char*>(scalar32.data()),
         reinterpret_cast<const unsigned char*>(u32.data()), reinterpret_cast<unsigned char*>(out.data()));
  return out;
}

Bytes x25519Base(std::string_view scalar32) {
  static constexpr unsigned char kBase[32] = {9};
  return x25519(scalar32, std::string_view(reinterpret_cast<const char*>(kBase), sizeof kBase));
}

bool isAllZero(std::string_view bytes) {
  unsigned char acc = 0;
  for (char c : bytes) acc = static_cast<unsigned char>(acc | static_cast<unsigned char>(c));
  // No early exit: the loop reads every byte, and the answer is one compare.
  return acc == 0;
}

}  // namespace qv
