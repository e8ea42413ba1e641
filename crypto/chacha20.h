#pragma once
// ChaCha20 (RFC 8439 2.3-2.4): 256-bit key, 96-bit nonce, 32-bit block counter.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

// The 64-byte key stream block number `counter`.
void chacha20Block(const unsigned char key[32], std::uint32_t counter, const unsigned char nonce[12],
                   unsigned char out[64]);
// out = in xor the key stream from block `counter` on; in and out may be the
// same buffer. The counter wraps after 2^32 blocks, so callers keep a message
// under 256 GiB (the AEAD refuses longer ones).
void chacha20Xor(const unsigned char key[32], std::uint32_t counter, const unsigned char nonce[12],
                 const unsigned char* in, unsigned char* out, std::size_t length);
// The same over byte strings; empty when the key is not 32 or the nonce not 12 bytes.
Bytes chacha20(std::string_view key, std::uint32_t counter, std::string_view nonce, std::string_view data);

}  // namespace qv
