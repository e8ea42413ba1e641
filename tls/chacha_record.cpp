#include "tls/chacha_record.h"

#include "tls/gcm_record.h"

namespace qv {

namespace {

Bytes additionalData(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                     std::size_t length) {
  Bytes aad = sequenceBytes(sequence);
  aad += static_cast<char>(type);
  aad.append(version.substr(0, 2));
  aad += uintToBytes(static_cast<std::uint32_t>(length), 2);
  return aad;
}

}  // namespace

bool ChaChaRecordCipher::SetKey(std::string_view key, std::string_view iv) {
  iv_.clear();
  if (key.size() != kChaChaKeySize || iv.size() != kChaChaNonceSize) {
    aead_ = ChaCha20Poly1305();
    return false;
  }
  iv_ = Bytes(iv);
  return aead_.setKey(key);
}

bool ChaChaRecordCipher::HasKey() const { return aead_.hasKey(); }

Bytes ChaChaRecordCipher::Nonce(std::uint64_t sequence) const {
  return xorBytes(iv_, Bytes(4, '\0') + sequenceBytes(sequence));
}

Bytes ChaChaRecordCipher::Seal(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                               std::string_view plaintext) const {
  if (!HasKey()) return {};
  return aead_.seal(Nonce(sequence), additionalData(sequence, type, version, plaintext.size()), plaintext);
}

std::optional<Bytes> ChaChaRecordCipher::Open(std::uint64_t sequence, std::uint8_t type,
                                              std::string_view version, std::string_view fragment) const {
  if (!HasKey() || fragment.size() < kChaChaRecordOverhead) return std::nullopt;
  return aead_.open(Nonce(sequence),
                    additionalData(sequence, type, version, fragment.size() - kChaChaRecordOverhead),
                    fragment);
}

}  // namespace qv
