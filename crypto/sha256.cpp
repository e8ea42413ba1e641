#include "crypto/sha256.h"

#include "crypto/block_feed.h"
#include "crypto/cpu_features.h"
#include "crypto/sha_ni.h"

namespace qv {

namespace {

inline std::uint32_t rotr(std::uint32_t x, int c) { return (x >> c) | (x << (32 - c)); }

inline std::uint32_t loadBe32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

}  // namespace

void Sha256Context::reset() {
  state_ = {0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
            0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};
  length_ = 0;
  hardware_ = shaHardwareActive();
}

// The 64 rounds written out with the working variables renamed from round to
// round instead of shifted, and a rolling 16-word message schedule.
#define QV_S0(x) (rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22))
#define QV_S1(x) (rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25))
#define QV_s0(x) (rotr(x, 7) ^ rotr(x, 18) ^ ((x) >> 3))
#define QV_s1(x) (rotr(x, 17) ^ rotr(x, 19) ^ ((x) >> 10))
#define QV_CH(e, f, g) ((g) ^ ((e) & ((f) ^ (g))))
#define QV_MAJ(a, b, c) (((a) & (b)) | ((c) & ((a) | (b))))
#define QV_W(t) (w[(t)&15] += QV_s1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] + QV_s0(w[((t) + 1) & 15]))
#define QV_ROUND(a, b, c, d, e, f, g, h, t, wt)                                \
  do {                                                                         \
    const std::uint32_t t1 = h + QV_S1(e) + QV_CH(e, f, g) + kRound[t] + (wt); \
    d += t1;                                                                   \
    h = t1 + QV_S0(a) + QV_MAJ(a, b, c);                                       \
  } while (0)
#define QV_EIGHT(t, W)                                   \
  QV_ROUND(a, b, c, d, e, f, g, h, (t), W((t)));         \
  QV_ROUND(h, a, b, c, d, e, f, g, (t) + 1, W((t) + 1)); \
  QV_ROUND(g, h, a, b, c, d, e, f, (t) + 2, W((t) + 2)); \
  QV_ROUND(f, g, h, a, b, c, d, e, (t) + 3, W((t) + 3)); \
  QV_ROUND(e, f, g, h, a, b, c, d, (t) + 4, W((t) + 4)); \
  QV_ROUND(d, e, f, g, h, a, b, c, (t) + 5, W((t) + 5)); \
  QV_ROUND(c, d, e, f, g, h, a, b, (t) + 6, W((t) + 6)); \
  QV_ROUND(b, c, d, e, f, g, h, a, (t) + 7, W((t) + 7))
#define QV_W0(t) w[t]

void Sha256Context::compress(const unsigned char* block) {
  if (hardware_) {
    shani::sha256Compress(state_.data(), block, 1);
    return;
  }
  std::uint32_t w[16];
  for (int t = 0; t < 16; ++t) w[t] = loadBe32(block + 4 * t);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  QV_EIGHT(0, QV_W0);
  QV_EIGHT(8, QV_W0);
  QV_EIGHT(16, QV_W);
  QV_EIGHT(24, QV_W);
  QV_EIGHT(32, QV_W);
  QV_EIGHT(40, QV_W);
  QV_EIGHT(48, QV_W);
  QV_EIGHT(56, QV_W);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
}

#undef QV_W0
#undef QV_EIGHT
#undef QV_ROUND
#undef QV_W
#undef QV_MAJ
#undef QV_CH
#undef QV_s1
#undef QV_s0
#undef QV_S1
#undef QV_S0

void Sha256Context::update(std::string_view data) {
  if (hardware_) {
    // Whole blocks straight from the input in one call: the state stays in registers.
    const std::size_t used = static_cast<std::size_t>(length_ % 64);
    const std::size_t head = used == 0 ? 0 : (64 - used < data.size() ? 64 - used : data.size());
    feedBlocks(buffer_, length_, data.substr(0, head),
               [this](const unsigned char* block) { compress(block); });
    data.remove_prefix(head);
    const std::size_t whole = data.size() / 64;
    if (whole != 0) {
      shani::sha256Compress(state_.data(), reinterpret_cast<const unsigned char*>(data.data()), whole);
      length_ += 64 * whole;
      data.remove_prefix(64 * whole);
    }
  }
  feedBlocks(buffer_, length_, data, [this](const unsigned char* block) { compress(block); });
}

Bytes Sha256Context::finish() {
  feedPadding(length_, true, [this](std::string_view bytes) { update(bytes); });
  Bytes out(kSha256Size, '\0');
  for (std::size_t k = 0; k < kSha256Size; ++k)
    out[k] = static_cast<char>(state_[k / 4] >> (24 - 8 * (k % 4)));
  return out;
}

Bytes sha256Digest(std::string_view data) {
  Sha256Context context;
  context.update(data);
  return context.finish();
}

}  // namespace qv
