#pragma once
// HMAC (RFC 2104) over MD5, SHA-1 and SHA-2; 64-byte block, 128 for SHA-384/512.
#include <string_view>

#include "crypto/digest.h"
#include "xml/byte_string.h"

namespace qv {

// 16 bytes. A key longer than 64 bytes is replaced by its digest first.
Bytes hmacMd5(std::string_view key, std::string_view data);
// 20 bytes. A key longer than 64 bytes is replaced by its digest first.
Bytes hmacSha1(std::string_view key, std::string_view data);
// 32, 48 and 64 bytes. A key longer than the block (64, 128, 128 bytes) is
// replaced by its digest first.
Bytes hmacSha256(std::string_view key, std::string_view data);
Bytes hmacSha384(std::string_view key, std::string_view data);
Bytes hmacSha512(std::string_view key, std::string_view data);
// HMAC with a run-time chosen hash function.
Bytes hmacOf(HashAlgorithm hash, std::string_view key, std::string_view data);

}  // namespace qv
