// Differential tests: our primitives against OpenSSL's libcrypto on the same
// seeded random inputs, so a failure reproduces with the printed seed.
// The raw RSA calls are the simplest no-padding oracle; their deprecation does not matter here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/core_names.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "crypto/aes.h"
#include "crypto/big_int.h"
#include "crypto/hmac.h"
#include "crypto/md5.h"
#include "crypto/prf.h"
#include "crypto/rc4.h"
#include "crypto/rsa.h"
#include "crypto/sha1.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/seeded_random.h"

namespace qv {
namespace {

using test::hex;

using Random = test::SeededRandom<20261208ull>;
std::uint64_t seed() { return Random::seed(); }

// --- ciphers -----------------------------------------------------------------

Bytes evpUpdate(EVP_CIPHER_CTX* ctx, const Bytes& data) {
  Bytes out(data.size() + 32, '\0');
  int n = 0;
  EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n,
                   reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

TEST(OpenSslDiff, AesCbcMultiCallChains) {
  Random rng(1);
  for (int bits : {128, 256}) {
    const EVP_CIPHER* cipher = bits == 128 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
    for (int round = 0; round < 1000; ++round) {
      SCOPED_TRACE(testing::Message() << "seed " << seed() << " bits " << bits << " round " << round);
      const Bytes key = rng.bytes(static_cast<std::size_t>(bits / 8));
      const Bytes iv = rng.bytes(16);
      std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> enc(EVP_CIPHER_CTX_new(),
                                                                          EVP_CIPHER_CTX_free);
      std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> dec(EVP_CIPHER_CTX_new(),
                                                                          EVP_CIPHER_CTX_free);
      auto k = reinterpret_cast<const unsigned char*>(key.data());
      auto v = reinterpret_cast<const unsigned char*>(iv.data());
      EVP_CipherInit_ex(enc.get(), cipher, nullptr, k, v, 1);
      EVP_CipherInit_ex(dec.get(), cipher, nullptr, k, v, 0);
      EVP_CIPHER_CTX_set_padding(enc.get(), 0);
      EVP_CIPHER_CTX_set_padding(dec.get(), 0);
      AesContext ours, oursDec;
      ours.configure(bits);
      oursDec.configure(bits);
      ours.setEncryptKey(key, iv);
      oursDec.setDecryptKey(key, iv);
      // Several records on one chain, each a whole number of blocks.
      const int calls = 1 + static_cast<int>(rng.below(6));
      for (int c = 0; c < calls; ++c) {
        const Bytes plain = rng.bytes(16 * rng.below(70));
        const Bytes expected = evpUpdate(enc.get(), plain);
        const Bytes got = ours.encryptCbc(plain);
        ASSERT_EQ(hex(got), hex(expected));
        ASSERT_EQ(evpUpdate(dec.get(), got), plain);
        ASSERT_EQ(oursDec.decryptCbc(got), plain);
      }
    }
  }
}

TEST(OpenSslDiff, Rc4OverSplitStreams) {
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
  if (rc4 == nullptr) GTEST_SKIP() << "OpenSSL has no RC4 (legacy provider missing)";
  Random rng(2);
  for (int round = 0; round < 2000; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const Bytes key = rng.bytes(1 + rng.below(64));
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), rc4, nullptr, nullptr, nullptr, 1);
    EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(key.size()));
    EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, reinterpret_cast<const unsigned char*>(key.data()),
                      nullptr, 1);
    Rc4State state;
    rc4SetKey(state, key);
    const int pieces = 1 + static_cast<int>(rng.below(8));
    for (int p = 0; p < pieces; ++p) {
      const Bytes data = rng.bytes(rng.below(700));
      ASSERT_EQ(hex(rc4Crypt(state, data)), hex(evpUpdate(ctx.get(), data)));
    }
  }
  EVP_CIPHER_free(rc4);
  OSSL_PROVIDER_unload(legacy);
  OSSL_PROVIDER_unload(deflt);
}

// --- digests, HMAC, PRF --------------------------------------------------------

Bytes evpDigest(const EVP_MD* md, const Bytes& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out, &n, md, nullptr);
  return Bytes(reinterpret_cast<char*>(out), n);
}

Bytes evpHmac(const EVP_MD* md, const Bytes& key, const Bytes& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  HMAC(md, key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
       data.size(), out, &n);
  return Bytes(reinterpret_cast<char*>(out), n);
}

TEST(OpenSslDiff, DigestsAndHmacOverRandomLengths) {
  Random rng(3);
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const Bytes data = rng.bytes(rng.below(10001));
    const Bytes key = rng.bytes(rng.below(150));
    ASSERT_EQ(hex(md5Digest(data)), hex(evpDigest(EVP_md5(), data)));
    ASSERT_EQ(hex(sha1Digest(data)), hex(evpDigest(EVP_sha1(), data)));
    ASSERT_EQ(hex(hmacMd5(key, data)), hex(evpHmac(EVP_md5(), key, data)));
    ASSERT_EQ(hex(hmacSha1(key, data)), hex(evpHmac(EVP_sha1(), key, data)));
  }
}

Bytes opensslTlsPrf(const Bytes& secret, const Bytes& label, const Bytes& seedBytes, std::size_t length) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  const Bytes fullSeed = label + seedBytes;
  char digest[] = "MD5-SHA1";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<char*>(secret.data()),
                                        secret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, const_cast<char*>(fullSeed.data()),
                                        fullSeed.size()),
      OSSL_PARAM_construct_end(),
  };
  Bytes out(length, '\0');
  const int ok = EVP_KDF_derive(ctx, reinterpret_cast<unsigned char*>(out.data()), length, params);
  EVP_KDF_CTX_free(ctx);
  EVP_KDF_free(kdf);
  return ok == 1 ? out : Bytes();
}

TEST(OpenSslDiff, TlsPrfWithOddAndEvenSecrets) {
  Random rng(4);
  int compared = 0;
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const Bytes secret = rng.bytes(1 + rng.below(130));  // odd lengths included
    const Bytes label = rng.bytes(rng.below(20));
    const Bytes seedBytes = rng.bytes(rng.below(80));
    const std::size_t length = 1 + rng.below(200);
    const Bytes expected = opensslTlsPrf(secret, label, seedBytes, length);
    if (expected.empty()) continue;  // OpenSSL refuses some parameter shapes
    ++compared;
    ASSERT_EQ(hex(tlsPrf(secret, label, seedBytes, static_cast<int>(length))), hex(expected));
  }
  EXPECT_GT(compared, 2700);
}

// --- big integers --------------------------------------------------------------

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

BnPtr toBn(const BigInt& x) {
  const Bytes b = x.toBytes(0);
  BnPtr bn(BN_bin2bn(reinterpret_cast<const unsigned char*>(b.data()), static_cast<int>(b.size()), nullptr),
           BN_free);
  BN_set_negative(bn.get(), x.negative() ? 1 : 0);
  return bn;
}

BigInt fromBn(const BIGNUM* bn) {
  Bytes b(static_cast<std::size_t>(BN_num_bytes(bn)), '\0');
  BN_bn2bin(bn, reinterpret_cast<unsigned char*>(b.data()));
  BigInt x = BigInt::fromBytes(b);
  return BN_is_negative(bn) ? BigInt().sub(x) : x;
}

// Random operands with runs of 00 and FF limbs, which stress carries and the
// Barrett correction steps more than uniform bytes do.
Bytes operand(Random& rng, std::size_t maxBits) {
  const std::size_t bytes = 1 + rng.below((maxBits + 7) / 8);
  Bytes b = rng.bytes(bytes);
  if (rng.below(4) == 0) {
    const std::size_t start = rng.below(bytes), length = rng.below(bytes - start + 1);
    for (std::size_t k = start; k < start + length; ++k) b[k] = rng.below(2) ? '\xff' : '\0';
  }
  return b;
}

TEST(OpenSslDiff, BigIntMulDivModAgainstBn) {
  Random rng(5);
  std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
  for (int round = 0; round < 5000; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const BigInt a = BigInt::fromBytes(operand(rng, 4096));
    const BigInt b = BigInt::fromBytes(operand(rng, round % 3 == 0 ? 4096 : 2048));
    BnPtr ba = toBn(a), bb = toBn(b), r(BN_new(), BN_free), rem(BN_new(), BN_free);
    BN_mul(r.get(), ba.get(), bb.get(), ctx.get());
    ASSERT_EQ(a.mul(b), fromBn(r.get()));
    ASSERT_EQ(a.mul(a), a.mul(BigInt::fromBytes(a.toBytes(0))));
    BN_sqr(r.get(), ba.get(), ctx.get());
    ASSERT_EQ(a.mul(a), fromBn(r.get()));
    if (b.isZero()) continue;
    BN_div(r.get(), rem.get(), ba.get(), bb.get(), ctx.get());
    ASSERT_EQ(a.div(b), fromBn(r.get()));
    ASSERT_EQ(a.mod(b), fromBn(rem.get()));
    BN_add(r.get(), ba.get(), bb.get());
    ASSERT_EQ(a.add(b), fromBn(r.get()));
    BN_sub(r.get(), bb.get(), ba.get());
    ASSERT_EQ(b.sub(a), fromBn(r.get()));
  }
}

TEST(OpenSslDiff, BarrettAndModPowAgainstBn) {
  Random rng(6);
  std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
  for (int round = 0; round < 3000; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const std::size_t bits = round < 2800 ? 512 + 32 * (round % 8) : 2048 + 32 * (round % 3);
    BigInt m = BigInt::fromBytes(operand(rng, bits));
    if (m.isZero()) m = 3;
    const std::size_t k = m.limbCount();
    const BigInt mu = BigInt(1).shiftLeft(64 * k).div(m);
    // x below m, up to m^2, and beyond 64k bits: every Barrett branch.
    for (const BigInt& x : {BigInt::fromBytes(operand(rng, 32 * k)), BigInt::fromBytes(operand(rng, 64 * k)),
                            m.sub(1).mul(m.sub(1)), BigInt::fromBytes(operand(rng, 64 * k + 64))}) {
      ASSERT_EQ(barrettReduce(x, m, mu), x.mod(m));
    }
    const BigInt base = BigInt::fromBytes(operand(rng, bits + 40));
    const BigInt e = BigInt::fromBytes(operand(rng, round < 2800 ? 64 : 300));
    BnPtr r(BN_new(), BN_free);
    BN_mod_exp(r.get(), toBn(base).get(), toBn(e).get(), toBn(m).get(), ctx.get());
    ASSERT_EQ(modPow(base, e, m), fromBn(r.get()));
  }
}

TEST(OpenSslDiff, ModInverseAgainstBn) {
  Random rng(7);
  std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
  int inverses = 0;
  for (int round = 0; round < 2000; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const BigInt a = BigInt::fromBytes(operand(rng, 1024));
    const BigInt m = BigInt::fromBytes(operand(rng, 1024));
    if (m.isZero() || m.equals(1)) continue;
    BnPtr r(BN_new(), BN_free);
    ERR_set_mark();
    const bool exists = BN_mod_inverse(r.get(), toBn(a).get(), toBn(m).get(), ctx.get()) != nullptr;
    ERR_pop_to_mark();
    if (exists) {
      ++inverses;
      ASSERT_EQ(modInverse(a, m), fromBn(r.get()));
    } else {
      ASSERT_TRUE(modInverse(a, m).isZero());
    }
  }
  EXPECT_GT(inverses, 600);
}

// --- RSA -----------------------------------------------------------------------

struct KeyParts {
  Bytes n, e, d, p, q;
};

KeyParts generateKey(int bits) {
  EVP_PKEY* pkey = EVP_RSA_gen(static_cast<unsigned>(bits));
  auto get = [pkey](const char* name) {
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(pkey, name, &bn);
    Bytes b(static_cast<std::size_t>(BN_num_bytes(bn)), '\0');
    BN_bn2bin(bn, reinterpret_cast<unsigned char*>(b.data()));
    BN_free(bn);
    return b;
  };
  KeyParts k{get(OSSL_PKEY_PARAM_RSA_N), get(OSSL_PKEY_PARAM_RSA_E), get(OSSL_PKEY_PARAM_RSA_D),
             get(OSSL_PKEY_PARAM_RSA_FACTOR1), get(OSSL_PKEY_PARAM_RSA_FACTOR2)};
  EVP_PKEY_free(pkey);
  return k;
}

// Raw RSA through OpenSSL on the same parts.
Bytes opensslRaw(const KeyParts& k, const Bytes& in, bool usePrivate, std::size_t* length = nullptr) {
  RSA* rsa = RSA_new();
  auto bn = [](const Bytes& b) {
    return BN_bin2bn(reinterpret_cast<const unsigned char*>(b.data()), static_cast<int>(b.size()), nullptr);
  };
  RSA_set0_key(rsa, bn(k.n), bn(k.e), bn(k.d));
  Bytes out(static_cast<std::size_t>(RSA_size(rsa)), '\0');
  auto from = reinterpret_cast<const unsigned char*>(in.data());
  auto to = reinterpret_cast<unsigned char*>(out.data());
  const int n = usePrivate ? RSA_private_decrypt(static_cast<int>(in.size()), from, to, rsa, RSA_NO_PADDING)
                           : RSA_public_encrypt(static_cast<int>(in.size()), from, to, rsa, RSA_NO_PADDING);
  RSA_free(rsa);
  if (length) *length = static_cast<std::size_t>(n);
  return n < 0 ? Bytes() : out;
}

bool opensslVerifyType1(const KeyParts& k, const Bytes& data, const Bytes& signature) {
  RSA* rsa = RSA_new();
  auto bn = [](const Bytes& b) {
    return BN_bin2bn(reinterpret_cast<const unsigned char*>(b.data()), static_cast<int>(b.size()), nullptr);
  };
  RSA_set0_key(rsa, bn(k.n), bn(k.e), nullptr);
  Bytes out(static_cast<std::size_t>(RSA_size(rsa)), '\0');
  const int n = RSA_public_decrypt(static_cast<int>(signature.size()),
                                   reinterpret_cast<const unsigned char*>(signature.data()),
                                   reinterpret_cast<unsigned char*>(out.data()), rsa, RSA_PKCS1_PADDING);
  RSA_free(rsa);
  return n >= 0 && out.substr(0, static_cast<std::size_t>(n)) == data;
}

TEST(OpenSslDiff, RsaOnFreshKeys) {
  Random rng(8);
  const struct { int bits, keys, ops; } plan[] = {{1024, 3, 12}, {2048, 2, 6}, {4096, 1, 3}};
  for (const auto& step : plan) {
    for (int key = 0; key < step.keys; ++key) {
      SCOPED_TRACE(testing::Message() << "seed " << seed() << " bits " << step.bits << " key " << key);
      const KeyParts parts = generateKey(step.bits);
      RsaKey priv, pub;
      priv.setPrivateKey(parts.d, parts.e, parts.n, parts.p, parts.q);
      pub.setPublicKey(parts.e, parts.n);
      ASSERT_TRUE(priv.hasCrt());
      const std::size_t size = parts.n.size();
      for (int op = 0; op < step.ops; ++op) {
        // A block below the modulus: top byte zero, sometimes mostly zeros.
        Bytes block = Bytes(1, '\0') + rng.bytes(size - 1);
        if (op % 4 == 1) block = Bytes(size - 3, '\0') + rng.bytes(3);
        const Bytes c = rsaPublicOp(pub, block);
        ASSERT_EQ(c.size(), size);
        ASSERT_EQ(hex(c), hex(opensslRaw(parts, block, false)));
        ASSERT_EQ(hex(rsaPrivateOp(priv, c)), hex(block));
        ASSERT_EQ(hex(rsaPrivateOp(priv, block)), hex(opensslRaw(parts, block, true)));
        const Bytes raw = rsaRawPublicOp(parts.e, parts.n, block);
        Bytes trimmed = c;
        trimmed.erase(0, trimmed.find_first_not_of('\0') == Bytes::npos ? trimmed.size()
                                                                        : trimmed.find_first_not_of('\0'));
        ASSERT_EQ(raw, trimmed);
        const Bytes data = rng.bytes(op == 0 ? 36 : rng.below(size - 11 + 1));
        const Bytes signature = rsaSignPkcs1(priv, data);
        ASSERT_EQ(signature.size(), size);
        ASSERT_TRUE(opensslVerifyType1(parts, data, signature));
      }
    }
  }
}

}  // namespace
}  // namespace qv
