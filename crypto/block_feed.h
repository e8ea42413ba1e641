#pragma once
// The block buffering and final padding that MD5 and the SHA family share;
// only the block size and the byte order of the length field differ.
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qv {

// Feeds data through the partial-block buffer, compressing every whole block.
template <std::size_t N, class Compress>
inline void feedBlocks(std::array<unsigned char, N>& buffer, std::uint64_t& length, std::string_view data,
                       Compress&& compress) {
  auto p = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t n = data.size();
  if (n == 0) return;
  std::size_t used = static_cast<std::size_t>(length % N);
  length += n;
  if (used != 0) {
    std::size_t take = N - used < n ? N - used : n;
    std::memcpy(buffer.data() + used, p, take);
    p += take;
    n -= take;
    if (used + take < N) return;
    compress(buffer.data());
  }
  for (; n >= N; p += N, n -= N) compress(p);
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

// The 128-byte-block form (SHA-384/512): 0x80, zero bytes up to 112 mod 128
// and a 16-byte big-endian bit length. The byte count is kept in 64 bits, so
// the top eight bytes of the bit length carry only its three high bits.
template <class Update>
inline void feedPadding128(std::uint64_t length, Update&& update) {
  static constexpr unsigned char kPad[128] = {0x80};
  std::size_t used = static_cast<std::size_t>(length % 128);
  std::size_t padLength = used < 112 ? 112 - used : 240 - used;
  update(std::string_view(reinterpret_cast<const char*>(kPad), padLength));
  unsigned char tail[16] = {};
  tail[7] = static_cast<unsigned char>(length >> 61);
  const std::uint64_t bits = length << 3;
  for (int k = 0; k < 8; ++k) tail[8 + k] = static_cast<unsigned char>(bits >> (56 - 8 * k));
  update(std::string_view(reinterpret_cast<const char*>(tail), 16));
}

}  // namespace qv
