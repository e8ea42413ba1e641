#pragma once
// AES-GCM (NIST SP 800-38D) with 12-byte nonces only, as TLS 1.2 uses it
// (RFC 5288: 4-byte implicit salt + 8-byte explicit nonce), and a 16-byte tag.
#include <optional>
#include <string_view>

#include "crypto/aes.h"
#include "crypto/ghash.h"
#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kGcmNonceSize = 12;
inline constexpr std::size_t kGcmTagSize = 16;

class AesGcm {
 public:
  // 16, 24 or 32 bytes; false (and no key) for any other length.
  bool setKey(std::string_view key);
  bool hasKey() const { return cipher_.hasEncryptKey(); }

  // ciphertext || 16-byte tag; empty without a key, with a nonce that is not
  // 12 bytes, or a plaintext longer than GCM allows (2^36 - 32 bytes).
  Bytes seal(std::string_view nonce12, std::string_view aad, std::string_view plaintext) const;
  // The plaintext, or nullopt on a tag mismatch, an input shorter than the
  // tag, a nonce that is not 12 bytes, or no key. The tag is checked (in
  // constant time) before anything is decrypted.
  std::optional<Bytes> open(std::string_view nonce12, std::string_view aad,
                            std::string_view ciphertextAndTag) const;

 private:
  // E(K, J0) xor GHASH(aad, ciphertext, lengths).
  void computeTag(const unsigned char j0[16], std::string_view aad, const unsigned char* ciphertext,
                  std::size_t length, unsigned char tag[16]) const;

  AesContext cipher_;
  unsigned char h_[16] = {};
  // H^1..H^8 for the PCLMULQDQ GHASH, when the key runs on AES-NI.
  unsigned char hPowers_[8][16] = {};
};

}  // namespace qv
