#pragma once
// GHASH, GCM's universal hash over GF(2^128) (NIST SP 800-38D), in constant
// time: carry-less products come from ordinary integer multiplications of
// operands with every fourth bit kept, so neither a table index nor a branch
// depends on the key or the data.
#include <cstddef>
#include <cstdint>

namespace qv {

// The running value Y and the hash key H, each as two big-endian 64-bit
// halves of the 16-byte block ([0] = first eight bytes).
struct GhashState {
  std::uint64_t y[2] = {0, 0};
  std::uint64_t h[2] = {0, 0};
};

// Sets H from its 16 bytes (E(K, 0^128)) and clears Y.
void ghashInit(GhashState& state, const unsigned char h[16]);
// Y = (Y xor block) * H for each 16-byte block of data; a trailing partial
// block is padded with zero bytes, as GCM pads the AAD and the ciphertext.
void ghashUpdate(GhashState& state, const unsigned char* data, std::size_t length);
// Y as 16 bytes.
void ghashValue(const GhashState& state, unsigned char out[16]);

}  // namespace qv
