#pragma once
// SHA-1 (FIPS 180-1 / RFC 3174).
#include <array>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kSha1Size = 20;

// Incremental form, for callers that hash data arriving in pieces.
class Sha1Context {
 public:
  Sha1Context() { reset(); }
  void reset();
  void update(std::string_view data);
  // The 20-byte digest; the context must be reset before reuse.
  Bytes finish();

 private:
  void compress(const unsigned char* block);

  std::array<std::uint32_t, 5> state_{};
  std::array<unsigned char, 64> buffer_{};
  std::uint64_t length_ = 0;
  bool hardware_ = false;  // SHA extensions, chosen at reset()
};

// 20-byte digest of data.
Bytes sha1Digest(std::string_view data);

}  // namespace qv
