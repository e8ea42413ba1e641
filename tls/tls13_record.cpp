#include "tls/tls13_record.h"

#include "tls/tls_protocol.h"

namespace qv {

bool Tls13RecordCipher::SetKey(Tls13Aead aead, std::string_view key, std::string_view iv) {
  Clear();
  if (iv.size() != kGcmNonceSize) return false;
  aead_ = aead;
  const bool ok = aead == Tls13Aead::kChaCha20Poly1305 ? chacha_.setKey(key) : gcm_.setKey(key);
  if (!ok) return false;
  iv_ = Bytes(iv);
  keyed_ = true;
  return true;
}

void Tls13RecordCipher::Clear() {
  gcm_ = AesGcm();
  chacha_ = ChaCha20Poly1305();
  iv_.clear();
  sequence_ = 0;
  keyed_ = false;
}

Bytes Tls13RecordCipher::Nonce() const {
  Bytes nonce = iv_;
  std::uint64_t sequence = sequence_;
  for (std::size_t k = nonce.size(); k-- > nonce.size() - 8; sequence >>= 8) {
    nonce[k] = static_cast<char>(static_cast<unsigned char>(nonce[k]) ^ (sequence & 0xFF));
  }
  return nonce;
}

Bytes Tls13RecordCipher::Seal(std::uint8_t type, std::string_view content) {
  if (!keyed_) return {};
  Bytes inner(content);
  inner += static_cast<char>(type);
  const std::size_t length = inner.size() + kGcmTagSize;
  Bytes aad(1, static_cast<char>(kContentApplicationData));
  aad += versionBytes(kVersionTls12);
  aad += uintToBytes(static_cast<std::uint32_t>(length), 2);
  const Bytes nonce = Nonce();
  Bytes sealed =
      aead_ == Tls13Aead::kChaCha20Poly1305 ? chacha_.seal(nonce, aad, inner) : gcm_.seal(nonce, aad, inner);
  if (!sealed.empty()) ++sequence_;
  return sealed;
}

std::optional<Tls13Inner> Tls13RecordCipher::Open(std::string_view header, std::string_view fragment) {
  if (!keyed_ || fragment.size() < kGcmTagSize + 1) return std::nullopt;
  const Bytes nonce = Nonce();
  std::optional<Bytes> inner = aead_ == Tls13Aead::kChaCha20Poly1305 ? chacha_.open(nonce, header, fragment)
                                                                     : gcm_.open(nonce, header, fragment);
  if (!inner) return std::nullopt;
  ++sequence_;
  // Padding is zeros after the type byte; the last non-zero byte is the type.
  std::size_t end = inner->size();
  while (end > 0 && (*inner)[end - 1] == '\0') --end;
  if (end == 0) return std::nullopt;
  Tls13Inner result;
  result.type = static_cast<std::uint8_t>((*inner)[end - 1]);
  inner->resize(end - 1);
  result.content = std::move(*inner);
  return result;
}

}  // namespace qv
