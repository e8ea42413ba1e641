#pragma once
// ChaCha20 eight blocks at a time on AVX2. Call only when chachaHardwareActive().
#include <cstddef>
#include <cstdint>

namespace qv::chacha_avx2 {

// out = in xor the key stream of `state` (RFC 8439 2.3 layout, word 12 the
// block counter), advanced past the blocks used; in and out may be the same.
// AVX-512VL's rotates are used where the CPU has them.
void xorStream(std::uint32_t state[16], const unsigned char* in, unsigned char* out, std::size_t length);
// The AVX2-only kernel, whatever the CPU, for tests on a machine that has both.
void xorStreamAvx2Only(std::uint32_t state[16], const unsigned char* in, unsigned char* out,
                       std::size_t length);

}  // namespace qv::chacha_avx2
