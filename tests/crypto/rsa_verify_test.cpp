// RSA PKCS#1 v1.5 and PSS signature checks against NIST CAVP and Wycheproof.
// PSS correctness is checked against OpenSSL in openssl_diff_test.cpp (no
// PSS vector file with salt length = hash length is in the shared data).
#include <gtest/gtest.h>

#include "crypto/rsa_verify.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

using test::fromHex;

// Every verdict must match. The one "acceptable" case in these files
// (MissingNull: DigestInfo without the NULL parameters) we refuse, since we
// compare against the one DER encoding RFC 8017 gives.
TEST(RsaVerifyPkcs1, WycheproofSha2) {
  const struct {
    const char* file;
    HashAlgorithm hash;
  } files[] = {{"rsa_signature_2048_sha256_test.json", HashAlgorithm::kSha256},
               {"rsa_signature_3072_sha384_test.json", HashAlgorithm::kSha384},
               {"rsa_signature_4096_sha512_test.json", HashAlgorithm::kSha512}};
  for (const auto& f : files) {
    const test::Json root = test::readWycheproof(f.file);
    int checked = 0, accepted = 0;
    for (const auto& group : root["testGroups"].items) {
      RsaKey key;
      key.setPublicKey(fromHex(group["publicKey"]["publicExponent"].str()),
                       fromHex(group["publicKey"]["modulus"].str()));
      for (const auto& t : group["tests"].items) {
        const std::string id =
            std::string(f.file) + " tcId " + std::to_string(t["tcId"].integer()) + " " + t["comment"].str();
        const bool ok =
            rsaVerifyPkcs1(key, f.hash, digestOf(f.hash, fromHex(t["msg"].str())), fromHex(t["sig"].str()));
        const std::string& result = t["result"].str();
        if (result == "acceptable") {
          EXPECT_FALSE(ok) << id;
          EXPECT_TRUE(test::hasFlag(t, "MissingNull")) << id;
        } else {
          ASSERT_EQ(ok, result == "valid") << id;
        }
        accepted += ok ? 1 : 0;
        ++checked;
      }
    }
    EXPECT_GT(checked, 200) << f.file;
    EXPECT_GT(accepted, 5) << f.file;
  }
}

TEST(RsaVerifyPkcs1, CavpSigVer15) {
  const auto records = test::parseRsp(test::readTestdata("vectors/nist_rsa/SigVer15_186-3.rsp"));
  Bytes modulus;
  int checked = 0, passed = 0;
  for (const auto& r : records) {
    if (r.count("n")) modulus = fromHex(r.at("n"));
    if (!r.count("Result")) continue;
    const std::string alg = r.at("SHAAlg");
    HashAlgorithm hash;
    if (alg == "SHA1") {
      hash = HashAlgorithm::kSha1;
    } else if (alg == "SHA256") {
      hash = HashAlgorithm::kSha256;
    } else if (alg == "SHA384") {
      hash = HashAlgorithm::kSha384;
    } else if (alg == "SHA512") {
      hash = HashAlgorithm::kSha512;
    } else {
      continue;  // SHA-224
    }
    RsaKey key;
    key.setPublicKey(fromHex(r.at("e")), modulus);
    const bool ok = rsaVerifyPkcs1(key, hash, digestOf(hash, fromHex(r.at("Msg"))), fromHex(r.at("S")));
    const bool expected = r.at("Result").substr(0, 1) == "P";
    ASSERT_EQ(ok, expected) << "mod " << r.at("mod") << " " << alg << " " << r.at("Result");
    passed += ok ? 1 : 0;
    ++checked;
  }
  EXPECT_EQ(checked, 360);
  EXPECT_GT(passed, 50);
}

// Sizes and hashes that cannot be right are refused before any arithmetic.
TEST(RsaVerify, RefusesWrongSizes) {
  const test::Json root = test::readWycheproof("rsa_signature_2048_sha256_test.json");
  ASSERT_FALSE(root["testGroups"].items.empty());
  const auto& group = root["testGroups"].items[0];
  RsaKey key;
  key.setPublicKey(fromHex(group["publicKey"]["publicExponent"].str()),
                   fromHex(group["publicKey"]["modulus"].str()));
  const auto& valid = group["tests"].items[0];
  ASSERT_EQ(valid["result"].str(), "valid");
  const Bytes digest = digestOf(HashAlgorithm::kSha256, fromHex(valid["msg"].str()));
  const Bytes sig = fromHex(valid["sig"].str());
  ASSERT_TRUE(rsaVerifyPkcs1(key, HashAlgorithm::kSha256, digest, sig));
  EXPECT_FALSE(rsaVerifyPkcs1(key, HashAlgorithm::kSha384, digest, sig));
  EXPECT_FALSE(rsaVerifyPkcs1(key, HashAlgorithm::kSha256, digest.substr(1), sig));
  EXPECT_FALSE(rsaVerifyPkcs1(key, HashAlgorithm::kSha256, digest, Bytes(1, '\0') + sig));
  EXPECT_FALSE(rsaVerifyPkcs1(key, HashAlgorithm::kSha256, digest, sig.substr(1)));
  EXPECT_FALSE(rsaVerifyPkcs1(key, HashAlgorithm::kSha256, digest, ""));
  EXPECT_FALSE(rsaVerifyPkcs1(RsaKey{}, HashAlgorithm::kSha256, digest, sig));
  // A PKCS#1 signature is no PSS signature, and junk of the right size is refused.
  EXPECT_FALSE(rsaVerifyPss(key, HashAlgorithm::kSha256, digest, sig));
  EXPECT_FALSE(rsaVerifyPss(key, HashAlgorithm::kSha256, digest, Bytes(sig.size(), '\0')));
  EXPECT_FALSE(rsaVerifyPss(key, HashAlgorithm::kSha256, digest, Bytes(sig.size(), '\xFF')));
  EXPECT_FALSE(rsaVerifyPss(key, HashAlgorithm::kSha256, digest.substr(1), sig));
  EXPECT_FALSE(rsaVerifyPss(RsaKey{}, HashAlgorithm::kSha256, digest, sig));
}

}  // namespace
}  // namespace qv
