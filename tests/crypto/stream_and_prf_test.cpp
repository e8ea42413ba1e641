#include <gtest/gtest.h>

#include "crypto/hmac.h"
#include "crypto/prf.h"
#include "crypto/rc4.h"
#include "tests/crypto/hex.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

struct Rc4Vector {
  const char* key;
  std::size_t offset;
  const char* stream;
};

// RFC 6229 keystream at several offsets for the 40-, 56- and 64-bit keys.
const Rc4Vector kRfc6229[] = {
    {"0102030405", 0, "b2396305f03dc027ccc3524a0a1118a8"},
    {"0102030405", 16, "6982944f18fc82d589c403a47a0d0919"},
    {"0102030405", 240, "28cb1132c96ce286421dcaadb8b69eae"},
    {"0102030405", 256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
    {"0102030405", 1520, "3294f744d8f9790507e70f62e5bbceea"},
    {"0102030405", 4080, "068326a2118416d21f9d04b2cd1ca050"},
    {"0102030405", 4096, "ff25b58995996707e51fbdf08b34d875"},
    {"01020304050607", 0, "293f02d47f37c9b633f2af5285feb46b"},
    {"01020304050607", 752, "c2911246b612e7e7b903dfeda1dad866"},
    {"01020304050607", 3072, "ad26581c0c5be45f4cea01db2f3805d5"},
    {"0102030405060708", 0, "97ab8a1bf0afb96132f2f67258da15a8"},
    {"0102030405060708", 1024, "c6d0e7b226259fa9023490b26167ad1d"},
    {"0102030405060708", 4096, "3fb46e2c8f0f068edce8cdcd7dfc5862"},
};

TEST(Rc4, Rfc6229KeystreamOffsets) {
  for (const auto& v : kRfc6229) {
    SCOPED_TRACE(std::string(v.key) + " @" + std::to_string(v.offset));
    Rc4State s;
    rc4SetKey(s, fromHex(v.key));
    // Skip in uneven pieces: the state must carry over between calls.
    std::size_t left = v.offset;
    for (std::size_t piece = 1; left > 0; piece = piece * 3 + 1) {
      const std::size_t n = piece < left ? piece : left;
      ASSERT_EQ(rc4Crypt(s, Bytes(n, '\0')).size(), n);
      left -= n;
    }
    EXPECT_EQ(hex(rc4Crypt(s, Bytes(16, '\0'))), v.stream);
  }
}

TEST(Rc4, SameOperationDecryptsAndRekeyResets) {
  Rc4State a, b;
  rc4SetKey(a, "Key");
  EXPECT_EQ(hex(rc4Crypt(a, "Plaintext")), "bbf316e8d940af0ad3");
  rc4SetKey(a, "Key");
  rc4SetKey(b, "Key");
  EXPECT_EQ(rc4Crypt(b, rc4Crypt(a, "round trip")), "round trip");
  EXPECT_EQ(rc4Crypt(a, ""), "");
}

TEST(Rc4, EmptyKeyAndUnkeyedStateAreDefined) {
  Rc4State empty, zero;
  rc4SetKey(empty, "");
  rc4SetKey(zero, Bytes(1, '\0'));
  EXPECT_EQ(rc4Crypt(empty, Bytes(32, '\0')), rc4Crypt(zero, Bytes(32, '\0')));
  Rc4State fresh;  // identity permutation, i = j = 0
  EXPECT_EQ(rc4Crypt(fresh, Bytes(3, '\0')), fromHex("020507"));
}

TEST(Prf, PHashReturnsWholeHmacOutputs) {
  const struct {
    int length;
    std::size_t md5, sha1;
  } cases[] = {{0, 0, 0},    {-5, 0, 0},   {1, 16, 20},  {16, 16, 20},   {17, 32, 20},
               {20, 32, 20}, {30, 32, 40}, {40, 48, 40}, {104, 112, 120}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    EXPECT_EQ(pHashMd5("secret", "seed", c.length).size(), c.md5);
    EXPECT_EQ(pHashSha1("secret", "seed", c.length).size(), c.sha1);
  }
  // RFC 2246: A(1) = HMAC(secret, seed), first output block HMAC(secret, A(1) + seed).
  const Bytes a1 = hmacSha1("secret", "seed");
  const Bytes out = pHashSha1("secret", "seed", 40);
  EXPECT_EQ(out.substr(0, 20), hmacSha1("secret", a1 + "seed"));
  EXPECT_EQ(out.substr(20), hmacSha1("secret", hmacSha1("secret", a1) + "seed"));
}

// The widely used TLS 1.0 PRF vector: 48 bytes of AB, label "PRF Testvector",
// 64 bytes of CD as seed, 104 bytes out.
TEST(Prf, KnownVector) {
  const Bytes out = tlsPrf(Bytes(48, '\xab'), "PRF Testvector", Bytes(64, '\xcd'), 104);
  EXPECT_EQ(hex(out),
            "d3d4d1e349b5d515044666d51de32bab258cb521b6b053463e354832fd976754443bcf9a296519bc289abcbc1187e4eb"
            "d31e602353776c408aafb74cbc85eff69255f9788faa184cbb957a9819d84a5d7eb006eb459d3ae8de9810454b8b2d8f"
            "1afbc655a8c9a013");
}

TEST(Prf, SecretHalvesShareTheMiddleByteWhenOdd) {
  const Bytes seed = "label" + Bytes("seed");
  const struct {
    std::string secret;
    std::size_t half;
  } cases[] = {{Bytes(48, 's'), 24}, {"abcde", 3}, {"x", 1}, {"", 0}, {"ab", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.secret.size());
    for (int length : {1, 13, 104}) {
      const Bytes s1 = c.secret.substr(0, c.half);
      const Bytes s2 = c.secret.substr(c.secret.size() - c.half);
      const Bytes expected =
          xorBytes(pHashMd5(s1, seed, length).substr(0, static_cast<std::size_t>(length)),
                   pHashSha1(s2, seed, length).substr(0, static_cast<std::size_t>(length)));
      EXPECT_EQ(tlsPrf(c.secret, "label", "seed", length), expected);
    }
  }
  // 5-byte secret: S1 = bytes 0-2 and S2 = bytes 2-4 (not 3-4).
  EXPECT_NE(tlsPrf("abcde", "l", "s", 20),
            xorBytes(pHashMd5("abc", "ls", 20).substr(0, 20), pHashSha1("de", "ls", 20).substr(0, 20)));
  EXPECT_EQ(tlsPrf("secret", "l", "s", 0), "");
  EXPECT_EQ(tlsPrf("secret", "l", "s", -1), "");
}

}  // namespace
}  // namespace qv
