#pragma once
// TLS 1.3 record protection (RFC 8446 5.2-5.5): the per-record nonce is the
// IV xor the sequence number, the additional data is the record header, and
// the real content type travels inside the encryption after the content,
// followed by optional zero padding.
#include <cstdint>
#include <optional>
#include <string_view>

#include "crypto/aes_gcm.h"
#include "crypto/chacha20_poly1305.h"
#include "tls/tls13_key_schedule.h"
#include "xml/byte_string.h"

namespace qv {

// Ciphertext of one record may exceed 2^14 by at most this much.
inline constexpr std::size_t kTls13MaxExpansion = 256;
// Records sealed under one key before this client changes it (AES-GCM's
// safety margin of RFC 8446 5.5, applied to every suite).
inline constexpr std::uint64_t kTls13RecordsPerKey = std::uint64_t{1} << 24;

struct Tls13Inner {
  std::uint8_t type = 0;
  Bytes content;
};

class Tls13RecordCipher {
 public:
  // Installs a key and IV (sequence back to 0); false (and no key) for
  // lengths that do not fit the AEAD.
  bool SetKey(Tls13Aead aead, std::string_view key, std::string_view iv);
  bool HasKey() const { return keyed_; }
  void Clear();
  std::uint64_t Sequence() const { return sequence_; }
  // The encrypted record body for content of `type`; empty without a key.
  Bytes Seal(std::uint8_t type, std::string_view content);
  // Type and content of one protected record (header = its five bytes);
  // nothing when the tag does not match, there is no key, or the inner
  // plaintext holds no content type.
  std::optional<Tls13Inner> Open(std::string_view header, std::string_view fragment);

 private:
  friend class TlsConnectionTestPeer;
  Bytes Nonce() const;

  Tls13Aead aead_ = Tls13Aead::kAes128Gcm;
  AesGcm gcm_;
  ChaCha20Poly1305 chacha_;
  Bytes iv_;
  std::uint64_t sequence_ = 0;
  bool keyed_ = false;
};

}  // namespace qv
