#pragma once
// crypto/chacha20_poly1305.h -- the AEAD of RFC 8439 (256-bit key, 12-byte nonce, 16-byte tag).
// Same shape as AesGcm so record code can hold either.
#include <optional>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kChaChaKeySize = 32;
inline constexpr std::size_t kChaChaNonceSize = 12;
inline constexpr std::size_t kPoly1305TagSize = 16;

class ChaCha20Poly1305 {
 public:
  ChaCha20Poly1305() = default;
  ChaCha20Poly1305(const ChaCha20Poly1305&) = default;
  ChaCha20Poly1305& operator=(const ChaCha20Poly1305&) = default;
  ~ChaCha20Poly1305();

  // 32 bytes; false (and no key) otherwise.
  bool setKey(std::string_view key);
  bool hasKey() const;
  // ciphertext || tag; empty without a key or with a nonce that is not 12 bytes
  // (or a plaintext past the 32-bit block counter, 256 GiB).
  Bytes seal(std::string_view nonce12, std::string_view aad, std::string_view plaintext) const;
  // plaintext, or nullopt on a tag mismatch (checked in constant time before
  // anything is decrypted), a short input, a bad nonce or no key.
  std::optional<Bytes> open(std::string_view nonce12, std::string_view aad,
                            std::string_view ciphertextAndTag) const;

  // The same on caller buffers, for record code that keeps its own: seal
  // writes length + 16 bytes to out; open checks the tag of the `length`
  // bytes at data (tag after them) and only then decrypts them in place.
  // False without a key or past the length limit (and on a mismatch).
  bool sealTo(const unsigned char nonce[kChaChaNonceSize], std::string_view aad,
              const unsigned char* plaintext, std::size_t length, unsigned char* out) const;
  bool openInPlace(const unsigned char nonce[kChaChaNonceSize], std::string_view aad, unsigned char* data,
                   std::size_t length) const;

 private:
  // Poly1305 keyed with block 0 over aad, ciphertext and their lengths.
  void computeTag(const unsigned char* nonce, std::string_view aad, const unsigned char* ciphertext,
                  std::size_t length, unsigned char tag[16]) const;

  unsigned char key_[kChaChaKeySize] = {};
  bool hasKey_ = false;
};

}  // namespace qv
// Also provide crypto/chacha20.h (block function + xor stream with a 32-bit
// counter) and crypto/poly1305.h (one-shot and incremental MAC) for the vectors.
