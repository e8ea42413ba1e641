#include "crypto/sha1.h"

#include <cstring>

namespace qv {

namespace {

inline std::uint32_t rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

inline std::uint32_t loadBe32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

void Sha1Context::reset() {
  state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  length_ = 0;
}

void Sha1Context::compress(const unsigned char* block) {
  // Rolling 16-word schedule instead of the 80-word one: same values, less memory traffic.
  std::uint32_t w[16];
  for (int t = 0; t < 16; ++t) w[t] = loadBe32(block + 4 * t);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  auto schedule = [&w](int t) {
    std::uint32_t x = rotl(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
    w[t & 15] = x;
    return x;
  };
  auto step = [&](std::uint32_t f, std::uint32_t k, std::uint32_t wt) {
    std::uint32_t temp = rotl(a, 5) + f + e + k + wt;
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = temp;
  };
  for (int t = 0; t < 16; ++t) step(d ^ (b & (c ^ d)), 0x5A827999u, w[t]);
  for (int t = 16; t < 20; ++t) step(d ^ (b & (c ^ d)), 0x5A827999u, schedule(t));
  for (int t = 20; t < 40; ++t) step(b ^ c ^ d, 0x6ED9EBA1u, schedule(t));
  for (int t = 40; t < 60; ++t) step((b & c) | (d & (b | c)), 0x8F1BBCDCu, schedule(t));
  for (int t = 60; t < 80; ++t) step(b ^ c ^ d, 0xCA62C1D6u, schedule(t));
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

void Sha1Context::update(std::string_view data) {
  auto p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t n = data.size();
  if (n == 0) return;
  std::size_t used = static_cast<std::size_t>(length_ % 64);
  length_ += n;
  if (used != 0) {
    std::size_t take = 64 - used < n ? 64 - used : n;
    std::memcpy(buffer_.data() + used, p, take);
    p += take;
    n -= take;
    if (used + take < 64) return;
    compress(buffer_.data());
  }
  for (; n >= 64; p += 64, n -= 64) compress(p);
  if (n != 0) std::memcpy(buffer_.data(), p, n);
}

Bytes Sha1Context::finish() {
  const std::uint64_t bits = length_ * 8;
  static constexpr unsigned char kPad[64] = {0x80};
  std::size_t used = static_cast<std::size_t>(length_ % 64);
  std::size_t padLength = used < 56 ? 56 - used : 120 - used;
  update(std::string_view(reinterpret_cast<const char*>(kPad), padLength));
  unsigned char tail[8];
  for (int k = 0; k < 8; ++k) tail[k] = static_cast<unsigned char>(bits >> (56 - 8 * k));
  update(std::string_view(reinterpret_cast<const char*>(tail), 8));
  Bytes out(kSha1Size, '\0');
  for (std::size_t k = 0; k < kSha1Size; ++k) out[k] = static_cast<char>(state_[k / 4] >> (24 - 8 * (k % 4)));
  return out;
}

Bytes sha1Digest(std::string_view data) {
  Sha1Context context;
  context.update(data);
  return context.finish();
}

}  // namespace qv
