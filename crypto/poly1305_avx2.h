#pragma once
// Poly1305 four blocks in flight on AVX2, 26-bit limbs in 64-bit lanes.
// Call only when chachaHardwareActive().
#include <cstddef>
#include <cstdint>

namespace qv::poly1305_avx2 {

// h = (h + m1) r^n + m2 r^(n-1) + ... + mn r over n full 16-byte blocks (n
// a multiple of four), each with its 2^128 bit. h and powers[k] = r^(k+1),
// k = 0..7, are five 26-bit limbs, carried (the powers fully).
void blocks(std::uint32_t h[5], const std::uint32_t powers[8][5], const unsigned char* m, std::size_t n);

}  // namespace qv::poly1305_avx2
