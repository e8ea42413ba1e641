#pragma once
// AES-CBC records with HMAC-SHA1 and an explicit IV (RFC 5246 6.2.3.2).
// The contexts keep one CBC chain per direction: a random first block
// encrypted on that chain is the record's IV, and the receiver, decrypting
// on any chain, drops the first block.
#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/aes.h"
#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kCbcBlock = 16;
inline constexpr std::size_t kCbcMacLength = 20;

// IV || AES-CBC(plaintext || MAC || padding). randomBlock: 16 fresh random
// bytes. Empty when the context has no encryption key.
Bytes SealCbcRecord(AesContext& cipher, std::string_view macKey, std::uint64_t sequence, std::uint8_t type,
                    std::string_view version, std::string_view plaintext, std::string_view randomBlock);
// The plaintext, or nullopt when the length is not whole blocks with room
// for IV and MAC, or the padding or MAC is wrong (checked alike, so both
// failures take the same path).
std::optional<Bytes> OpenCbcRecord(AesContext& cipher, std::string_view macKey, std::uint64_t sequence,
                                   std::uint8_t type, std::string_view version, std::string_view fragment);

}  // namespace qv
