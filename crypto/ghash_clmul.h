#pragma once
// GHASH on PCLMULQDQ, eight blocks per reduction. Call only when
// aesHardwareActive().
#include <cstddef>

namespace qv::clmul {

// H^1 .. H^8 from H (16 bytes), in the byte-reversed form ghashBlocks takes.
void ghashPowers(const unsigned char h[16], unsigned char powers[8][16]);
// y = GHASH continued over data (16-byte blocks, a trailing partial block
// padded with zero bytes); y is the 16-byte value in GCM's byte order.
void ghashBlocks(const unsigned char powers[8][16], unsigned char y[16], const unsigned char* data,
                 std::size_t length);

}  // namespace qv::clmul
