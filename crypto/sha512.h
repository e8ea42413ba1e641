#pragma once
// SHA-512 and SHA-384 (FIPS 180-4): one compression function, different
// initial values and a shorter output for SHA-384.
#include <array>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kSha384Size = 48;
inline constexpr std::size_t kSha512Size = 64;

// Incremental form; sha384 selects the SHA-384 initial values and output.
class Sha512Context {
 public:
  explicit Sha512Context(bool sha384 = false) : sha384_(sha384) { reset(); }
  void reset();
  void update(std::string_view data);
  // The 64-byte (48 for SHA-384) digest; the context must be reset before reuse.
  Bytes finish();

 private:
  void compress(const unsigned char* block);

  std::array<std::uint64_t, 8> state_{};
  std::array<unsigned char, 128> buffer_{};
  std::uint64_t length_ = 0;
  bool sha384_;
};

class Sha384Context : public Sha512Context {
 public:
  Sha384Context() : Sha512Context(true) {}
};

// 48-byte digest of data.
Bytes sha384Digest(std::string_view data);
// 64-byte digest of data.
Bytes sha512Digest(std::string_view data);

}  // namespace qv
