#pragma once
// MD5 (RFC 1321).
#include <array>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kMd5Size = 16;

// Incremental form, for callers that hash data arriving in pieces.
class Md5Context {
 public:
  Md5Context() { reset(); }
  void reset();
  void update(std::string_view data);
  // The 16-byte digest; the context must be reset before reuse.
  Bytes finish();

 private:
  void compress(const unsigned char* block);

  std::array<std::uint32_t, 4> state_{};
  std::array<unsigned char, 64> buffer_{};
  std::uint64_t length_ = 0;
};

// 16-byte digest of data.
Bytes md5Digest(std::string_view data);

}  // namespace qv
