#pragma once
// SHA-256 (FIPS 180-4).
#include <array>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kSha256Size = 32;

// Incremental form, for callers that hash data arriving in pieces (the TLS
// handshake transcript).
class Sha256Context {
 public:
  Sha256Context() { reset(); }
  void reset();
  void update(std::string_view data);
  // The 32-byte digest; the context must be reset before reuse.
  Bytes finish();

 private:
  void compress(const unsigned char* block);

  std::array<std::uint32_t, 8> state_{};
  std::array<unsigned char, 64> buffer_{};
  std::uint64_t length_ = 0;
  bool hardware_ = false;  // SHA extensions, chosen at reset()
};

// 32-byte digest of data.
Bytes sha256Digest(std::string_view data);

}  // namespace qv
