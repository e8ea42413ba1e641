#pragma once
// Poly1305 (RFC 8439 2.5): a one-time authenticator with a 32-byte key (r, s).
// Arithmetic in 26-bit limbs with 32x32->64 products, so it is the same code
// on every target; with AVX2 long runs take four blocks at a time (powers of
// r). No branch or index depends on the key or the message.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

class Poly1305 {
 public:
  explicit Poly1305(const unsigned char key[32]);
  ~Poly1305();
  Poly1305(const Poly1305&) = delete;
  Poly1305& operator=(const Poly1305&) = delete;

  void update(const unsigned char* data, std::size_t length);
  void update(std::string_view data);
  // Zero bytes up to the next multiple of 16 of everything fed so far, as
  // the AEAD's padding needs.
  void padToBlock();
  // The 16-byte tag; the object must not be used afterwards.
  void finish(unsigned char tag[16]);

 private:
  void blocks(const unsigned char* data, std::size_t length, std::uint32_t highBit);

  std::uint32_t r_[5];
  // r .. r^8 for the AVX2 path, chosen when the key is set.
  std::uint32_t powers_[8][5] = {};
  bool vector_ = false;
  std::uint32_t h_[5] = {0, 0, 0, 0, 0};
  std::uint32_t pad_[4];
  unsigned char buffer_[16];
  std::size_t buffered_ = 0;
};

// The tag of a message; empty when the key is not 32 bytes.
Bytes poly1305(std::string_view key, std::string_view message);

// Whether two equally long byte runs are equal, in time that depends only on the length.
bool equalConstantTime(const unsigned char* a, const unsigned char* b, std::size_t length);

}  // namespace qv
