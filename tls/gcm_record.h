#pragma once
// AES-GCM record protection (RFC 5288, RFC 5246 6.2.3.3): nonce = 4-byte
// implicit salt from the key block + 8-byte explicit part sent in front of
// each record (the sequence number, so it never repeats under one key);
// additional data = sequence || type || version || plaintext length.
#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/aes_gcm.h"
#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kGcmExplicitNonceSize = 8;
// Explicit nonce and tag around every record's ciphertext.
inline constexpr std::size_t kGcmRecordOverhead = kGcmExplicitNonceSize + kGcmTagSize;

// Eight bytes, big-endian.
Bytes sequenceBytes(std::uint64_t sequence);

class GcmRecordCipher {
 public:
  // key 16 or 32 bytes, salt 4 bytes; false (no key) otherwise.
  bool SetKey(std::string_view key, std::string_view salt);
  bool HasKey() const { return aead_.hasKey(); }
  // explicit nonce || ciphertext || tag; empty without a key.
  Bytes Seal(std::uint64_t sequence, std::uint8_t type, std::string_view version,
             std::string_view plaintext) const;
  // The plaintext, or nullopt when the fragment is shorter than nonce and
  // tag, the tag does not match, or there is no key.
  std::optional<Bytes> Open(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                            std::string_view fragment) const;

 private:
  AesGcm aead_;
  Bytes salt_;
};

}  // namespace qv
