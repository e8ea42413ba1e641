// AES-GCM against NIST CAVP (96-bit IVs, 128-bit tags) and Wycheproof.
#include <gtest/gtest.h>

#include "crypto/aes_gcm.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

class AesGcmPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(AesGcmPaths);

using test::fromHex;
using test::hex;

TEST_P(AesGcmPaths, CavpEncryptExternalIv) {
  for (const char* file : {"gcmEncryptExtIV128.rsp", "gcmEncryptExtIV256.rsp"}) {
    const auto records = test::parseRsp(test::readTestdata(std::string("vectors/nist_gcm/") + file));
    int checked = 0;
    for (const auto& r : records) {
      if (!r.count("Key") || r.at("IVlen") != "96" || r.at("Taglen") != "128") continue;
      AesGcm gcm;
      ASSERT_TRUE(gcm.setKey(fromHex(r.at("Key"))));
      const Bytes sealed = gcm.seal(fromHex(r.at("IV")), fromHex(r.at("AAD")), fromHex(r.at("PT")));
      ASSERT_EQ(hex(sealed), r.at("CT") + r.at("Tag")) << file << " Count=" << r.at("Count");
      ++checked;
    }
    EXPECT_GT(checked, 100) << file;
  }
}

TEST_P(AesGcmPaths, CavpDecryptAndRefuse) {
  for (const char* file : {"gcmDecrypt128.rsp", "gcmDecrypt256.rsp"}) {
    const auto records = test::parseRsp(test::readTestdata(std::string("vectors/nist_gcm/") + file));
    int checked = 0, refused = 0;
    for (const auto& r : records) {
      if (!r.count("Key") || r.at("IVlen") != "96" || r.at("Taglen") != "128") continue;
      AesGcm gcm;
      ASSERT_TRUE(gcm.setKey(fromHex(r.at("Key"))));
      const auto opened =
          gcm.open(fromHex(r.at("IV")), fromHex(r.at("AAD")), fromHex(r.at("CT") + r.at("Tag")));
      if (r.count("FAIL")) {
        ASSERT_FALSE(opened.has_value()) << file << " Count=" << r.at("Count");
        ++refused;
      } else {
        ASSERT_TRUE(opened.has_value()) << file << " Count=" << r.at("Count");
        ASSERT_EQ(hex(*opened), r.at("PT"));
      }
      ++checked;
    }
    EXPECT_GT(checked, 100) << file;
    EXPECT_GT(refused, 10) << file;
  }
}

// Only 12-byte nonces are supported: every other IV size must be refused in
// both directions, whatever the case's verdict.
TEST_P(AesGcmPaths, Wycheproof) {
  const test::Json root = test::readWycheproof("aes_gcm_test.json");
  int checked = 0, otherIv = 0;
  for (const auto& group : root["testGroups"].items) {
    const bool nonce12 = group["ivSize"].integer() == 96;
    ASSERT_EQ(group["tagSize"].integer(), 128);
    for (const auto& t : group["tests"].items) {
      const std::string id = "tcId " + std::to_string(t["tcId"].integer());
      AesGcm gcm;
      ASSERT_TRUE(gcm.setKey(fromHex(t["key"].str()))) << id;
      const Bytes iv = fromHex(t["iv"].str());
      const Bytes aad = fromHex(t["aad"].str());
      const auto opened = gcm.open(iv, aad, fromHex(t["ct"].str() + t["tag"].str()));
      if (!nonce12) {
        EXPECT_FALSE(opened.has_value()) << id;
        EXPECT_TRUE(gcm.seal(iv, aad, fromHex(t["msg"].str())).empty()) << id;
        ++otherIv;
        continue;
      }
      if (t["result"].str() == "valid") {
        ASSERT_TRUE(opened.has_value()) << id;
        EXPECT_EQ(hex(*opened), t["msg"].str()) << id;
        EXPECT_EQ(hex(gcm.seal(iv, aad, fromHex(t["msg"].str()))), t["ct"].str() + t["tag"].str()) << id;
      } else {
        EXPECT_FALSE(opened.has_value()) << id << " " << t["comment"].str();
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 60);
  EXPECT_GT(otherIv, 100);
}

TEST_P(AesGcmPaths, RefusesBadKeysShortInputAndTampering) {
  AesGcm gcm;
  const Bytes nonce(12, '\x07');
  EXPECT_TRUE(gcm.seal(nonce, "", "abc").empty());  // no key yet
  EXPECT_FALSE(gcm.open(nonce, "", Bytes(16, '\0')).has_value());
  for (std::size_t bad : {0, 15, 17, 31, 33}) EXPECT_FALSE(gcm.setKey(Bytes(bad, 'k'))) << bad;
  EXPECT_FALSE(gcm.hasKey());
  ASSERT_TRUE(gcm.setKey(Bytes(16, 'k')));
  const Bytes sealed = gcm.seal(nonce, "header", "some plaintext of 30 bytes....");
  ASSERT_EQ(sealed.size(), 30u + 16u);
  EXPECT_EQ(gcm.open(nonce, "header", sealed), Bytes("some plaintext of 30 bytes...."));
  for (std::size_t n = 0; n < 16; ++n)
    EXPECT_FALSE(gcm.open(nonce, "header", sealed.substr(0, n)).has_value());
  EXPECT_FALSE(gcm.open(nonce, "header", sealed.substr(0, sealed.size() - 1)).has_value());
  EXPECT_FALSE(gcm.open(nonce, "Header", sealed).has_value());
  EXPECT_FALSE(gcm.open(Bytes(12, '\x08'), "header", sealed).has_value());
  EXPECT_FALSE(gcm.open(Bytes(16, '\x07'), "header", sealed).has_value());
  for (std::size_t k = 0; k < sealed.size(); k += 5) {
    Bytes flipped = sealed;
    flipped[k] = static_cast<char>(flipped[k] ^ 0x40);
    EXPECT_FALSE(gcm.open(nonce, "header", flipped).has_value()) << k;
  }
  // A failed setKey drops the old key.
  EXPECT_FALSE(gcm.setKey("short"));
  EXPECT_TRUE(gcm.seal(nonce, "", "abc").empty());
}

}  // namespace
}  // namespace qv
