#include "crypto/md5.h"
#include "crypto/block_feed.h"

#include <cstring>

namespace qv {

namespace {

inline std::uint32_t rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

inline std::uint32_t loadLe32(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

// The RFC 1321 round steps, written out so the shift amounts and sines are constants.
#define QV_MD5_STEP(f, a, b, c, d, x, t, s) \
  a += f(b, c, d) + (x) + (t);              \
  a = rotl(a, s) + b

inline std::uint32_t fF(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return z ^ (x & (y ^ z)); }
inline std::uint32_t fG(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (z & (x ^ y)); }
inline std::uint32_t fH(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t fI(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

}  // namespace

void Md5Context::reset() {
  state_ = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  length_ = 0;
}

void Md5Context::compress(const unsigned char* block) {
  std::uint32_t x[16];
  for (int k = 0; k < 16; ++k) x[k] = loadLe32(block + 4 * k);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

  QV_MD5_STEP(fF, a, b, c, d, x[0], 0xd76aa478, 7);
  QV_MD5_STEP(fF, d, a, b, c, x[1], 0xe8c7b756, 12);
  QV_MD5_STEP(fF, c, d, a, b, x[2], 0x242070db, 17);
  QV_MD5_STEP(fF, b, c, d, a, x[3], 0xc1bdceee, 22);
  QV_MD5_STEP(fF, a, b, c, d, x[4], 0xf57c0faf, 7);
  QV_MD5_STEP(fF, d, a, b, c, x[5], 0x4787c62a, 12);
  QV_MD5_STEP(fF, c, d, a, b, x[6], 0xa8304613, 17);
  QV_MD5_STEP(fF, b, c, d, a, x[7], 0xfd469501, 22);
  QV_MD5_STEP(fF, a, b, c, d, x[8], 0x698098d8, 7);
  QV_MD5_STEP(fF, d, a, b, c, x[9], 0x8b44f7af, 12);
  QV_MD5_STEP(fF, c, d, a, b, x[10], 0xffff5bb1, 17);
  QV_MD5_STEP(fF, b, c, d, a, x[11], 0x895cd7be, 22);
  QV_MD5_STEP(fF, a, b, c, d, x[12], 0x6b901122, 7);
  QV_MD5_STEP(fF, d, a, b, c, x[13], 0xfd987193, 12);
  QV_MD5_STEP(fF, c, d, a, b, x[14], 0xa679438e, 17);
  QV_MD5_STEP(fF, b, c, d, a, x[15], 0x49b40821, 22);

  QV_MD5_STEP(fG, a, b, c, d, x[1], 0xf61e2562, 5);
  QV_MD5_STEP(fG, d, a, b, c, x[6], 0xc040b340, 9);
  QV_MD5_STEP(fG, c, d, a, b, x[11], 0x265e5a51, 14);
  QV_MD5_STEP(fG, b, c, d, a, x[0], 0xe9b6c7aa, 20);
  QV_MD5_STEP(fG, a, b, c, d, x[5], 0xd62f105d, 5);
  QV_MD5_STEP(fG, d, a, b, c, x[10], 0x02441453, 9);
  QV_MD5_STEP(fG, c, d, a, b, x[15], 0xd8a1e681, 14);
  QV_MD5_STEP(fG, b, c, d, a, x[4], 0xe7d3fbc8, 20);
  QV_MD5_STEP(fG, a, b, c, d, x[9], 0x21e1cde6, 5);
  QV_MD5_STEP(fG, d, a, b, c, x[14], 0xc33707d6, 9);
  QV_MD5_STEP(fG, c, d, a, b, x[3], 0xf4d50d87, 14);
  QV_MD5_STEP(fG, b, c, d, a, x[8], 0x455a14ed, 20);
  QV_MD5_STEP(fG, a, b, c, d, x[13], 0xa9e3e905, 5);
  QV_MD5_STEP(fG, d, a, b, c, x[2], 0xfcefa3f8, 9);
  QV_MD5_STEP(fG, c, d, a, b, x[7], 0x676f02d9, 14);
  QV_MD5_STEP(fG, b, c, d, a, x[12], 0x8d2a4c8a, 20);

  QV_MD5_STEP(fH, a, b, c, d, x[5], 0xfffa3942, 4);
  QV_MD5_STEP(fH, d, a, b, c, x[8], 0x8771f681, 11);
  QV_MD5_STEP(fH, c, d, a, b, x[11], 0x6d9d6122, 16);
  QV_MD5_STEP(fH, b, c, d, a, x[14], 0xfde5380c, 23);
  QV_MD5_STEP(fH, a, b, c, d, x[1], 0xa4beea44, 4);
  QV_MD5_STEP(fH, d, a, b, c, x[4], 0x4bdecfa9, 11);
  QV_MD5_STEP(fH, c, d, a, b, x[7], 0xf6bb4b60, 16);
  QV_MD5_STEP(fH, b, c, d, a, x[10], 0xbebfbc70, 23);
  QV_MD5_STEP(fH, a, b, c, d, x[13], 0x289b7ec6, 4);
  QV_MD5_STEP(fH, d, a, b, c, x[0], 0xeaa127fa, 11);
  QV_MD5_STEP(fH, c, d, a, b, x[3], 0xd4ef3085, 16);
  QV_MD5_STEP(fH, b, c, d, a, x[6], 0x04881d05, 23);
  QV_MD5_STEP(fH, a, b, c, d, x[9], 0xd9d4d039, 4);
  QV_MD5_STEP(fH, d, a, b, c, x[12], 0xe6db99e5, 11);
  QV_MD5_STEP(fH, c, d, a, b, x[15], 0x1fa27cf8, 16);
  QV_MD5_STEP(fH, b, c, d, a, x[2], 0xc4ac5665, 23);

  QV_MD5_STEP(fI, a, b, c, d, x[0], 0xf4292244, 6);
  QV_MD5_STEP(fI, d, a, b, c, x[7], 0x432aff97, 10);
  QV_MD5_STEP(fI, c, d, a, b, x[14], 0xab9423a7, 15);
  QV_MD5_STEP(fI, b, c, d, a, x[5], 0xfc93a039, 21);
  QV_MD5_STEP(fI, a, b, c, d, x[12], 0x655b59c3, 6);
  QV_MD5_STEP(fI, d, a, b, c, x[3], 0x8f0ccc92, 10);
  QV_MD5_STEP(fI, c, d, a, b, x[10], 0xffeff47d, 15);
  QV_MD5_STEP(fI, b, c, d, a, x[1], 0x85845dd1, 21);
  QV_MD5_STEP(fI, a, b, c, d, x[8], 0x6fa87e4f, 6);
  QV_MD5_STEP(fI, d, a, b, c, x[15], 0xfe2ce6e0, 10);
  QV_MD5_STEP(fI, c, d, a, b, x[6], 0xa3014314, 15);
  QV_MD5_STEP(fI, b, c, d, a, x[13], 0x4e0811a1, 21);
  QV_MD5_STEP(fI, a, b, c, d, x[4], 0xf7537e82, 6);
  QV_MD5_STEP(fI, d, a, b, c, x[11], 0xbd3af235, 10);
  QV_MD5_STEP(fI, c, d, a, b, x[2], 0x2ad7d2bb, 15);
  QV_MD5_STEP(fI, b, c, d, a, x[9], 0xeb86d391, 21);

  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

#undef QV_MD5_STEP

void Md5Context::update(std::string_view data) {
  feedBlocks(buffer_, length_, data, [this](const unsigned char* block) { compress(block); });
}

Bytes Md5Context::finish() {
  feedPadding(length_, false, [this](std::string_view bytes) { update(bytes); });
  Bytes out(kMd5Size, '\0');
  for (std::size_t k = 0; k < kMd5Size; ++k) out[k] = static_cast<char>(state_[k / 4] >> (8 * (k % 4)));
  return out;
}

Bytes md5Digest(std::string_view data) {
  Md5Context context;
  context.update(data);
  return context.finish();
}

}  // namespace qv
