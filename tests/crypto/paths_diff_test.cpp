// Both AES/SHA paths against OpenSSL's libcrypto and against each other:
// every length 0-300 at unaligned offsets, seeded random inputs beyond.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "crypto/aes.h"
#include "crypto/aes_bitsliced.h"
#include "crypto/aes_gcm.h"
#include "crypto/aes_tables.h"
#include "crypto/hmac.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/seeded_random.h"

namespace qv {
namespace {

using test::hex;

using Random = test::SeededRandom<20261209ull>;

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

const EVP_CIPHER* cbcCipher(std::size_t keyBytes) {
  return keyBytes == 16 ? EVP_aes_128_cbc() : keyBytes == 24 ? EVP_aes_192_cbc() : EVP_aes_256_cbc();
}
const EVP_CIPHER* gcmCipher(std::size_t keyBytes) {
  return keyBytes == 16 ? EVP_aes_128_gcm() : keyBytes == 24 ? EVP_aes_192_gcm() : EVP_aes_256_gcm();
}

Bytes evpCbc(bool encrypt, const Bytes& key, const Bytes& iv, std::string_view data) {
  CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  EVP_CipherInit_ex(ctx.get(), cbcCipher(key.size()), nullptr,
                    reinterpret_cast<const unsigned char*>(key.data()),
                    reinterpret_cast<const unsigned char*>(iv.data()), encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  Bytes out(data.size() + 16, '\0');
  int n = 0;
  EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                   reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

Bytes evpGcmSeal(const Bytes& key, const Bytes& nonce, std::string_view aad, std::string_view plain) {
  CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  EVP_EncryptInit_ex(ctx.get(), gcmCipher(key.size()), nullptr,
                     reinterpret_cast<const unsigned char*>(key.data()),
                     reinterpret_cast<const unsigned char*>(nonce.data()));
  int n = 0;
  EVP_EncryptUpdate(ctx.get(), nullptr, &n, reinterpret_cast<const unsigned char*>(aad.data()),
                    static_cast<int>(aad.size()));
  Bytes out(plain.size() + 16, '\0');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  EVP_EncryptUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char*>(plain.data()),
                    static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(ctx.get(), o + n, &n);
  EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, o + plain.size());
  return out;
}

Bytes evpDigest(const EVP_MD* md, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out, &n, md, nullptr);
  return Bytes(reinterpret_cast<char*>(out), n);
}

Bytes evpHmac(const EVP_MD* md, std::string_view key, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  HMAC(md, key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
       data.size(), out, &n);
  return Bytes(reinterpret_cast<char*>(out), n);
}

// A view of length bytes starting offset bytes into a fresh buffer, so the
// data is misaligned by offset.
std::string_view misaligned(Bytes& storage, const Bytes& data, std::size_t offset) {
  storage.assign(offset, '\x5a');
  storage += data;
  return std::string_view(storage).substr(offset);
}

class PathsDiff : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(PathsDiff);

TEST_P(PathsDiff, AesCbcEveryLengthAndOffset) {
  Random rng(11);
  Bytes storage;
  for (std::size_t keyBytes : {16, 24, 32}) {
    const Bytes key = rng.bytes(keyBytes), iv = rng.bytes(16);
    for (std::size_t length = 0; length <= 300; ++length) {
      SCOPED_TRACE(testing::Message() << "key " << keyBytes << " length " << length);
      const Bytes plain = rng.bytes(length);
      const std::string_view in = misaligned(storage, plain, length % 8);
      const std::size_t whole = length / 16 * 16;  // a partial block is dropped
      AesContext enc, dec;
      enc.configure(static_cast<int>(keyBytes * 8));
      dec.configure(static_cast<int>(keyBytes * 8));
      enc.setEncryptKey(key, iv);
      dec.setDecryptKey(key, iv);
      const Bytes cipher = enc.encryptCbc(in);
      ASSERT_EQ(hex(cipher), hex(evpCbc(true, key, iv, plain.substr(0, whole))));
      Bytes storage2;
      ASSERT_EQ(hex(dec.decryptCbc(misaligned(storage2, cipher, 3))), hex(plain.substr(0, whole)));
      ASSERT_EQ(enc.chain(), whole == 0 ? iv : cipher.substr(whole - 16));
      ASSERT_EQ(dec.chain(), enc.chain());
    }
  }
}

// A message encrypted in two calls, split at every block count around the
// four-block groups the portable CBC encryption gathers, equals one call
// (and OpenSSL's); encrypt1 and CTR share the shifted round keys.
TEST_P(PathsDiff, AesCbcEncryptionContinuesAcrossCalls) {
  Random rng(15);
  for (std::size_t keyBytes : {16, 24, 32}) {
    const Bytes key = rng.bytes(keyBytes), iv = rng.bytes(16), plain = rng.bytes(16 * 13);
    const Bytes expected = evpCbc(true, key, iv, plain);
    for (std::size_t split : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 9u, 12u, 13u}) {
      SCOPED_TRACE(testing::Message() << "key " << keyBytes << " split " << split);
      AesContext enc;
      enc.configure(static_cast<int>(keyBytes * 8));
      enc.setEncryptKey(key, iv);
      const Bytes head = enc.encryptCbc(std::string_view(plain).substr(0, 16 * split));
      const Bytes tail = enc.encryptCbc(std::string_view(plain).substr(16 * split));
      ASSERT_EQ(hex(head + tail), hex(expected));
    }
    AesContext single;
    single.configure(static_cast<int>(keyBytes * 8));
    single.setEncryptKey(key, iv);
    const Bytes block = xorBytes(plain.substr(0, 16), iv);
    EXPECT_EQ(hex(single.encryptBlock(block)), hex(expected.substr(0, 16))) << keyBytes;
  }
}

TEST_P(PathsDiff, AesGcmEveryLengthAndOffset) {
  Random rng(12);
  Bytes storage, aadStorage;
  for (std::size_t keyBytes : {16, 32}) {
    const Bytes key = rng.bytes(keyBytes);
    AesGcm gcm;
    ASSERT_TRUE(gcm.setKey(key));
    for (std::size_t length = 0; length <= 300; ++length) {
      SCOPED_TRACE(testing::Message() << "key " << keyBytes << " length " << length);
      const Bytes nonce = rng.bytes(12), plain = rng.bytes(length);
      const Bytes aad = rng.bytes(length % 3 == 0 ? 13 : (length * 7) % 150);
      const Bytes expected = evpGcmSeal(key, nonce, aad, plain);
      const Bytes sealed =
          gcm.seal(nonce, misaligned(aadStorage, aad, 1), misaligned(storage, plain, length % 16));
      ASSERT_EQ(hex(sealed), hex(expected));
      const auto opened = gcm.open(nonce, aad, misaligned(storage, expected, 5));
      ASSERT_TRUE(opened.has_value());
      ASSERT_EQ(*opened, plain);
      Bytes flipped = expected;
      flipped[rng.below(flipped.size())] ^= 0x01;
      ASSERT_FALSE(gcm.open(nonce, aad, flipped).has_value());
    }
  }
}

TEST_P(PathsDiff, DigestsAndHmacsEveryLengthAndOffset) {
  Random rng(13);
  Bytes storage;
  for (std::size_t length = 0; length <= 300; ++length) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    const Bytes data = rng.bytes(length);
    const Bytes key = rng.bytes(length % 100);
    const std::string_view in = misaligned(storage, data, length % 16);
    ASSERT_EQ(hex(sha1Digest(in)), hex(evpDigest(EVP_sha1(), data)));
    ASSERT_EQ(hex(sha256Digest(in)), hex(evpDigest(EVP_sha256(), data)));
    ASSERT_EQ(hex(hmacSha1(key, in)), hex(evpHmac(EVP_sha1(), key, data)));
    ASSERT_EQ(hex(hmacSha256(key, in)), hex(evpHmac(EVP_sha256(), key, data)));
  }
  // Long inputs fed in random pieces: the hardware path takes whole blocks
  // straight from the input and must pick up the buffered rest correctly.
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << Random::seed() << " round " << round);
    const Bytes data = rng.bytes(rng.below(5000));
    Sha1Context sha1;
    Sha256Context sha256;
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t take = std::min(data.size() - at, rng.below(300));
      const std::string_view piece = misaligned(storage, data.substr(at, take), take % 7);
      sha1.update(piece);
      sha256.update(piece);
      at += take;
    }
    ASSERT_EQ(hex(sha1.finish()), hex(evpDigest(EVP_sha1(), data)));
    ASSERT_EQ(hex(sha256.finish()), hex(evpDigest(EVP_sha256(), data)));
  }
}

// A counter block that wraps within a batch of blocks in flight: only the
// last four bytes count, modulo 2^32, as GCM defines it.
TEST_P(PathsDiff, Ctr32WrapsInsideABatch) {
  Random rng(14);
  AesContext c;
  c.setEncryptKey(rng.bytes(16), "");
  const Bytes data = rng.bytes(16 * 20 + 5);
  unsigned char counter[16];
  const Bytes start = rng.bytes(12) + Bytes("\xff\xff\xff\xfa", 4);
  std::memcpy(counter, start.data(), 16);
  Bytes out(data.size(), '\0');
  ASSERT_TRUE(c.encryptCtr32(counter, reinterpret_cast<const unsigned char*>(data.data()),
                             reinterpret_cast<unsigned char*>(out.data()), data.size()));
  Bytes expected;
  for (std::uint32_t k = 0; k < 21; ++k) {
    Bytes block = start;
    const std::uint32_t n = 0xfffffffau + k;
    for (int b = 0; b < 4; ++b)
      block[static_cast<std::size_t>(12 + b)] = static_cast<char>(n >> (24 - 8 * b));
    expected += c.encryptBlock(block);
  }
  EXPECT_EQ(hex(out), hex(xorBytes(data, expected.substr(0, data.size()))));
  EXPECT_EQ(hex(Bytes(reinterpret_cast<char*>(counter) + 12, 4)), "0000000f");
}

// The portable S-box circuit for every byte against the table built from
// GF(2^8) inverses.
TEST(BitslicedAes, SboxCircuitMatchesEveryByte) {
  const AesTables& t = aesTables();
  for (std::uint32_t x = 0; x < 256; ++x) {
    const std::uint32_t word = x | ((255 - x) << 8) | (((x * 7) & 0xFF) << 16) | (((x + 91) & 0xFF) << 24);
    const std::uint32_t expected = t.sbox[x] | (std::uint32_t{t.sbox[255 - x]} << 8) |
                                   (std::uint32_t{t.sbox[(x * 7) & 0xFF]} << 16) |
                                   (std::uint32_t{t.sbox[(x + 91) & 0xFF]} << 24);
    ASSERT_EQ(bitsliced::subWord(word), expected) << x;
  }
}

// Hardware and portable contexts side by side on the same long streams,
// split at random points; ciphertext from one must decrypt on the other.
TEST(CryptoPaths, HardwareAndPortableAgreeOnLongStreams) {
  if (!aesHardwareActive()) GTEST_SKIP() << "no AES-NI in use";
  Random rng(15);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << Random::seed() << " round " << round);
    const std::size_t keyBytes = 16 + 8 * rng.below(3);
    const Bytes key = rng.bytes(keyBytes), iv = rng.bytes(16), nonce = rng.bytes(12);
    const Bytes data = rng.bytes(16 * rng.below(600));
    AesContext hwEnc, swDec;
    AesGcm hwGcm, swGcm;
    hwEnc.configure(static_cast<int>(keyBytes * 8));
    swDec.configure(static_cast<int>(keyBytes * 8));
    hwEnc.setEncryptKey(key, iv);
    ASSERT_TRUE(hwGcm.setKey(key));
    forcePortableCryptoForTesting(true);
    swDec.setDecryptKey(key, iv);
    ASSERT_TRUE(swGcm.setKey(key));
    forcePortableCryptoForTesting(false);
    ASSERT_TRUE(hwEnc.usesHardware());
    ASSERT_FALSE(swDec.usesHardware());
    Bytes cipher, plain;
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t take = std::min(data.size() - at, 16 * rng.below(40));
      cipher += hwEnc.encryptCbc(data.substr(at, take));
      at += take;
    }
    for (std::size_t at = 0; at < cipher.size();) {
      const std::size_t take = std::min(cipher.size() - at, 16 * rng.below(40));
      plain += swDec.decryptCbc(cipher.substr(at, take));
      at += take;
    }
    ASSERT_EQ(plain, data);
    const Bytes aad = rng.bytes(rng.below(64));
    const Bytes sealed = hwGcm.seal(nonce, aad, data.substr(0, data.size() - rng.below(16)));
    ASSERT_EQ(sealed, swGcm.seal(nonce, aad, data.substr(0, sealed.size() - 16)));
    ASSERT_TRUE(swGcm.open(nonce, aad, sealed).has_value());
  }
}

}  // namespace
}  // namespace qv
