#pragma once
// SHA-1 and SHA-256 compression on the SHA extensions. Call only when
// shaHardwareActive(). state is the FIPS 180 working state (a, b, c, ...).
#include <cstddef>
#include <cstdint>

namespace qv::shani {

void sha1Compress(std::uint32_t state[5], const unsigned char* blocks, std::size_t count);
void sha256Compress(std::uint32_t state[8], const unsigned char* blocks, std::size_t count);

}  // namespace qv::shani
