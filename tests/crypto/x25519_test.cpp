// X25519 against RFC 7748 and Wycheproof.
#include <gtest/gtest.h>

#include "crypto/x25519.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

TEST(X25519, Rfc7748Section52) {
  EXPECT_EQ(hex(x25519(fromHex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4"),
                       fromHex("e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c"))),
            "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552");
  // Top bit of u set: it must be ignored.
  EXPECT_EQ(hex(x25519(fromHex("4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d"),
                       fromHex("e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493"))),
            "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957");
}

// k = X25519(k, u), u = old k, both starting at 9.
Bytes iterate(int rounds) {
  Bytes k = fromHex("0900000000000000000000000000000000000000000000000000000000000000");
  Bytes u = k;
  for (int i = 0; i < rounds; ++i) {
    Bytes next = x25519(k, u);
    u = std::move(k);
    k = std::move(next);
  }
  return k;
}

TEST(X25519, Rfc7748IteratedThousand) {
  Bytes k = iterate(1);
  EXPECT_EQ(hex(k), "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
  EXPECT_EQ(hex(iterate(1000)), "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

// About a minute; CTest runs it under the label "slow".
TEST(X25519, DISABLED_Rfc7748IteratedMillion) {
  EXPECT_EQ(hex(iterate(1000000)), "7c3911e0ab2586fd864497297e575e6f3bc601c0883c30df5f4dd2d24f665424");
}

TEST(X25519, Rfc7748DiffieHellman) {
  const Bytes alice = fromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
  const Bytes bob = fromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
  const Bytes alicePublic = x25519Base(alice);
  const Bytes bobPublic = x25519Base(bob);
  EXPECT_EQ(hex(alicePublic), "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  EXPECT_EQ(hex(bobPublic), "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  const Bytes shared = x25519(alice, bobPublic);
  EXPECT_EQ(hex(shared), "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
  EXPECT_EQ(x25519(bob, alicePublic), shared);
}

// Every case: the function returns the curve result for all of them,
// including low-order points ("acceptable", flag ZeroSharedSecret), where
// the result is all zeros and the caller must refuse it.
TEST(X25519, Wycheproof) {
  const test::Json root = test::readWycheproof("x25519_test.json");
  int checked = 0, zero = 0;
  for (const auto& group : root["testGroups"].items) {
    for (const auto& t : group["tests"].items) {
      const std::string id = "tcId " + std::to_string(t["tcId"].integer()) + " " + t["comment"].str();
      ASSERT_NE(t["result"].str(), "invalid") << id;
      const Bytes shared = x25519(fromHex(t["private"].str()), fromHex(t["public"].str()));
      ASSERT_EQ(hex(shared), t["shared"].str()) << id;
      EXPECT_EQ(isAllZero(shared), test::hasFlag(t, "ZeroSharedSecret")) << id;
      zero += isAllZero(shared) ? 1 : 0;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 518);
  EXPECT_EQ(zero, 31);
}

TEST(X25519, WrongSizesGiveNothing) {
  const Bytes k(32, '\x11');
  EXPECT_TRUE(x25519(Bytes(31, '\x11'), k).empty());
  EXPECT_TRUE(x25519(k, Bytes(33, '\x09')).empty());
  EXPECT_TRUE(x25519Base(Bytes(0, '\0')).empty());
  EXPECT_EQ(x25519Base(k).size(), 32u);
  EXPECT_TRUE(isAllZero(Bytes(32, '\0')));
  EXPECT_TRUE(isAllZero(""));
  Bytes last(32, '\0');
  last[31] = '\x80';
  EXPECT_FALSE(isAllZero(last));
}

}  // namespace
}  // namespace qv
