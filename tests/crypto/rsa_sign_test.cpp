// RSA signing: PKCS#1 v1.5 against Wycheproof's generation vectors (the
// encoding is deterministic, so every signature must match byte for byte),
// PSS through our own check, and Wycheproof's PSS verification files.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "crypto/mont_pow.h"
#include "crypto/rsa_sign.h"
#include "crypto/rsa_verify.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

std::optional<HashAlgorithm> hashNamed(const std::string& name) {
  if (name == "SHA-1") return HashAlgorithm::kSha1;
  if (name == "SHA-256") return HashAlgorithm::kSha256;
  if (name == "SHA-384") return HashAlgorithm::kSha384;
  if (name == "SHA-512") return HashAlgorithm::kSha512;
  return std::nullopt;  // SHA-224 and the truncated SHA-512s are not ours
}

RsaKey privateKeyOf(const test::Json& group) {
  const test::Json& k = group["privateKey"];
  RsaKey key;
  key.setPrivateKey(fromHex(k["privateExponent"].str()), fromHex(k["publicExponent"].str()),
                    fromHex(k["modulus"].str()), "", "");
  return key;
}

// The constant-time exponentiation against the plain one: one-limb and
// multi-limb moduli, moduli with a full top limb (where the Montgomery sum
// needs its extra limb), and the extreme bases and exponents.
TEST(ModPowSecret, MatchesModPow) {
  std::mt19937_64 engine(77);
  auto random = [&](std::size_t bytes) {
    Bytes out(bytes, '\0');
    for (auto& c : out) c = static_cast<char>(engine());
    return BigInt::fromBytes(out);
  };
  for (std::size_t bytes : {1u, 4u, 5u, 8u, 9u, 33u, 72u}) {
    for (int round = 0; round < 4; ++round) {
      BigInt m = random(bytes);
      if (round % 2 == 0) m = m.add(BigInt(1).shiftLeft(8 * bytes - 1)).mod(BigInt(1).shiftLeft(8 * bytes));
      if (!m.testBit(0)) m = m.add(BigInt(1));
      if (m.bitLength() <= 1) continue;
      const BigInt mMinus1 = m.sub(BigInt(1));
      const BigInt exponents[] = {BigInt(0), BigInt(1), BigInt(65537), random(bytes), mMinus1};
      const BigInt bases[] = {BigInt(0), BigInt(1), mMinus1, random(bytes)};
      for (const BigInt& e : exponents)
        for (const BigInt& b : bases)
          for (auto* pow : {&modPowSecret, &narrow::modPowSecret})
            ASSERT_EQ(pow(b, e, m), modPow(b, e, m))
                << bytes << " " << round << (pow == &modPowSecret ? "" : " narrow");
    }
  }
  EXPECT_TRUE(modPowSecret(BigInt(3), BigInt(5), BigInt(10)).isZero());                // even modulus
  EXPECT_TRUE(modPowSecret(BigInt(3), BigInt(1).shiftLeft(40), BigInt(11)).isZero());  // exponent too long
}

TEST(RsaSignPkcs1, WycheproofGeneration) {
  for (const char* file : {"rsa_pkcs1_1024_sig_gen_test.json", "rsa_pkcs1_2048_sig_gen_test.json"}) {
    const test::Json root = test::readWycheproof(file);
    int signedCount = 0;
    for (const auto& group : root["testGroups"].items) {
      const auto hash = hashNamed(group["sha"].str());
      if (!hash) continue;
      const RsaKey key = privateKeyOf(group);
      for (const auto& t : group["tests"].items) {
        const std::string id = std::string(file) + " tcId " + std::to_string(t["tcId"].integer());
        const Bytes digest = digestOf(*hash, fromHex(t["msg"].str()));
        const Bytes signature = rsaSignPkcs1Digest(key, *hash, digest);
        if (t["result"].str() == "invalid") {
          EXPECT_NE(hex(signature), t["sig"].str()) << id;
          continue;
        }
        EXPECT_EQ(hex(signature), t["sig"].str()) << id << " " << t["comment"].str();
        ++signedCount;
      }
    }
    EXPECT_GT(signedCount, 20) << file;
  }
}

TEST(RsaSign, RefusesUnusableInput) {
  const test::Json root = test::readWycheproof("rsa_pkcs1_2048_sig_gen_test.json");
  const RsaKey key = privateKeyOf(root["testGroups"].items.at(0));
  const Bytes digest(32, 'd'), salt(32, 's');
  EXPECT_FALSE(rsaSignPss(key, HashAlgorithm::kSha256, digest, salt).empty());
  EXPECT_TRUE(rsaSignPss(key, HashAlgorithm::kSha256, digest, salt.substr(1)).empty());
  EXPECT_TRUE(rsaSignPss(key, HashAlgorithm::kSha256, digest.substr(1), salt).empty());
  EXPECT_TRUE(rsaSignPkcs1Digest(key, HashAlgorithm::kSha256, digest + "x").empty());
  RsaKey publicOnly;
  publicOnly.setPublicKey(key.e.toBytes(0), key.n.toBytes(0));
  EXPECT_TRUE(rsaSignPss(publicOnly, HashAlgorithm::kSha256, digest, salt).empty());
  EXPECT_TRUE(rsaSignPkcs1Digest(publicOnly, HashAlgorithm::kSha256, digest).empty());
  // A wrong private exponent is caught by the check of the result.
  RsaKey broken = key;
  broken.d = BigInt::fromBytes(Bytes(200, '\x35'));
  EXPECT_TRUE(rsaSignPss(broken, HashAlgorithm::kSha256, digest, salt).empty());
  EXPECT_TRUE(rsaSignPkcs1Digest(broken, HashAlgorithm::kSha256, digest).empty());
}

// Our PSS signatures pass our check for every hash, with the byte count of
// emBits both a multiple of 8 and not; a changed digest or salt bit fails it.
TEST(RsaSignPss, VerifiesAcrossHashesAndModulusSizes) {
  for (const char* file : {"rsa_pkcs1_1024_sig_gen_test.json", "rsa_pkcs1_2048_sig_gen_test.json"}) {
    const RsaKey key = privateKeyOf(test::readWycheproof(file)["testGroups"].items.at(0));
    for (HashAlgorithm hash : {HashAlgorithm::kSha256, HashAlgorithm::kSha384, HashAlgorithm::kSha512}) {
      const std::size_t n = digestSize(hash);
      const Bytes digest(n, 'm'), salt(n, 'r');
      const Bytes sig = rsaSignPss(key, hash, digest, salt);
      if (key.modulusLength() < 2 * n + 2) {
        EXPECT_TRUE(sig.empty()) << file;  // 1024 bits cannot hold SHA-512 with its salt
        continue;
      }
      ASSERT_EQ(sig.size(), key.modulusLength()) << file;
      EXPECT_TRUE(rsaVerifyPss(key, hash, digest, sig)) << file;
      EXPECT_FALSE(rsaVerifyPss(key, hash, Bytes(n - 1, 'm') + "n", sig)) << file;
      EXPECT_NE(sig, rsaSignPss(key, hash, digest, Bytes(n - 1, 'r') + "s")) << file;
    }
  }
}

TEST(RsaVerifyPss, Wycheproof) {
  for (const char* file :
       {"rsa_pss_2048_sha256_mgf1_32_test.json", "rsa_pss_2048_sha384_mgf1_48_test.json",
        "rsa_pss_4096_sha384_mgf1_48_test.json", "rsa_pss_4096_sha512_mgf1_64_test.json"}) {
    const test::Json root = test::readWycheproof(file);
    int valid = 0, invalid = 0;
    for (const auto& group : root["testGroups"].items) {
      const auto hash = hashNamed(group["sha"].str());
      ASSERT_TRUE(hash.has_value());
      ASSERT_EQ(group["mgfSha"].str(), group["sha"].str());
      ASSERT_EQ(static_cast<std::size_t>(group["sLen"].integer()), digestSize(*hash));
      RsaKey key;
      key.setPublicKey(fromHex(group["publicKey"]["publicExponent"].str()),
                       fromHex(group["publicKey"]["modulus"].str()));
      for (const auto& t : group["tests"].items) {
        const std::string id =
            std::string(file) + " tcId " + std::to_string(t["tcId"].integer()) + " " + t["comment"].str();
        const bool ok =
            rsaVerifyPss(key, *hash, digestOf(*hash, fromHex(t["msg"].str())), fromHex(t["sig"].str()));
        ASSERT_NE(t["result"].str(), "acceptable") << id;
        EXPECT_EQ(ok, t["result"].str() == "valid") << id;
        (ok ? valid : invalid) += 1;
      }
    }
    EXPECT_GT(valid, 20) << file;
    EXPECT_GT(invalid, 20) << file;
  }
}

}  // namespace
}  // namespace qv
