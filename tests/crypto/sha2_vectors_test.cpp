// SHA-2, HMAC and the TLS 1.2 PRF against NIST CAVP, Wycheproof and the
// FIPS 180-4 examples.
#include <gtest/gtest.h>

#include "crypto/digest.h"
#include "crypto/hmac.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"
#include "crypto/tls12_prf.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

class Sha2Paths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(Sha2Paths);
class HmacPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(HmacPaths);

using test::fromHex;
using test::hex;

struct Sha2File {
  HashAlgorithm hash;
  const char* prefix;
};

constexpr Sha2File kSha2Files[] = {
    {HashAlgorithm::kSha256, "SHA256"},
    {HashAlgorithm::kSha384, "SHA384"},
    {HashAlgorithm::kSha512, "SHA512"},
};

TEST_P(Sha2Paths, CavpShortAndLongMessages) {
  for (const auto& file : kSha2Files) {
    for (const char* kind : {"ShortMsg", "LongMsg"}) {
      const std::string name = std::string("vectors/nist_sha2/") + file.prefix + kind + ".rsp";
      const auto records = test::parseRsp(test::readTestdata(name));
      int checked = 0;
      for (const auto& r : records) {
        if (!r.count("Msg")) continue;
        // Len is in bits; "Len = 0" comes with the placeholder message "00".
        const std::size_t bytes = std::stoul(r.at("Len")) / 8;
        const Bytes msg = fromHex(r.at("Msg")).substr(0, bytes);
        ASSERT_EQ(hex(digestOf(file.hash, msg)), r.at("MD")) << name << " Len=" << r.at("Len");
        ++checked;
      }
      EXPECT_GT(checked, 60) << name;
    }
  }
}

// SHAVS Monte Carlo: each output is the digest of the previous three.
TEST_P(Sha2Paths, CavpMonteCarlo) {
  for (const auto& file : kSha2Files) {
    const std::string name = std::string("vectors/nist_sha2/") + file.prefix + "Monte.rsp";
    const auto records = test::parseRsp(test::readTestdata(name));
    ASSERT_FALSE(records.empty()) << name;
    Bytes seed = fromHex(records.front().at("Seed"));
    int checked = 0;
    for (const auto& r : records) {
      if (!r.count("MD")) continue;
      Bytes md[3] = {seed, seed, seed};
      for (int i = 3; i < 1003; ++i) {
        DigestContext context(file.hash);
        context.update(md[0]);
        context.update(md[1]);
        context.update(md[2]);
        md[0] = std::move(md[1]);
        md[1] = std::move(md[2]);
        md[2] = context.finish();
      }
      seed = md[2];
      ASSERT_EQ(hex(seed), r.at("MD")) << name << " COUNT=" << r.at("COUNT");
      ++checked;
    }
    EXPECT_EQ(checked, 100) << name;
  }
}

TEST_P(Sha2Paths, Fips180Examples) {
  EXPECT_EQ(hex(sha256Digest("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex(sha256Digest(Bytes(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(
      hex(sha384Digest("abc")),
      "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7");
  EXPECT_EQ(hex(sha512Digest("")),
            "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f"
            "63b931bd47417a81a538327af927da3e");
}

// Splitting the input at every point around the block and padding edges must
// not change the digest; a copied context finishes independently (the TLS
// transcript hash relies on both).
TEST_P(Sha2Paths, IncrementalSplitsAndCopies) {
  Bytes data(300, '\0');
  for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<char>(k * 7 + 1);
  for (HashAlgorithm hash : {HashAlgorithm::kMd5, HashAlgorithm::kSha1, HashAlgorithm::kSha256,
                             HashAlgorithm::kSha384, HashAlgorithm::kSha512}) {
    for (std::size_t length : {0, 55, 56, 63, 64, 111, 112, 127, 128, 129, 255, 300}) {
      const std::string_view whole = std::string_view(data).substr(0, length);
      const Bytes expected = digestOf(hash, whole);
      ASSERT_EQ(expected.size(), digestSize(hash));
      for (std::size_t cut = 0; cut <= length; cut += 13) {
        DigestContext context(hash);
        context.update(whole.substr(0, cut));
        DigestContext copy = context;
        context.update(whole.substr(cut));
        ASSERT_EQ(context.finish(), expected) << static_cast<int>(hash) << " " << length << " cut " << cut;
        copy.update(whole.substr(cut));
        ASSERT_EQ(copy.finish(), expected);
      }
      DigestContext reused(hash);
      reused.update("something else");
      reused.finish();
      reused.reset();
      reused.update(whole);
      EXPECT_EQ(reused.finish(), expected);
    }
  }
}

TEST_P(HmacPaths, CavpSha2WithTruncatedTags) {
  const auto records = test::parseRsp(test::readTestdata("vectors/nist_hmac/HMAC.rsp"));
  int checked = 0;
  for (const auto& r : records) {
    if (!r.count("Mac")) continue;
    HashAlgorithm hash;
    const std::string l = r.at("L");
    if (l == "20") {
      hash = HashAlgorithm::kSha1;
    } else if (l == "32") {
      hash = HashAlgorithm::kSha256;
    } else if (l == "48") {
      hash = HashAlgorithm::kSha384;
    } else if (l == "64") {
      hash = HashAlgorithm::kSha512;
    } else {
      continue;  // SHA-224
    }
    const Bytes mac = hmacOf(hash, fromHex(r.at("Key")), fromHex(r.at("Msg")));
    ASSERT_EQ(hex(mac.substr(0, std::stoul(r.at("Tlen")))), r.at("Mac"))
        << "L=" << l << " Count=" << r.at("Count");
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST_P(HmacPaths, WycheproofSha2) {
  const struct {
    const char* file;
    HashAlgorithm hash;
  } files[] = {{"hmac_sha256_test.json", HashAlgorithm::kSha256},
               {"hmac_sha384_test.json", HashAlgorithm::kSha384},
               {"hmac_sha512_test.json", HashAlgorithm::kSha512}};
  for (const auto& f : files) {
    const test::Json root = test::readWycheproof(f.file);
    int checked = 0;
    for (const auto& group : root["testGroups"].items) {
      const std::size_t tagBytes = static_cast<std::size_t>(group["tagSize"].integer() / 8);
      for (const auto& t : group["tests"].items) {
        const Bytes mac = hmacOf(f.hash, fromHex(t["key"].str()), fromHex(t["msg"].str()));
        const bool same = hex(mac.substr(0, tagBytes)) == t["tag"].str();
        ASSERT_EQ(same, t["result"].str() == "valid") << f.file << " tcId " << t["tcId"].integer();
        ++checked;
      }
    }
    EXPECT_GT(checked, 100) << f.file;
  }
}

TEST_P(HmacPaths, NamedFunctionsMatchHmacOf) {
  const Bytes longKey(200, 'k');  // above both block sizes: hashed first
  for (std::string_view key : {std::string_view("key"), std::string_view(longKey)}) {
    EXPECT_EQ(hmacSha256(key, "data"), hmacOf(HashAlgorithm::kSha256, key, "data"));
    EXPECT_EQ(hmacSha384(key, "data"), hmacOf(HashAlgorithm::kSha384, key, "data"));
    EXPECT_EQ(hmacSha512(key, "data"), hmacOf(HashAlgorithm::kSha512, key, "data"));
    EXPECT_EQ(hmacSha1(key, "data"), hmacOf(HashAlgorithm::kSha1, key, "data"));
    EXPECT_EQ(hmacMd5(key, "data"), hmacOf(HashAlgorithm::kMd5, key, "data"));
  }
  // A 128-byte key is used as is for SHA-384/512 but hashed for SHA-256.
  const Bytes key128(128, 'x');
  EXPECT_NE(hmacSha512(key128, "m"), hmacSha512(sha512Digest(key128), "m"));
  EXPECT_EQ(hmacSha256(key128, "m"), hmacSha256(sha256Digest(key128), "m"));
}

// SP 800-135 TLS 1.2 KDF: master secret, then key block, for each hash.
TEST(Tls12Prf, CavpMasterSecretAndKeyBlock) {
  const auto records = test::parseRsp(test::readTestdata("tls_prf/nist_cavp_800-135_tls.rsp"));
  int checked = 0;
  for (const auto& r : records) {
    HashAlgorithm hash;
    if (r.count("TLS 1.2, SHA-256")) {
      hash = HashAlgorithm::kSha256;
    } else if (r.count("TLS 1.2, SHA-384")) {
      hash = HashAlgorithm::kSha384;
    } else if (r.count("TLS 1.2, SHA-512")) {
      hash = HashAlgorithm::kSha512;
    } else {
      continue;
    }
    const Bytes master =
        tls12Prf(hash, fromHex(r.at("pre_master_secret")), "master secret",
                 fromHex(r.at("clientHello_random")) + fromHex(r.at("serverHello_random")), 48);
    ASSERT_EQ(hex(master), r.at("master_secret")) << "COUNT=" << r.at("COUNT");
    const Bytes expectedBlock = fromHex(r.at("key_block"));
    const Bytes block = tls12Prf(hash, master, "key expansion",
                                 fromHex(r.at("server_random")) + fromHex(r.at("client_random")),
                                 static_cast<int>(expectedBlock.size()));
    ASSERT_EQ(hex(block), hex(expectedBlock)) << "COUNT=" << r.at("COUNT");
    ++checked;
  }
  EXPECT_EQ(checked, 30);
}

TEST(Tls12Prf, ExactLengthsAndPrefixes) {
  const Bytes secret = fromHex("9bbe436ba940f017b17652849a71db35");
  const Bytes seed = fromHex("a0ba9f936cda311827a6f796ffd5198c");
  EXPECT_TRUE(tls12Prf(HashAlgorithm::kSha256, secret, "test label", seed, 0).empty());
  EXPECT_TRUE(tls12Prf(HashAlgorithm::kSha256, secret, "test label", seed, -5).empty());
  const Bytes full = tls12Prf(HashAlgorithm::kSha256, secret, "test label", seed, 100);
  // The widely published SHA-256 example output (first bytes).
  EXPECT_EQ(hex(full.substr(0, 16)), "e3f229ba727be17b8d122620557cd453");
  for (int n : {1, 31, 32, 33, 64, 99}) {
    EXPECT_EQ(tls12Prf(HashAlgorithm::kSha256, secret, "test label", seed, n),
              full.substr(0, static_cast<std::size_t>(n)));
  }
  EXPECT_EQ(tls12Prf(HashAlgorithm::kSha384, secret, "test label", seed, 49).size(), 49u);
}

}  // namespace
}  // namespace qv
