#pragma once
// The 64-byte block buffering and final padding that MD5 and SHA-1 share;
// only the byte order of the length field differs between them.
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qv {

// Feeds data through the partial-block buffer, compressing every whole block.
template <class Compress>
inline void feedBlocks(std::array<unsigned char, 64>& buffer, std::uint64_t& length, std::string_view data,
                       Compress&& compress) {
  auto p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t n = data.size();
  if (n == 0) return;
  std::size_t used = static_cast<std::size_t>(length % 64);
  length += n;
  if (used != 0) {
    std::size_t take = 64 - used < n ? 64 - used : n;
    std::memcpy(buffer.data() + used, p, take);
    p += take;
    n -= take;
    if (used + take < 64) return;
    compress(buffer.data());
  }
  for (; n >= 64; p += 64, n -= 64) compress(p);
  if (n != 0) std::memcpy(buffer.data(), p, n);
}

// Appends 0x80, zero bytes up to 56 mod 64, and the bit length (eight bytes).
template <class Update>
inline void feedPadding(std::uint64_t length, bool bigEndianLength, Update&& update) {
  const std::uint64_t bits = length * 8;
  static constexpr unsigned char kPad[64] = {0x80};
  std::size_t used = static_cast<std::size_t>(length % 64);
  std::size_t padLength = used < 56 ? 56 - used : 120 - used;
  update(std::string_view(reinterpret_cast<const char*>(kPad), padLength));
  unsigned char tail[8];
  for (int k = 0; k < 8; ++k)
    tail[k] = static_cast<unsigned char>(bits >> (bigEndianLength ? 56 - 8 * k : 8 * k));
  update(std::string_view(reinterpret_cast<const char*>(tail), 8));
}

}  // namespace qv
