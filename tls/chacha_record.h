#pragma once
// ChaCha20-Poly1305 record protection for TLS 1.2 (RFC 7905): the nonce is
// the 12-byte IV from the key block XORed with the sequence number (padded
// to 12 bytes on the left), nothing of it is sent; additional data =
// sequence || type || version || plaintext length, as for GCM.
#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/chacha20_poly1305.h"
#include "xml/byte_string.h"

namespace qv {

inline constexpr std::size_t kChaChaRecordOverhead = 16;

class ChaChaRecordCipher {
 public:
  // key 32 bytes, iv 12 bytes; false (no key) otherwise.
  bool SetKey(std::string_view key, std::string_view iv);
  bool HasKey() const;
  // ciphertext || tag; empty without a key.
  Bytes Seal(std::uint64_t sequence, std::uint8_t type, std::string_view version,
             std::string_view plaintext) const;
  // The plaintext, or nullopt when the fragment is shorter than the tag, the
  // tag does not match, or there is no key.
  std::optional<Bytes> Open(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                            std::string_view fragment) const;
  // The same on the record's own buffer: on success it holds the plaintext.
  bool OpenInPlace(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                   Bytes& fragment) const;

 private:
  void Nonce(std::uint64_t sequence, unsigned char nonce[kChaChaNonceSize]) const;

  ChaCha20Poly1305 aead_;
  unsigned char iv_[kChaChaNonceSize] = {};
};

}  // namespace qv
