// The TLS 1.3 primitives against OpenSSL's libcrypto on seeded random inputs
// (QV_TEST_SEED overrides the seed, which every failure prints).
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "crypto/chacha20_poly1305.h"
#include "crypto/poly1305.h"
#include "crypto/rsa_sign.h"
#include "crypto/rsa_verify.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/seeded_random.h"

namespace qv {
namespace {

using test::hex;

using Random = test::SeededRandom<20261209ull>;
std::uint64_t seed() { return Random::seed(); }

const unsigned char* u8(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// A view of `data` starting `offset` bytes into a fresh buffer, so the code
// under test sees unaligned input.
std::string_view misaligned(Bytes& storage, const Bytes& data, std::size_t offset) {
  storage.assign(offset, '#');
  storage += data;
  return std::string_view(storage).substr(offset);
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// ciphertext || tag from OpenSSL, or empty with a test failure.
Bytes opensslSeal(const Bytes& key, const Bytes& nonce, const Bytes& aad, const Bytes& plain) {
  CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int n = 0;
  Bytes out(plain.size() + 16, '\0');
  unsigned char* o = reinterpret_cast<unsigned char*>(out.data());
  if (EVP_EncryptInit_ex(ctx.get(), EVP_chacha20_poly1305(), nullptr, u8(key), u8(nonce)) != 1 ||
      (!aad.empty() &&
       EVP_EncryptUpdate(ctx.get(), nullptr, &n, u8(aad), static_cast<int>(aad.size())) != 1) ||
      EVP_EncryptUpdate(ctx.get(), o, &n, u8(plain), static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), o + n, &n) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, 16, o + plain.size()) != 1) {
    ADD_FAILURE() << "OpenSSL chacha20-poly1305 failed";
    return {};
  }
  return out;
}

class ChaChaDiff : public test::ChaChaPathTest {};

// Lengths at the edges of 16-byte Poly1305 blocks, 64-byte ChaCha20 blocks
// and the eight-block (512-byte) runs, then random ones; aad lengths vary
// on their own.
TEST_P(ChaChaDiff, AeadAgainstOpenSsl) {
  const std::size_t edges[] = {0,   1,   15,  16,  17,  63,   64,   65,   127,  128,  255,  256,  257,
                               511, 512, 513, 575, 576, 1023, 1024, 1025, 1535, 1536, 1537, 2047, 2048};
  Random rng(1);
  std::vector<std::size_t> lengths(std::begin(edges), std::end(edges));
  for (int k = 0; k < 300; ++k) lengths.push_back(rng.below(2001));
  for (std::size_t round = 0; round < lengths.size(); ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round << " length "
                                    << lengths[round]);
    const Bytes key = rng.bytes(32), nonce = rng.bytes(12);
    const Bytes aad = rng.bytes(round % 4 == 0 ? rng.below(600) : rng.below(30)),
                plain = rng.bytes(lengths[round]);
    const Bytes expected = opensslSeal(key, nonce, aad, plain);
    Bytes keyBuf, nonceBuf, aadBuf, plainBuf, sealedBuf;
    ChaCha20Poly1305 aead;
    ASSERT_TRUE(aead.setKey(misaligned(keyBuf, key, rng.below(8))));
    const std::string_view n = misaligned(nonceBuf, nonce, rng.below(8));
    const std::string_view a = misaligned(aadBuf, aad, rng.below(8));
    ASSERT_EQ(hex(aead.seal(n, a, misaligned(plainBuf, plain, rng.below(8)))), hex(expected));
    const auto opened = aead.open(n, a, misaligned(sealedBuf, expected, rng.below(8)));
    ASSERT_TRUE(opened.has_value());
    ASSERT_EQ(*opened, plain);
  }
}

Bytes opensslPoly1305(const Bytes& key, const Bytes& message) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "POLY1305", nullptr);
  EVP_MAC_CTX* ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr;
  Bytes tag(16, '\0');
  std::size_t length = 0;
  const bool ok = ctx && EVP_MAC_init(ctx, u8(key), key.size(), nullptr) == 1 &&
                  EVP_MAC_update(ctx, u8(message), message.size()) == 1 &&
                  EVP_MAC_final(ctx, reinterpret_cast<unsigned char*>(tag.data()), &length, tag.size()) == 1;
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  if (!ok || length != 16) ADD_FAILURE() << "OpenSSL Poly1305 failed";
  return tag;
}

// Keys and messages of all-ones limbs drive every carry to its bound.
// Pieces short and long, so runs of four blocks start at any offset.
TEST_P(ChaChaDiff, Poly1305ExtremeAndRandomInputsInPieces) {
  Random rng(2);
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed() << " round " << round);
    const int shape = round % 3;
    const Bytes key = shape == 0 ? Bytes(32, '\xff') : rng.bytes(32);
    const std::size_t length = rng.below(2001);
    const Bytes message = shape == 1 ? Bytes(length, '\xff') : rng.bytes(length);
    const Bytes expected = opensslPoly1305(key, message);
    Poly1305 mac(u8(key));
    const std::size_t longest = round % 2 == 0 ? 40 : 700;
    for (std::size_t at = 0; at < message.size();) {
      const std::size_t piece = rng.below(longest);
      mac.update(std::string_view(message).substr(at, piece));
      at += piece;
    }
    Bytes tag(16, '\0');
    mac.finish(reinterpret_cast<unsigned char*>(tag.data()));
    ASSERT_EQ(hex(tag), hex(expected));
  }
}

// Long runs of all-ones blocks under the largest clamped r keep every
// limb at its bound through hundreds of vector steps, fed whole and in
// pieces that end inside a group of eight.
TEST_P(ChaChaDiff, Poly1305LongRunsAtTheCarryBounds) {
  const Bytes key = Bytes(16, '\xff') + Bytes(16, '\x01');
  for (const std::size_t length : {std::size_t{16384}, std::size_t{16384 + 64 + 16 + 3}}) {
    const Bytes message(length, '\xff');
    const Bytes expected = opensslPoly1305(key, message);
    for (const std::size_t piece : {length, std::size_t{1000}, std::size_t{80}}) {
      Poly1305 mac(u8(key));
      for (std::size_t at = 0; at < length; at += piece)
        mac.update(std::string_view(message).substr(at, piece));
      Bytes tag(16, '\0');
      mac.finish(reinterpret_cast<unsigned char*>(tag.data()));
      EXPECT_EQ(hex(tag), hex(expected)) << length << " in pieces of " << piece;
    }
  }
}

QV_ON_BOTH_CRYPTO_PATHS(ChaChaDiff);

// --- RSA signing ----------------------------------------------------------------------

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

Bytes bnParam(const EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, name, &bn) != 1) return {};
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)), '\0');
  BN_bn2bin(bn, reinterpret_cast<unsigned char*>(out.data()));
  BN_free(bn);
  return out;
}

const EVP_MD* mdOf(HashAlgorithm hash) {
  return hash == HashAlgorithm::kSha256   ? EVP_sha256()
         : hash == HashAlgorithm::kSha384 ? EVP_sha384()
                                          : EVP_sha512();
}

// A fresh context for sign or verify of a digest with the given padding.
PKeyCtx signingContext(EVP_PKEY* pkey, bool sign, HashAlgorithm hash, bool pss) {
  PKeyCtx ctx(EVP_PKEY_CTX_new(pkey, nullptr), EVP_PKEY_CTX_free);
  const bool ok =
      (sign ? EVP_PKEY_sign_init(ctx.get()) : EVP_PKEY_verify_init(ctx.get())) == 1 &&
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), pss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING) == 1 &&
      EVP_PKEY_CTX_set_signature_md(ctx.get(), mdOf(hash)) == 1 &&
      (!pss || (EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), mdOf(hash)) == 1 &&
                EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx.get(), RSA_PSS_SALTLEN_DIGEST) == 1));
  if (!ok) ADD_FAILURE() << "OpenSSL signing context";
  return ctx;
}

// 2049 bits: emBits is then a multiple of 8 and EM one byte shorter than the modulus.
TEST(OpenSslTls13Diff, RsaSignaturesBothWays) {
  Random rng(3);
  for (unsigned bits : {2048u, 2049u}) {
    PKey pkey(EVP_RSA_gen(bits), EVP_PKEY_free);
    ASSERT_NE(pkey, nullptr);
    RsaKey key;
    key.setPrivateKey(bnParam(pkey.get(), "d"), bnParam(pkey.get(), "e"), bnParam(pkey.get(), "n"),
                      bnParam(pkey.get(), "rsa-factor1"), bnParam(pkey.get(), "rsa-factor2"));
    ASSERT_TRUE(key.hasCrt());
    for (HashAlgorithm hash : {HashAlgorithm::kSha256, HashAlgorithm::kSha384, HashAlgorithm::kSha512}) {
      SCOPED_TRACE(testing::Message()
                   << "seed " << seed() << " bits " << bits << " hash " << digestSize(hash));
      const Bytes digest = rng.bytes(digestSize(hash));
      // PKCS#1 v1.5 is deterministic: the same bytes as OpenSSL's.
      Bytes theirs(key.modulusLength(), '\0');
      std::size_t length = theirs.size();
      ASSERT_EQ(
          EVP_PKEY_sign(signingContext(pkey.get(), true, hash, false).get(),
                        reinterpret_cast<unsigned char*>(theirs.data()), &length, u8(digest), digest.size()),
          1);
      EXPECT_EQ(hex(rsaSignPkcs1Digest(key, hash, digest)), hex(theirs));
      // PSS: ours verified by OpenSSL, OpenSSL's by ours.
      const Bytes ours = rsaSignPss(key, hash, digest, rng.bytes(digestSize(hash)));
      ASSERT_EQ(ours.size(), key.modulusLength());
      EXPECT_EQ(EVP_PKEY_verify(signingContext(pkey.get(), false, hash, true).get(), u8(ours), ours.size(),
                                u8(digest), digest.size()),
                1);
      length = theirs.size();
      ASSERT_EQ(
          EVP_PKEY_sign(signingContext(pkey.get(), true, hash, true).get(),
                        reinterpret_cast<unsigned char*>(theirs.data()), &length, u8(digest), digest.size()),
          1);
      EXPECT_TRUE(rsaVerifyPss(key, hash, digest, theirs));
    }
  }
}

}  // namespace
}  // namespace qv
