#pragma once
// RC4 stream cipher.
#include <array>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

// One continuous stream; the state carries over between rc4Crypt calls.
// A state that was never keyed holds the identity permutation.
struct Rc4State {
  std::uint32_t i = 0;
  std::uint32_t j = 0;
  std::array<std::uint8_t, 256> s = identity();

  static constexpr std::array<std::uint8_t, 256> identity() {
    std::array<std::uint8_t, 256> p{};
    for (int k = 0; k < 256; ++k) p[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(k);
    return p;
  }
};

// Resets i, j and s, then runs the key schedule. An empty key schedules as
// a single zero byte.
void rc4SetKey(Rc4State& state, std::string_view key);
// Encrypts or decrypts (the same operation); output as long as data.
Bytes rc4Crypt(Rc4State& state, std::string_view data);

}  // namespace qv
