#include "crypto/sha1.h"
#include "crypto/block_feed.h"
#include "crypto/cpu_features.h"
#include "crypto/sha_ni.h"

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
  hardware_ = shaHardwareActive();
}

// The 80 steps written out, with the variables renamed from step to step
// instead of shifted, and a rolling 16-word message schedule: the same
// values as FIPS 180-1's 80-word schedule with far less data movement.
#define QV_SHA1_W(t) \
  (w[(t)&15] = rotl(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))
#define QV_SHA1_STEP(a, b, c, d, e, f, k, wt) \
  e += rotl(a, 5) + (f) + (k) + (wt);         \
  b = rotl(b, 30)
#define QV_CH(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define QV_PARITY(b, c, d) ((b) ^ (c) ^ (d))
#define QV_MAJ(b, c, d) (((b) & (c)) + ((d) & ((b) ^ (c))))
#define QV_R0(a, b, c, d, e, t) QV_SHA1_STEP(a, b, c, d, e, QV_CH(b, c, d), 0x5A827999u, w[t])
#define QV_R1(a, b, c, d, e, t) QV_SHA1_STEP(a, b, c, d, e, QV_CH(b, c, d), 0x5A827999u, QV_SHA1_W(t))
#define QV_R2(a, b, c, d, e, t) QV_SHA1_STEP(a, b, c, d, e, QV_PARITY(b, c, d), 0x6ED9EBA1u, QV_SHA1_W(t))
#define QV_R3(a, b, c, d, e, t) QV_SHA1_STEP(a, b, c, d, e, QV_MAJ(b, c, d), 0x8F1BBCDCu, QV_SHA1_W(t))
#define QV_R4(a, b, c, d, e, t) QV_SHA1_STEP(a, b, c, d, e, QV_PARITY(b, c, d), 0xCA62C1D6u, QV_SHA1_W(t))
// Five steps rotate the roles of a..e back to where they started.
#define QV_FIVE(R, t)        \
  R(a, b, c, d, e, (t));     \
  R(e, a, b, c, d, (t) + 1); \
  R(d, e, a, b, c, (t) + 2); \
  R(c, d, e, a, b, (t) + 3); \
  R(b, c, d, e, a, (t) + 4)

void Sha1Context::compress(const unsigned char* block) {
  if (hardware_) {
    shani::sha1Compress(state_.data(), block, 1);
    return;
  }
  std::uint32_t w[16];
  for (int t = 0; t < 16; ++t) w[t] = loadBe32(block + 4 * t);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  QV_FIVE(QV_R0, 0);
  QV_FIVE(QV_R0, 5);
  QV_FIVE(QV_R0, 10);
  QV_R0(a, b, c, d, e, 15);
  QV_R1(e, a, b, c, d, 16);
  QV_R1(d, e, a, b, c, 17);
  QV_R1(c, d, e, a, b, 18);
  QV_R1(b, c, d, e, a, 19);
  QV_FIVE(QV_R2, 20);
  QV_FIVE(QV_R2, 25);
  QV_FIVE(QV_R2, 30);
  QV_FIVE(QV_R2, 35);
  QV_FIVE(QV_R3, 40);
  QV_FIVE(QV_R3, 45);
  QV_FIVE(QV_R3, 50);
  QV_FIVE(QV_R3, 55);
  QV_FIVE(QV_R4, 60);
  QV_FIVE(QV_R4, 65);
  QV_FIVE(QV_R4, 70);
  QV_FIVE(QV_R4, 75);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
}

#undef QV_FIVE
#undef QV_R4
#undef QV_R3
#undef QV_R2
#undef QV_R1
#undef QV_R0
#undef QV_MAJ
#undef QV_PARITY
#undef QV_CH
#undef QV_SHA1_STEP
#undef QV_SHA1_W

void Sha1Context::update(std::string_view data) {
  if (hardware_) {
    // Whole blocks straight from the input in one call: the state stays in registers.
    const std::size_t used = static_cast<std::size_t>(length_ % 64);
    const std::size_t head = used == 0 ? 0 : (64 - used < data.size() ? 64 - used : data.size());
    feedBlocks(buffer_, length_, data.substr(0, head),
               [this](const unsigned char* block) { compress(block); });
    data.remove_prefix(head);
    const std::size_t whole = data.size() / 64;
    if (whole != 0) {
      shani::sha1Compress(state_.data(), reinterpret_cast<const unsigned char*>(data.data()), whole);
      length_ += 64 * whole;
      data.remove_prefix(64 * whole);
    }
  }
  feedBlocks(buffer_, length_, data, [this](const unsigned char* block) { compress(block); });
}

Bytes Sha1Context::finish() {
  feedPadding(length_, true, [this](std::string_view bytes) { update(bytes); });
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
