// HKDF against RFC 5869 and Wycheproof; HKDF-Expand-Label against the
// simple 1-RTT handshake of RFC 8448.
#include <gtest/gtest.h>

#include "crypto/hkdf.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

TEST(Hkdf, Rfc5869) {
  struct Case {
    HashAlgorithm hash;
    const char* ikm;
    const char* salt;
    const char* info;
    const char* prk;
    const char* okm;
  };
  const Case cases[] = {
      {HashAlgorithm::kSha256, "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "000102030405060708090a0b0c",
       "f0f1f2f3f4f5f6f7f8f9", "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5",
       "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
      // Empty salt and info.
      {HashAlgorithm::kSha256, "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "", "",
       "19ef24a32c717b167f33a91d6f648bdf96596776afdb6377ac434c1c293ccb04",
       "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
      {HashAlgorithm::kSha1, "0b0b0b0b0b0b0b0b0b0b0b", "000102030405060708090a0b0c", "f0f1f2f3f4f5f6f7f8f9",
       "9b6c18c432a7bf8f0e71c8eb88f4b30baa2ba243",
       "085a01ea1b10f36933068b56efa5ad81a4f14b822f5b091568a9cdd4f155fda2c22e422478d305f3f896"},
      {HashAlgorithm::kSha1, "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c", "", "",
       "2adccada18779e7c2077ad2eb19d3f3e731385dd",
       "2c91117204d745f3500d636a62f64f0ab3bae548aa53d423b0d1f27ebba6f5e5673a081d70cce7acfc48"},
  };
  for (const Case& c : cases) {
    const Bytes prk = hkdfExtract(c.hash, fromHex(c.salt), fromHex(c.ikm));
    EXPECT_EQ(hex(prk), c.prk);
    EXPECT_EQ(hex(hkdfExpand(c.hash, prk, fromHex(c.info), 42)), c.okm);
  }
}

TEST(Hkdf, Wycheproof) {
  for (const auto& [file, hash] : {std::pair{"hkdf_sha256_test.json", HashAlgorithm::kSha256},
                                   std::pair{"hkdf_sha384_test.json", HashAlgorithm::kSha384}}) {
    const test::Json root = test::readWycheproof(file);
    int valid = 0, invalid = 0;
    for (const auto& group : root["testGroups"].items) {
      for (const auto& t : group["tests"].items) {
        const std::string id = std::string(file) + " tcId " + std::to_string(t["tcId"].integer());
        const Bytes prk = hkdfExtract(hash, fromHex(t["salt"].str()), fromHex(t["ikm"].str()));
        const Bytes okm =
            hkdfExpand(hash, prk, fromHex(t["info"].str()), static_cast<std::size_t>(t["size"].integer()));
        if (t["result"].str() == "valid") {
          EXPECT_EQ(hex(okm), t["okm"].str()) << id;
          ++valid;
        } else {
          EXPECT_TRUE(okm.empty()) << id << " " << t["comment"].str();
          ++invalid;
        }
      }
    }
    EXPECT_GT(valid, 50) << file;
    EXPECT_GT(invalid, 0) << file;
  }
}

TEST(Hkdf, ExpandLimits) {
  const Bytes prk(32, 'k');
  EXPECT_EQ(hkdfExpand(HashAlgorithm::kSha256, prk, "", 255 * 32).size(), 255u * 32);
  EXPECT_TRUE(hkdfExpand(HashAlgorithm::kSha256, prk, "", 255 * 32 + 1).empty());
  EXPECT_TRUE(hkdfExpand(HashAlgorithm::kSha256, prk, "", 0).empty());
  // A shorter output is a prefix of a longer one.
  EXPECT_EQ(hkdfExpand(HashAlgorithm::kSha384, prk, "i", 100).substr(0, 49),
            hkdfExpand(HashAlgorithm::kSha384, prk, "i", 49));
  // HkdfLabel fields are one-byte lengths: longer label or context is refused.
  EXPECT_FALSE(hkdfExpandLabel(HashAlgorithm::kSha256, prk, Bytes(249, 'l'), "", 32).empty());
  EXPECT_TRUE(hkdfExpandLabel(HashAlgorithm::kSha256, prk, Bytes(250, 'l'), "", 32).empty());
  EXPECT_TRUE(hkdfExpandLabel(HashAlgorithm::kSha256, prk, "key", Bytes(256, 'c'), 32).empty());
}

// The server's key schedule of the simple 1-RTT handshake, step by step.
TEST(Hkdf, Rfc8448SimpleHandshakeSchedule) {
  const HashAlgorithm h = HashAlgorithm::kSha256;
  const Bytes early = hkdfExtract(h, "", Bytes(32, '\0'));
  EXPECT_EQ(hex(early), "33ad0a1c607ec03b09e6cd9893680ce210adf300aa1f2660e1b22e10f170f92a");
  const Bytes emptyHash = digestOf(h, "");
  const Bytes derived = hkdfExpandLabel(h, early, "derived", emptyHash, 32);
  EXPECT_EQ(hex(derived), "6f2615a108c702c5678f54fc9dbab69716c076189c48250cebeac3576c3611ba");
  const Bytes shared = fromHex("8bd4054fb55b9d63fdfbacf9f04b9f0d35e6d63f537563efd46272900f89492d");
  const Bytes handshake = hkdfExtract(h, derived, shared);
  EXPECT_EQ(hex(handshake), "1dc826e93606aa6fdc0aadc12f741b01046aa6b99f691ed221a9f0ca043fbeac");
  const Bytes transcript = fromHex("860c06edc07858ee8e78f0e7428c58edd6b43f2ca3e6e95f02ed063cf0e1cad8");
  EXPECT_EQ(hex(hkdfExpandLabel(h, handshake, "c hs traffic", transcript, 32)),
            "b3eddb126e067f35a780b3abf45e2d8f3b1a950738f52e9600746a0e27a55a21");
  const Bytes serverHs = hkdfExpandLabel(h, handshake, "s hs traffic", transcript, 32);
  EXPECT_EQ(hex(serverHs), "b67b7d690cc16c4e75e54213cb2d37b4e9c912bcded9105d42befd59d391ad38");
  EXPECT_EQ(hex(hkdfExpandLabel(h, serverHs, "key", "", 16)), "3fce516009c21727d0f2e4e86ee403bc");
  EXPECT_EQ(hex(hkdfExpandLabel(h, serverHs, "iv", "", 12)), "5d313eb2671276ee13000b30");
  const Bytes master =
      hkdfExtract(h, hkdfExpandLabel(h, handshake, "derived", emptyHash, 32), Bytes(32, '\0'));
  EXPECT_EQ(hex(master), "18df06843d13a08bf2a449844c5f8a478001bc4d4c627984d5a41da8d0402919");
}

}  // namespace
}  // namespace qv
