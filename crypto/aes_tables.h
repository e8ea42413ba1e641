#pragma once
// Shared AES lookup tables, computed once per process.
#include <array>
#include <cstdint>

namespace qv {

struct AesTables {
  std::array<std::uint8_t, 256> inverse;  // GF(2^8) multiplicative inverses, 0 -> 0
  std::array<std::uint8_t, 256> sbox;
  std::array<std::uint8_t, 256> invSbox;
  std::array<std::uint8_t, 59> rcon;  // 0, then 1, 2, 4, ... (58 powers of 2)
  // Round tables: SubBytes with MixColumns, in the four byte rotations.
  std::array<std::array<std::uint32_t, 256>, 4> enc;
  // Final round: the S-box byte alone in each byte position.
  std::array<std::array<std::uint32_t, 256>, 4> encLast;
  // InvSubBytes with InvMixColumns, in the four byte rotations.
  std::array<std::array<std::uint32_t, 256>, 4> dec;
  // Final decryption round: the inverse S-box byte alone in each position.
  std::array<std::array<std::uint32_t, 256>, 4> decLast;
};

// Builds the tables on the first call (safe when threads race to it) and
// returns them read-only afterwards.
const AesTables& aesTables();
// Whether the tables have been built yet.
bool aesTablesBuilt();

// GF(2^8) product with the AES reduction byte 0x1B.
std::uint8_t gfMultiply(std::uint8_t a, std::uint8_t b);

}  // namespace qv
