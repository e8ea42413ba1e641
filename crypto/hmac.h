#pragma once
// HMAC (RFC 2104) over MD5 and SHA-1, 64-byte block.
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

// 16 bytes. A key longer than 64 bytes is replaced by its digest first.
Bytes hmacMd5(std::string_view key, std::string_view data);
// 20 bytes. A key longer than 64 bytes is replaced by its digest first.
Bytes hmacSha1(std::string_view key, std::string_view data);

}  // namespace qv
