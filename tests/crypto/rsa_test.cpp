#include <gtest/gtest.h>

#include "crypto/rsa.h"
#include "tests/crypto/hex.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

// A 1024-bit test key (e = 65537).
const char kN[] =
    "adb57012642586eff1bc6a8e496a1f7e485cb68fe3783202734037e654e2f5297fe9a1f9f024d351c8a931a69bd9b80b2f2eecb3"
    "977159"
    "7a2b91ca1dfc063b23d1c9e1368cb7359a73ca0f0610e81841c4e16a7445326501dcbc9c884598b77475f3632a2e16442db63d76"
    "68dc2c"
    "6b07211919357569b866401c4c5c3031e50b";
const char kD[] =
    "32d50768ba59a8f50a3e62c8247fa39ba6bd4ac72c7f7dd2edbafb20b1f2805f9688ddd77008b6b6160c3cf54e6215d360095146"
    "f4a83c"
    "d0dd731a3c5005dac412e5e26a90cda81b252379030ebb32f0ce2a4034bac1271f58a70e1c9689cbb77fe5c50a3ceeb468aab245"
    "ce10cb"
    "6559d9db99bedb8db414aeeba60d70534cd1";
const char kP[] =
    "e2188f4fc3b4da26fbb9fff510916aed9aabfab0cb1fc3944f89f0cfde1953c7e16931694e9e74a60cfcc99ac7bd7efa96d081e9"
    "1dfdd6"
    "435ec41aa80fcaac2d";
const char kQ[] =
    "c4af1625a4157cadadd97601035a19440664c40f789b22a2d0ca3f633b3a7af6ab96dcefa59a3b72d966e617c19950bc014ea815"
    "acc3db"
    "0e6ab28d2766794117";
// OpenSSL's PKCS#1 v1.5 type-1 signature of the bytes 00..23 under this key.
const char kSignature[] =
    "6fd2e5ad0f5dcb219fb8fe5fa4be4ed3789474cb4f1f6634311e0a5ce986f751a4e04039d947596b58936b0000f9f4ea2fc670dd"
    "d3b27"
    "ffe380f74a399876d96f03a22ab14914c4842447a9c4826ae82f946c36465d6405fbc524aa802d864c38e1c6cb63dc51856257b8"
    "448863"
    "48a7b4887460db73c2f2f4e6119d45eac05a4";

RsaKey privateKey() {
  RsaKey key;
  key.setPrivateKey(fromHex(kD), fromHex("010001"), fromHex(kN), fromHex(kP), fromHex(kQ));
  return key;
}

Bytes data36() {
  Bytes d;
  for (int k = 0; k < 36; ++k) d.push_back(static_cast<char>(k));
  return d;
}

TEST(RsaKeySetUp, CrtValues) {
  const RsaKey key = privateKey();
  ASSERT_TRUE(key.hasCrt());
  EXPECT_EQ(key.modulusLength(), 128u);
  EXPECT_EQ(key.dP, key.d.mod(key.p.sub(1)));
  EXPECT_EQ(key.dQ, key.d.mod(key.q.sub(1)));
  EXPECT_EQ(key.qFactor.mod(key.p), BigInt(1));  // q * (q^-1 mod p) = 1 mod p, 0 mod q
  EXPECT_TRUE(key.qFactor.mod(key.q).isZero());
  EXPECT_EQ(key.pFactor.mod(key.q), BigInt(1));
  EXPECT_TRUE(key.pFactor.mod(key.p).isZero());

  RsaKey noPrimes;
  noPrimes.setPrivateKey(fromHex(kD), fromHex("010001"), fromHex(kN), "", "");
  EXPECT_FALSE(noPrimes.hasCrt());
  EXPECT_TRUE(noPrimes.qFactor.isZero());
}

TEST(RsaSign, MatchesOpenSslAndBuildsTheType1Block) {
  const RsaKey key = privateKey();
  const Bytes signature = rsaSignPkcs1(key, data36());
  EXPECT_EQ(hex(signature), kSignature);
  // The public operation recovers 00 01, 89 bytes FF, 00, data.
  RsaKey pub;
  pub.setPublicKey(fromHex("010001"), fromHex(kN));
  const Bytes block = rsaPublicOp(pub, signature);
  EXPECT_EQ(block, Bytes("\x00\x01", 2) + Bytes(89, '\xff') + Bytes(1, '\0') + data36());
  // The certificate checker's form drops the leading zero byte.
  EXPECT_EQ(rsaRawPublicOp(fromHex("010001"), fromHex(kN), signature), block.substr(1));
}

TEST(RsaSign, WithoutPrimesAndTooMuchData) {
  RsaKey plain;
  plain.setPrivateKey(fromHex(kD), fromHex("010001"), fromHex(kN), "", "");
  EXPECT_EQ(hex(rsaSignPkcs1(plain, data36())), kSignature);
  const RsaKey key = privateKey();
  EXPECT_EQ(rsaSignPkcs1(key, Bytes(117, 'x')).size(), 128u);  // eight FF bytes remain
  EXPECT_EQ(rsaSignPkcs1(key, Bytes(118, 'x')), "");
  EXPECT_EQ(rsaSignPkcs1(key, Bytes(126, 'x')), "");
  EXPECT_EQ(rsaSignPkcs1(key, "").size(), 128u);
  RsaKey pub;
  pub.setPublicKey(fromHex("010001"), fromHex(kN));
  EXPECT_EQ(rsaSignPkcs1(pub, data36()), "");  // no private part
  EXPECT_EQ(rsaSignPkcs1(RsaKey{}, data36()), "");
}

// Textbook key: p = 61, q = 53, n = 3233, e = 17, d = 2753 (a 2-byte modulus).
TEST(RsaSign, SmallModulusUsesItsOwnLength) {
  RsaKey tiny;
  tiny.setPrivateKey(fromHex("0ac1"), fromHex("11"), fromHex("0ca1"), fromHex("3d"), fromHex("35"));
  EXPECT_EQ(rsaSignPkcs1(tiny, ""), "");  // 11 bytes of framing do not fit in 2
}

TEST(RsaOps, RoundTripAndFullLengthResults) {
  const RsaKey key = privateKey();
  RsaKey pub;
  pub.setPublicKey(fromHex("010001"), fromHex(kN));
  // A value far below the modulus keeps the block's length on the way back.
  const Bytes block = Bytes(127, '\0') + Bytes(1, '\x02');
  const Bytes encrypted = rsaPublicOp(pub, block);
  ASSERT_EQ(encrypted.size(), 128u);
  EXPECT_EQ(rsaPrivateOp(key, encrypted), block);
  EXPECT_EQ(rsaPrivateOp(key, Bytes(128, '\0')), Bytes(128, '\0'));
  EXPECT_EQ(rsaPublicOp(pub, Bytes(128, '\0')), Bytes(128, '\0'));
  EXPECT_EQ(rsaPublicOp(pub, Bytes(127, '\0') + Bytes(1, '\x01')), Bytes(127, '\0') + Bytes(1, '\x01'));
  // Private operation with d alone agrees with the CRT form.
  RsaKey plain;
  plain.setPrivateKey(fromHex(kD), fromHex("010001"), fromHex(kN), "", "");
  EXPECT_EQ(rsaPrivateOp(plain, encrypted), block);
  // An empty block is the number zero and comes back as an empty string.
  EXPECT_EQ(rsaRawPublicOp(fromHex("010001"), fromHex(kN), ""), "");
  EXPECT_EQ(rsaPublicOp(pub, ""), "");
  EXPECT_EQ(rsaPrivateOp(key, ""), "");
}

TEST(RsaOps, InputsNotBelowTheModulusAreRefused) {
  const RsaKey key = privateKey();
  RsaKey pub;
  pub.setPublicKey(fromHex("010001"), fromHex(kN));
  const Bytes n = fromHex(kN);
  const Bytes nPlusOne = BigInt::fromBytes(n).add(1).toBytes(128);
  for (const Bytes& input : {n, nPlusOne, Bytes(128, '\xff'), Bytes(200, '\x01')}) {
    EXPECT_EQ(rsaPublicOp(pub, input), "");
    EXPECT_EQ(rsaPrivateOp(key, input), "");
    EXPECT_EQ(rsaRawPublicOp(fromHex("010001"), n, input), "");
  }
  // Degenerate keys: no modulus, no private part.
  EXPECT_EQ(rsaPublicOp(RsaKey{}, "\x01"), "");
  EXPECT_EQ(rsaRawPublicOp("\x03", "", "\x01"), "");
  EXPECT_EQ(rsaPrivateOp(pub, Bytes(128, '\0')), "");
  // A one-limb modulus still works.
  RsaKey tiny;
  tiny.setPrivateKey(fromHex("0ac1"), fromHex("11"), fromHex("0ca1"), fromHex("3d"), fromHex("35"));
  const Bytes c = rsaPublicOp(tiny, fromHex("0041"));  // 65^17 mod 3233 = 2790
  EXPECT_EQ(hex(c), "0ae6");
  EXPECT_EQ(hex(rsaPrivateOp(tiny, c)), "0041");
}

// Keys from the network are bounded: 16384-bit moduli at most, and above
// 3072 bits public exponents of at most 64 bits.
TEST(RsaOps, OversizedPublicKeysAreRefused) {
  const Bytes e3 = fromHex("03");
  const Bytes bigE = Bytes(1, '\x01') + Bytes(8, '\0') + Bytes(1, '\x01');  // 73 bits
  const Bytes n3072 = Bytes(1, '\xc1') + Bytes(382, '\x5a') + Bytes(1, '\x01');
  const Bytes n4096 = Bytes(1, '\xc1') + Bytes(510, '\x5a') + Bytes(1, '\x01');
  const Bytes n16384 = Bytes(1, '\xc1') + Bytes(2046, '\x5a') + Bytes(1, '\x01');
  const Bytes n16392 = Bytes(1, '\x01') + n16384;
  const Bytes two = fromHex("02");
  EXPECT_FALSE(rsaRawPublicOp(bigE, n3072, two).empty());
  EXPECT_FALSE(rsaRawPublicOp(e3, n4096, two).empty());
  EXPECT_TRUE(rsaRawPublicOp(bigE, n4096, two).empty());
  EXPECT_EQ(hex(rsaRawPublicOp(e3, n16384, two)), "08");
  EXPECT_TRUE(rsaRawPublicOp(e3, n16392, two).empty());
  RsaKey key;
  key.setPublicKey(bigE, n4096);
  EXPECT_TRUE(rsaPublicOp(key, two).empty());
  key.setPublicKey(e3, n16392);
  EXPECT_TRUE(rsaPublicOp(key, two).empty());
  key.setPublicKey(e3, n4096);
  EXPECT_EQ(rsaPublicOp(key, Bytes(511, '\0') + two), Bytes(511, '\0') + fromHex("08"));
}

}  // namespace
}  // namespace qv
