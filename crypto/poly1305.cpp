#include "crypto/poly1305.h"

#include <cstring>

#include "crypto/cpu_features.h"
#include "crypto/poly1305_avx2.h"

namespace qv {

namespace {

constexpr std::uint32_t kMask26 = 0x3ffffff;

inline std::uint32_t load32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void store32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline std::uint64_t mul(std::uint32_t a, std::uint32_t b) { return static_cast<std::uint64_t>(a) * b; }

// Stores the compiler may not drop although nothing reads them afterwards.
void wipe(void* p, std::size_t n) {
  volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
  while (n-- > 0) *v++ = 0;
}

// out = a * b mod 2^130 - 5, every limb fully carried below 2^26.
void mulMod(const std::uint32_t a[5], const std::uint32_t b[5], std::uint32_t out[5]) {
  const std::uint32_t s1 = b[1] * 5, s2 = b[2] * 5, s3 = b[3] * 5, s4 = b[4] * 5;
  std::uint64_t d[5];
  d[0] = mul(a[0], b[0]) + mul(a[1], s4) + mul(a[2], s3) + mul(a[3], s2) + mul(a[4], s1);
  d[1] = mul(a[0], b[1]) + mul(a[1], b[0]) + mul(a[2], s4) + mul(a[3], s3) + mul(a[4], s2);
  d[2] = mul(a[0], b[2]) + mul(a[1], b[1]) + mul(a[2], b[0]) + mul(a[3], s4) + mul(a[4], s3);
  d[3] = mul(a[0], b[3]) + mul(a[1], b[2]) + mul(a[2], b[1]) + mul(a[3], b[0]) + mul(a[4], s4);
  d[4] = mul(a[0], b[4]) + mul(a[1], b[3]) + mul(a[2], b[2]) + mul(a[3], b[1]) + mul(a[4], b[0]);
  for (int k = 0; k < 4; ++k) {
    d[k + 1] += d[k] >> 26;
    d[k] &= kMask26;
  }
  d[0] += (d[4] >> 26) * 5;
  d[4] &= kMask26;
  d[1] += d[0] >> 26;
  d[0] &= kMask26;
  d[2] += d[1] >> 26;
  d[1] &= kMask26;
  for (int k = 0; k < 5; ++k) out[k] = static_cast<std::uint32_t>(d[k]);
}

}  // namespace

Poly1305::Poly1305(const unsigned char key[32]) {
  // r with the clamping of RFC 8439 2.5, split into 26-bit limbs.
  r_[0] = load32(key + 0) & 0x3ffffff;
  r_[1] = (load32(key + 3) >> 2) & 0x3ffff03;
  r_[2] = (load32(key + 6) >> 4) & 0x3ffc0ff;
  r_[3] = (load32(key + 9) >> 6) & 0x3f03fff;
  r_[4] = (load32(key + 12) >> 8) & 0x00fffff;
  for (int k = 0; k < 4; ++k) pad_[k] = load32(key + 16 + 4 * k);
  vector_ = chachaHardwareActive();
  if (vector_) {
    std::memcpy(powers_[0], r_, sizeof r_);
    mulMod(r_, r_, powers_[1]);
    mulMod(powers_[1], r_, powers_[2]);
    for (int k = 3; k < 8; ++k) mulMod(powers_[k - 1], r_, powers_[k]);
  }
}

Poly1305::~Poly1305() {
  wipe(r_, sizeof r_);
  wipe(powers_, sizeof powers_);
  wipe(h_, sizeof h_);
  wipe(pad_, sizeof pad_);
  wipe(buffer_, sizeof buffer_);
}

// h = (h + block + highBit * 2^128) * r mod 2^130 - 5, for each 16-byte block.
void Poly1305::blocks(const unsigned char* m, std::size_t length, std::uint32_t highBit) {
  if (vector_ && highBit != 0 && length >= 64) {
    const std::size_t groups = length / 64;
    poly1305_avx2::blocks(h_, powers_, m, groups * 4);
    m += groups * 64;
    length -= groups * 64;
    if (length == 0) return;
  }
  const std::uint32_t r0 = r_[0], r1 = r_[1], r2 = r_[2], r3 = r_[3], r4 = r_[4];
  // 2^130 = 5 mod p: limb products past 2^130 fold back times five.
  const std::uint32_t s1 = r1 * 5, s2 = r2 * 5, s3 = r3 * 5, s4 = r4 * 5;
  std::uint32_t h0 = h_[0], h1 = h_[1], h2 = h_[2], h3 = h_[3], h4 = h_[4];
  while (length >= 16) {
    h0 += load32(m + 0) & kMask26;
    h1 += (load32(m + 3) >> 2) & kMask26;
    h2 += (load32(m + 6) >> 4) & kMask26;
    h3 += (load32(m + 9) >> 6) & kMask26;
    h4 += (load32(m + 12) >> 8) | highBit;

    std::uint64_t d0 = mul(h0, r0) + mul(h1, s4) + mul(h2, s3) + mul(h3, s2) + mul(h4, s1);
    std::uint64_t d1 = mul(h0, r1) + mul(h1, r0) + mul(h2, s4) + mul(h3, s3) + mul(h4, s2);
    std::uint64_t d2 = mul(h0, r2) + mul(h1, r1) + mul(h2, r0) + mul(h3, s4) + mul(h4, s3);
    std::uint64_t d3 = mul(h0, r3) + mul(h1, r2) + mul(h2, r1) + mul(h3, r0) + mul(h4, s4);
    std::uint64_t d4 = mul(h0, r4) + mul(h1, r3) + mul(h2, r2) + mul(h3, r1) + mul(h4, r0);

    // Partial carry: limbs end below 2^26 except h1, which stays below 2^27.
    std::uint32_t c = static_cast<std::uint32_t>(d0 >> 26);
    h0 = static_cast<std::uint32_t>(d0) & kMask26;
    d1 += c;
    c = static_cast<std::uint32_t>(d1 >> 26);
    h1 = static_cast<std::uint32_t>(d1) & kMask26;
    d2 += c;
    c = static_cast<std::uint32_t>(d2 >> 26);
    h2 = static_cast<std::uint32_t>(d2) & kMask26;
    d3 += c;
    c = static_cast<std::uint32_t>(d3 >> 26);
    h3 = static_cast<std::uint32_t>(d3) & kMask26;
    d4 += c;
    c = static_cast<std::uint32_t>(d4 >> 26);
    h4 = static_cast<std::uint32_t>(d4) & kMask26;
    h0 += c * 5;
    c = h0 >> 26;
    h0 &= kMask26;
    h1 += c;

    m += 16;
    length -= 16;
  }
  h_[0] = h0;
  h_[1] = h1;
  h_[2] = h2;
  h_[3] = h3;
  h_[4] = h4;
}

void Poly1305::update(const unsigned char* data, std::size_t length) {
  if (buffered_ > 0) {
    const std::size_t take = length < 16 - buffered_ ? length : 16 - buffered_;
    std::memcpy(buffer_ + buffered_, data, take);
    buffered_ += take;
    data += take;
    length -= take;
    if (buffered_ < 16) return;
    blocks(buffer_, 16, 1u << 24);
    buffered_ = 0;
  }
  const std::size_t whole = length & ~static_cast<std::size_t>(15);
  if (whole > 0) blocks(data, whole, 1u << 24);
  data += whole;
  length -= whole;
  if (length > 0) {
    std::memcpy(buffer_, data, length);
    buffered_ = length;
  }
}

void Poly1305::update(std::string_view data) {
  update(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

void Poly1305::padToBlock() {
  if (buffered_ == 0) return;
  std::memset(buffer_ + buffered_, 0, 16 - buffered_);
  blocks(buffer_, 16, 1u << 24);
  buffered_ = 0;
}

void Poly1305::finish(unsigned char tag[16]) {
  if (buffered_ > 0) {
    // The last partial block carries its 1 bit right after the message bytes.
    buffer_[buffered_] = 1;
    std::memset(buffer_ + buffered_ + 1, 0, 16 - buffered_ - 1);
    blocks(buffer_, 16, 0);
    buffered_ = 0;
  }
  std::uint32_t h0 = h_[0], h1 = h_[1], h2 = h_[2], h3 = h_[3], h4 = h_[4];
  // Full carry.
  std::uint32_t c = h1 >> 26;
  h1 &= kMask26;
  h2 += c;
  c = h2 >> 26;
  h2 &= kMask26;
  h3 += c;
  c = h3 >> 26;
  h3 &= kMask26;
  h4 += c;
  c = h4 >> 26;
  h4 &= kMask26;
  h0 += c * 5;
  c = h0 >> 26;
  h0 &= kMask26;
  h1 += c;

  // g = h + 5 - 2^130; take g when it did not go negative (h >= p), by mask.
  std::uint32_t g0 = h0 + 5;
  c = g0 >> 26;
  g0 &= kMask26;
  std::uint32_t g1 = h1 + c;
  c = g1 >> 26;
  g1 &= kMask26;
  std::uint32_t g2 = h2 + c;
  c = g2 >> 26;
  g2 &= kMask26;
  std::uint32_t g3 = h3 + c;
  c = g3 >> 26;
  g3 &= kMask26;
  const std::uint32_t g4 = h4 + c - (1u << 26);
  const std::uint32_t takeG = (g4 >> 31) - 1;  // all ones when g4 did not borrow
  h0 = (h0 & ~takeG) | (g0 & takeG);
  h1 = (h1 & ~takeG) | (g1 & takeG);
  h2 = (h2 & ~takeG) | (g2 & takeG);
  h3 = (h3 & ~takeG) | (g3 & takeG);
  h4 = (h4 & ~takeG) | (g4 & takeG);

  // h mod 2^128 in four 32-bit words, plus s.
  const std::uint32_t w0 = h0 | (h1 << 26);
  const std::uint32_t w1 = (h1 >> 6) | (h2 << 20);
  const std::uint32_t w2 = (h2 >> 12) | (h3 << 14);
  const std::uint32_t w3 = (h3 >> 18) | (h4 << 8);
  std::uint64_t f = static_cast<std::uint64_t>(w0) + pad_[0];
  store32(tag + 0, static_cast<std::uint32_t>(f));
  f = static_cast<std::uint64_t>(w1) + pad_[1] + (f >> 32);
  store32(tag + 4, static_cast<std::uint32_t>(f));
  f = static_cast<std::uint64_t>(w2) + pad_[2] + (f >> 32);
  store32(tag + 8, static_cast<std::uint32_t>(f));
  f = static_cast<std::uint64_t>(w3) + pad_[3] + (f >> 32);
  store32(tag + 12, static_cast<std::uint32_t>(f));
}

Bytes poly1305(std::string_view key, std::string_view message) {
  if (key.size() != 32) return {};
  Poly1305 mac(reinterpret_cast<const unsigned char*>(key.data()));
  mac.update(message);
  Bytes tag(16, '\0');
  mac.finish(reinterpret_cast<unsigned char*>(tag.data()));
  return tag;
}

bool equalConstantTime(const unsigned char* a, const unsigned char* b, std::size_t length) {
  unsigned diff = 0;
  for (std::size_t k = 0; k < length; ++k) diff |= static_cast<unsigned>(a[k] ^ b[k]);
  // diff - 1 borrows into the high bits only when diff is zero.
  return ((diff - 1u) >> 8) & 1u;
}

}  // namespace qv
