#include "crypto/aes_gcm.h"

#include <cstring>

#include "crypto/ghash_clmul.h"

namespace qv {

namespace {

// 2^32 - 2 counter blocks are left for data after J0 and the first counter.
constexpr std::uint64_t kMaxPlaintext = (std::uint64_t{1} << 36) - 32;

inline const unsigned char* bytesOf(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

void storeBe64(unsigned char* p, std::uint64_t v) {
  for (int k = 7; k >= 0; --k, v >>= 8) p[k] = static_cast<unsigned char>(v);
}

// J0 = nonce || 00 00 00 01 for a 12-byte nonce.
void initialCounter(std::string_view nonce, unsigned char j0[16]) {
  std::memcpy(j0, nonce.data(), kGcmNonceSize);
  j0[12] = 0;
  j0[13] = 0;
  j0[14] = 0;
  j0[15] = 1;
}

}  // namespace

bool AesGcm::setKey(std::string_view key) {
  std::memset(h_, 0, sizeof h_);
  if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
    cipher_.configure(0);  // drops any earlier key
    return false;
  }
  cipher_.configure(static_cast<int>(key.size() * 8));
  cipher_.setEncryptKey(key, {});
  if (!cipher_.encryptBlock(h_, h_)) return false;
  if (cipher_.usesHardware()) clmul::ghashPowers(h_, hPowers_);
  return true;
}

void AesGcm::computeTag(const unsigned char j0[16], std::string_view aad, const unsigned char* ciphertext,
                        std::size_t length, unsigned char tag[16]) const {
  unsigned char lengths[16];
  storeBe64(lengths, std::uint64_t{aad.size()} * 8);
  storeBe64(lengths + 8, std::uint64_t{length} * 8);
  unsigned char s[16] = {};
  if (cipher_.usesHardware()) {
    clmul::ghashBlocks(hPowers_, s, bytesOf(aad), aad.size());
    clmul::ghashBlocks(hPowers_, s, ciphertext, length);
    clmul::ghashBlocks(hPowers_, s, lengths, sizeof lengths);
  } else {
    GhashState ghash;
    ghashInit(ghash, h_);
    ghashUpdate(ghash, bytesOf(aad), aad.size());
    ghashUpdate(ghash, ciphertext, length);
    ghashUpdate(ghash, lengths, sizeof lengths);
    ghashValue(ghash, s);
  }
  cipher_.encryptBlock(j0, tag);
  for (int k = 0; k < 16; ++k) tag[k] ^= s[k];
}

Bytes AesGcm::seal(std::string_view nonce12, std::string_view aad, std::string_view plaintext) const {
  if (!hasKey() || nonce12.size() != kGcmNonceSize || plaintext.size() > kMaxPlaintext) return {};
  unsigned char j0[16];
  initialCounter(nonce12, j0);
  Bytes out(plaintext.size() + kGcmTagSize, '\0');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  unsigned char counter[16];
  std::memcpy(counter, j0, 16);
  counter[15] = 2;
  cipher_.encryptCtr32(counter, bytesOf(plaintext), o, plaintext.size());
  computeTag(j0, aad, o, plaintext.size(), o + plaintext.size());
  return out;
}

std::optional<Bytes> AesGcm::open(std::string_view nonce12, std::string_view aad,
                                  std::string_view ciphertextAndTag) const {
  if (!hasKey() || nonce12.size() != kGcmNonceSize || ciphertextAndTag.size() < kGcmTagSize)
    return std::nullopt;
  const std::size_t length = ciphertextAndTag.size() - kGcmTagSize;
  if (length > kMaxPlaintext) return std::nullopt;
  unsigned char j0[16];
  initialCounter(nonce12, j0);
  const unsigned char* in = bytesOf(ciphertextAndTag);
  unsigned char tag[16];
  computeTag(j0, aad, in, length, tag);
  unsigned diff = 0;
  for (std::size_t k = 0; k < kGcmTagSize; ++k) diff |= static_cast<unsigned>(tag[k] ^ in[length + k]);
  if (diff != 0) return std::nullopt;
  Bytes out(length, '\0');
  unsigned char counter[16];
  std::memcpy(counter, j0, 16);
  counter[15] = 2;
  cipher_.encryptCtr32(counter, in, reinterpret_cast<unsigned char*>(out.data()), length);
  return out;
}

}  // namespace qv
