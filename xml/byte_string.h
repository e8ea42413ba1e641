#pragma once
// Byte strings: std::string used as a byte buffer (may hold zero bytes).
// Small conversions shared by the XML reader, the TLS engine and the crypto code.
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

using Bytes = std::string;

// Big-endian value of the bytes; only the last four bytes of a longer string remain.
std::uint32_t bytesToUInt(std::string_view bytes);
// n bytes holding value big-endian (zero-extended past 4); n <= 0 gives an empty string.
Bytes uintToBytes(std::uint32_t value, int n);
// Lower-case hexadecimal text, two characters per byte.
std::string hexEncode(std::string_view bytes);
// Copy with only 'A'..'Z' lowered.
std::string toLowerAscii(std::string_view text);
// As long as the shorter input; byte k is a[k] ^ b[k].
Bytes xorBytes(std::string_view a, std::string_view b);
// n bytes from the secure random source; n <= 0 gives an empty string.
Bytes randomBytes(int n);
// The input plus one as a big-endian unsigned number (wraps to all zero).
Bytes incrementCounter(std::string_view counter);

}  // namespace qv
