#include "crypto/chacha20_poly1305.h"

#include <cstdint>
#include <cstring>

#include "crypto/chacha20.h"
#include "crypto/poly1305.h"

namespace qv {

namespace {

// RFC 8439 2.8: the block counter starts at 1 and is 32 bits wide.
constexpr std::uint64_t kMaxPlaintext = (std::uint64_t{1} << 32) * 64 - 64;

const unsigned char* bytesOf(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

void appendLe64(unsigned char out[8], std::uint64_t v) {
  for (int k = 0; k < 8; ++k) out[k] = static_cast<unsigned char>(v >> (8 * k));
}

}  // namespace

ChaCha20Poly1305::~ChaCha20Poly1305() {
  volatile unsigned char* v = key_;
  for (std::size_t k = 0; k < sizeof key_; ++k) v[k] = 0;
}

bool ChaCha20Poly1305::setKey(std::string_view key) {
  hasKey_ = key.size() == kChaChaKeySize;
  if (hasKey_) {
    std::memcpy(key_, key.data(), kChaChaKeySize);
  } else {
    std::memset(key_, 0, sizeof key_);
  }
  return hasKey_;
}

bool ChaCha20Poly1305::hasKey() const { return hasKey_; }

void ChaCha20Poly1305::computeTag(const unsigned char* nonce, std::string_view aad,
                                  const unsigned char* ciphertext, std::size_t length,
                                  unsigned char tag[16]) const {
  unsigned char block0[64];
  chacha20Block(key_, 0, nonce, block0);
  Poly1305 mac(block0);
  std::memset(block0, 0, sizeof block0);
  mac.update(aad);
  mac.padToBlock();
  mac.update(ciphertext, length);
  mac.padToBlock();
  unsigned char lengths[16];
  appendLe64(lengths, aad.size());
  appendLe64(lengths + 8, length);
  mac.update(lengths, sizeof lengths);
  mac.finish(tag);
}

bool ChaCha20Poly1305::sealTo(const unsigned char nonce[kChaChaNonceSize], std::string_view aad,
                              const unsigned char* plaintext, std::size_t length, unsigned char* out) const {
  if (!hasKey_ || length > kMaxPlaintext) return false;
  chacha20Xor(key_, 1, nonce, plaintext, out, length);
  computeTag(nonce, aad, out, length, out + length);
  return true;
}

bool ChaCha20Poly1305::openInPlace(const unsigned char nonce[kChaChaNonceSize], std::string_view aad,
                                   unsigned char* data, std::size_t length) const {
  if (!hasKey_ || length > kMaxPlaintext) return false;
  unsigned char tag[kPoly1305TagSize];
  computeTag(nonce, aad, data, length, tag);
  if (!equalConstantTime(tag, data + length, kPoly1305TagSize)) return false;
  chacha20Xor(key_, 1, nonce, data, data, length);
  return true;
}

Bytes ChaCha20Poly1305::seal(std::string_view nonce12, std::string_view aad,
                             std::string_view plaintext) const {
  if (!hasKey_ || nonce12.size() != kChaChaNonceSize || plaintext.size() > kMaxPlaintext) return {};
  Bytes out(plaintext.size() + kPoly1305TagSize, '\0');
  sealTo(bytesOf(nonce12), aad, bytesOf(plaintext), plaintext.size(),
         reinterpret_cast<unsigned char*>(out.data()));
  return out;
}

std::optional<Bytes> ChaCha20Poly1305::open(std::string_view nonce12, std::string_view aad,
                                            std::string_view ciphertextAndTag) const {
  if (!hasKey_ || nonce12.size() != kChaChaNonceSize || ciphertextAndTag.size() < kPoly1305TagSize)
    return std::nullopt;
  const std::size_t length = ciphertextAndTag.size() - kPoly1305TagSize;
  if (length > kMaxPlaintext) return std::nullopt;
  Bytes data(ciphertextAndTag);
  if (!openInPlace(bytesOf(nonce12), aad, reinterpret_cast<unsigned char*>(data.data()), length))
    return std::nullopt;
  data.resize(length);
  return data;
}

}  // namespace qv
