#pragma once
// X25519 Diffie-Hellman (RFC 7748) in constant time: a Montgomery ladder with
// masked conditional swaps over field elements in five 51-bit limbs; no
// branch or table index depends on the scalar or the point.
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kX25519Size = 32;

// scalar * u: the scalar is clamped and the top bit of u ignored as RFC 7748
// says; non-canonical u values are taken modulo 2^255 - 19. 32 bytes, or
// empty when either input is not 32 bytes. A low-order u gives all zeros,
// which the caller must refuse (see isAllZero).
Bytes x25519(std::string_view scalar32, std::string_view u32);
// scalar * 9, the public key for a private scalar.
Bytes x25519Base(std::string_view scalar32);

// Whether every byte is zero, looking at every byte whatever it finds.
bool isAllZero(std::string_view bytes);

}  // namespace qv
