// Differential tests of the TLS 1.2 primitives against OpenSSL's libcrypto on
// seeded random inputs; a failure reproduces with the printed seed
// (QV_TEST_SEED overrides it).
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <memory>
#include <random>

#include "crypto/aes_gcm.h"
#include "crypto/digest.h"
#include "crypto/hmac.h"
#include "crypto/rsa_verify.h"
#include "crypto/tls12_prf.h"
#include "crypto/x25519.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/seeded_random.h"

namespace qv {
namespace {

using test::hex;

using Random = test::SeededRandom<20261208ull>;
std::uint64_t seed() { return Random::seed(); }

const unsigned char* u8(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

struct HashPair {
  HashAlgorithm ours;
  const EVP_MD* (*theirs)();
  const char* name;
};

const HashPair kSha2[] = {{HashAlgorithm::kSha256, EVP_sha256, "SHA256"},
                          {HashAlgorithm::kSha384, EVP_sha384, "SHA384"},
                          {HashAlgorithm::kSha512, EVP_sha512, "SHA512"}};

// --- digests, HMAC, PRF --------------------------------------------------------------

TEST(OpenSslTls12Diff, Sha2AndHmacOverRandomLengths) {
  Random rng(21);
  for (int round = 0; round < 1500; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const Bytes data = rng.bytes(rng.below(10001));
    const Bytes key = rng.bytes(rng.below(300));
    for (const auto& h : kSha2) {
      unsigned char out[EVP_MAX_MD_SIZE];
      unsigned int n = 0;
      EVP_Digest(data.data(), data.size(), out, &n, h.theirs(), nullptr);
      ASSERT_EQ(hex(digestOf(h.ours, data)), hex(Bytes(reinterpret_cast<char*>(out), n))) << h.name;
      HMAC(h.theirs(), key.data(), static_cast<int>(key.size()), u8(data), data.size(), out, &n);
      ASSERT_EQ(hex(hmacOf(h.ours, key, data)), hex(Bytes(reinterpret_cast<char*>(out), n))) << h.name;
    }
    // The same data fed in random pieces.
    DigestContext context(kSha2[round % 3].ours);
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t piece = rng.below(300);
      context.update(std::string_view(data).substr(at, piece));
      at += piece;
    }
    ASSERT_EQ(context.finish(), digestOf(kSha2[round % 3].ours, data));
  }
}

Bytes opensslTls12Prf(const char* digestName, const Bytes& secret, const Bytes& labelAndSeed,
                      std::size_t length) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  std::string digest = digestName;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest.data(), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<char*>(secret.data()),
                                        secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, const_cast<char*>(labelAndSeed.data()),
                                        labelAndSeed.size()),
      OSSL_PARAM_construct_end(),
  };
  Bytes out(length, '\0');
  const int ok = EVP_KDF_derive(ctx, reinterpret_cast<unsigned char*>(out.data()), length, params);
  EVP_KDF_CTX_free(ctx);
  EVP_KDF_free(kdf);
  return ok == 1 ? out : Bytes();
}

TEST(OpenSslTls12Diff, Tls12PrfSha256AndSha384) {
  Random rng(22);
  int compared = 0;
  for (int round = 0; round < 2000; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const HashPair& h = kSha2[round % 2];
    const Bytes secret = rng.bytes(1 + rng.below(200));
    const Bytes label = rng.bytes(rng.below(20));
    const Bytes seedBytes = rng.bytes(rng.below(80));
    const std::size_t length = 1 + rng.below(300);
    const Bytes expected = opensslTls12Prf(h.name, secret, label + seedBytes, length);
    if (expected.empty()) continue;  // OpenSSL refuses some parameter shapes
    ++compared;
    ASSERT_EQ(hex(tls12Prf(h.ours, secret, label, seedBytes, static_cast<int>(length))), hex(expected));
  }
  EXPECT_GT(compared, 1800);
}

// --- AES-GCM -------------------------------------------------------------------------

const EVP_CIPHER* gcmCipher(std::size_t keySize) {
  return keySize == 16 ? EVP_aes_128_gcm() : keySize == 24 ? EVP_aes_192_gcm() : EVP_aes_256_gcm();
}

Bytes opensslSeal(const Bytes& key, const Bytes& nonce, const Bytes& aad, const Bytes& plaintext) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, gcmCipher(key.size()), nullptr, u8(key), u8(nonce));
  int n = 0;
  EVP_EncryptUpdate(ctx, nullptr, &n, u8(aad), static_cast<int>(aad.size()));
  Bytes out(plaintext.size() + 16, '\0');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  EVP_EncryptUpdate(ctx, o, &n, u8(plaintext), static_cast<int>(plaintext.size()));
  int m = 0;
  EVP_EncryptFinal_ex(ctx, o + n, &m);
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, o + plaintext.size());
  EVP_CIPHER_CTX_free(ctx);
  return out;
}

bool opensslOpen(const Bytes& key, const Bytes& nonce, const Bytes& aad, const Bytes& sealed,
                 Bytes& plaintext) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex(ctx, gcmCipher(key.size()), nullptr, u8(key), u8(nonce));
  int n = 0;
  EVP_DecryptUpdate(ctx, nullptr, &n, u8(aad), static_cast<int>(aad.size()));
  const std::size_t length = sealed.size() - 16;
  plaintext.assign(length + 16, '\0');
  auto* o = reinterpret_cast<unsigned char*>(plaintext.data());
  EVP_DecryptUpdate(ctx, o, &n, u8(sealed), static_cast<int>(length));
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, const_cast<char*>(sealed.data() + length));
  int m = 0;
  const bool ok = EVP_DecryptFinal_ex(ctx, o + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  plaintext.resize(length);
  return ok;
}

TEST(OpenSslTls12Diff, AesGcmSealAndOpen) {
  Random rng(23);
  for (int round = 0; round < 1500; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const std::size_t keySizes[] = {16, 32, 24};
    const Bytes key = rng.bytes(keySizes[round % 3]);
    const Bytes nonce = rng.bytes(12);
    const Bytes aad = rng.bytes(rng.below(4) == 0 ? rng.below(600) : 13);  // TLS uses 13
    const Bytes plaintext = rng.bytes(rng.below(10001));
    AesGcm gcm;
    ASSERT_TRUE(gcm.setKey(key));
    const Bytes sealed = gcm.seal(nonce, aad, plaintext);
    ASSERT_EQ(hex(sealed), hex(opensslSeal(key, nonce, aad, plaintext)));
    Bytes theirs;
    ASSERT_TRUE(opensslOpen(key, nonce, aad, sealed, theirs));
    const auto ours = gcm.open(nonce, aad, sealed);
    ASSERT_TRUE(ours.has_value());
    ASSERT_EQ(*ours, plaintext);
    Bytes flipped = sealed;
    const std::size_t at = rng.below(flipped.size());
    flipped[at] = static_cast<char>(flipped[at] ^ (1 << rng.below(8)));
    ASSERT_FALSE(gcm.open(nonce, aad, flipped).has_value()) << "flipped byte " << at;
    ASSERT_FALSE(opensslOpen(key, nonce, aad, flipped, theirs));
  }
}

// --- X25519 --------------------------------------------------------------------------

Bytes rawKey(EVP_PKEY* pkey, bool privatePart) {
  Bytes out(32, '\0');
  std::size_t n = out.size();
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  const int ok =
      privatePart ? EVP_PKEY_get_raw_private_key(pkey, o, &n) : EVP_PKEY_get_raw_public_key(pkey, o, &n);
  return ok == 1 && n == 32 ? out : Bytes();
}

// OpenSSL's shared secret, or empty when it refuses (all-zero result).
Bytes opensslDerive(EVP_PKEY* mine, const Bytes& peerPublic) {
  EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u8(peerPublic), peerPublic.size());
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(mine, nullptr);
  Bytes out(32, '\0');
  std::size_t n = out.size();
  const bool ok = EVP_PKEY_derive_init(ctx) == 1 && EVP_PKEY_derive_set_peer(ctx, peer) == 1 &&
                  EVP_PKEY_derive(ctx, reinterpret_cast<unsigned char*>(out.data()), &n) == 1;
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(peer);
  return ok ? out : Bytes();
}

TEST(OpenSslTls12Diff, X25519KeysAndSharedSecrets) {
  Random rng(24);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    EVP_PKEY* a = EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519");
    EVP_PKEY* b = EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519");
    const Bytes aPrivate = rawKey(a, true), bPublic = rawKey(b, false);
    ASSERT_EQ(hex(x25519Base(aPrivate)), hex(rawKey(a, false)));
    ASSERT_EQ(hex(x25519(aPrivate, bPublic)), hex(opensslDerive(a, bPublic)));
    // Arbitrary 32-byte peer values, top bit and non-canonical values included.
    const Bytes u = rng.bytes(32);
    const Bytes ours = x25519(aPrivate, u);
    const Bytes theirs = opensslDerive(a, u);
    if (theirs.empty()) {
      ASSERT_TRUE(isAllZero(ours));
    } else {
      ASSERT_EQ(hex(ours), hex(theirs));
    }
    EVP_PKEY_free(a);
    EVP_PKEY_free(b);
  }
}

// --- RSA signatures ------------------------------------------------------------------

struct SignedCase {
  RsaKey key;
  EVP_PKEY* pkey = nullptr;
};

Bytes bnBytes(EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  EVP_PKEY_get_bn_param(pkey, name, &bn);
  Bytes b(static_cast<std::size_t>(BN_num_bytes(bn)), '\0');
  BN_bn2bin(bn, reinterpret_cast<unsigned char*>(b.data()));
  BN_free(bn);
  return b;
}

// OpenSSL's signature over a digest; saltLength only for PSS.
Bytes opensslSign(EVP_PKEY* pkey, const EVP_MD* md, const Bytes& digest, bool pss, int saltLength) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, pss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING);
  EVP_PKEY_CTX_set_signature_md(ctx, md);
  if (pss) {
    EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, saltLength);
    EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, md);
  }
  std::size_t n = 0;
  EVP_PKEY_sign(ctx, nullptr, &n, u8(digest), digest.size());
  Bytes out(n, '\0');
  const int ok =
      EVP_PKEY_sign(ctx, reinterpret_cast<unsigned char*>(out.data()), &n, u8(digest), digest.size());
  EVP_PKEY_CTX_free(ctx);
  out.resize(n);
  return ok == 1 ? out : Bytes();
}

TEST(OpenSslTls12Diff, RsaPkcs1AndPssSignaturesFromFreshKeys) {
  Random rng(25);
  // 2049 bits: PSS's encoded message is then one byte shorter than the modulus.
  for (int bits : {2048, 2048, 2049, 3072}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " bits " << bits);
    EVP_PKEY* pkey = EVP_RSA_gen(static_cast<unsigned>(bits));
    ASSERT_NE(pkey, nullptr);
    RsaKey key;
    key.setPublicKey(bnBytes(pkey, OSSL_PKEY_PARAM_RSA_E), bnBytes(pkey, OSSL_PKEY_PARAM_RSA_N));
    const HashPair all[] = {{HashAlgorithm::kSha1, EVP_sha1, "SHA1"}, kSha2[0], kSha2[1], kSha2[2]};
    for (const auto& h : all) {
      for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(testing::Message() << h.name << " round " << round);
        const Bytes digest = digestOf(h.ours, rng.bytes(rng.below(500)));
        const Bytes pkcs1 = opensslSign(pkey, h.theirs(), digest, false, 0);
        const Bytes pss = opensslSign(pkey, h.theirs(), digest, true, RSA_PSS_SALTLEN_DIGEST);
        ASSERT_FALSE(pkcs1.empty());
        ASSERT_FALSE(pss.empty());
        EXPECT_TRUE(rsaVerifyPkcs1(key, h.ours, digest, pkcs1));
        EXPECT_TRUE(rsaVerifyPss(key, h.ours, digest, pss));
        EXPECT_FALSE(rsaVerifyPss(key, h.ours, digest, pkcs1));
        EXPECT_FALSE(rsaVerifyPkcs1(key, h.ours, digest, pss));
        Bytes otherDigest = digest;
        otherDigest[rng.below(otherDigest.size())] ^= 0x01;
        EXPECT_FALSE(rsaVerifyPkcs1(key, h.ours, otherDigest, pkcs1));
        EXPECT_FALSE(rsaVerifyPss(key, h.ours, otherDigest, pss));
        for (int flip = 0; flip < 4; ++flip) {
          Bytes a = pkcs1, b = pss;
          a[rng.below(a.size())] ^= static_cast<char>(1 << rng.below(8));
          b[rng.below(b.size())] ^= static_cast<char>(1 << rng.below(8));
          EXPECT_FALSE(rsaVerifyPkcs1(key, h.ours, digest, a));
          EXPECT_FALSE(rsaVerifyPss(key, h.ours, digest, b));
        }
        // Other salt lengths are valid PSS but not what TLS allows.
        EXPECT_FALSE(rsaVerifyPss(key, h.ours, digest, opensslSign(pkey, h.theirs(), digest, true, 0)));
        EXPECT_FALSE(
            rsaVerifyPss(key, h.ours, digest,
                         opensslSign(pkey, h.theirs(), digest, true, static_cast<int>(digest.size()) + 1)));
      }
    }
    EVP_PKEY_free(pkey);
  }
}

}  // namespace
}  // namespace qv
