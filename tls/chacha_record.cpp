#include "tls/chacha_record.h"

#include <cstring>

namespace qv {

namespace {

// sequence || type || version || length, on the stack: a record costs no
// allocation beyond its own output.
struct AdditionalData {
  unsigned char bytes[13];
  std::string_view view() const { return {reinterpret_cast<const char*>(bytes), sizeof bytes}; }
};

AdditionalData additionalData(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                              std::size_t length) {
  AdditionalData aad{};
  for (int k = 7; k >= 0; --k, sequence >>= 8) aad.bytes[k] = static_cast<unsigned char>(sequence);
  aad.bytes[8] = type;
  for (std::size_t k = 0; k < 2 && k < version.size(); ++k)
    aad.bytes[9 + k] = static_cast<unsigned char>(version[k]);
  aad.bytes[11] = static_cast<unsigned char>(length >> 8);
  aad.bytes[12] = static_cast<unsigned char>(length);
  return aad;
}

}  // namespace

bool ChaChaRecordCipher::SetKey(std::string_view key, std::string_view iv) {
  std::memset(iv_, 0, sizeof iv_);
  if (key.size() != kChaChaKeySize || iv.size() != kChaChaNonceSize) {
    aead_ = ChaCha20Poly1305();
    return false;
  }
  std::memcpy(iv_, iv.data(), sizeof iv_);
  return aead_.setKey(key);
}

bool ChaChaRecordCipher::HasKey() const { return aead_.hasKey(); }

void ChaChaRecordCipher::Nonce(std::uint64_t sequence, unsigned char nonce[kChaChaNonceSize]) const {
  std::memcpy(nonce, iv_, sizeof iv_);
  for (int k = 11; k >= 4; --k, sequence >>= 8) nonce[k] ^= static_cast<unsigned char>(sequence);
}

Bytes ChaChaRecordCipher::Seal(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                               std::string_view plaintext) const {
  if (!HasKey()) return {};
  unsigned char nonce[kChaChaNonceSize];
  Nonce(sequence, nonce);
  Bytes out(plaintext.size() + kChaChaRecordOverhead, '\0');
  if (!aead_.sealTo(nonce, additionalData(sequence, type, version, plaintext.size()).view(),
                    reinterpret_cast<const unsigned char*>(plaintext.data()), plaintext.size(),
                    reinterpret_cast<unsigned char*>(out.data())))
    return {};
  return out;
}

std::optional<Bytes> ChaChaRecordCipher::Open(std::uint64_t sequence, std::uint8_t type,
                                              std::string_view version, std::string_view fragment) const {
  Bytes data(fragment);
  if (!OpenInPlace(sequence, type, version, data)) return std::nullopt;
  return data;
}

bool ChaChaRecordCipher::OpenInPlace(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                                     Bytes& fragment) const {
  if (!HasKey() || fragment.size() < kChaChaRecordOverhead) return false;
  const std::size_t length = fragment.size() - kChaChaRecordOverhead;
  unsigned char nonce[kChaChaNonceSize];
  Nonce(sequence, nonce);
  if (!aead_.openInPlace(nonce, additionalData(sequence, type, version, length).view(),
                         reinterpret_cast<unsigned char*>(fragment.data()), length))
    return false;
  fragment.resize(length);
  return true;
}

}  // namespace qv
