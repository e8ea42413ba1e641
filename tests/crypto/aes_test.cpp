#include <gtest/gtest.h>

#include "crypto/aes.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"

namespace qv {
namespace {

class AesBlockPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(AesBlockPaths);
class AesCbcPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(AesCbcPaths);

using test::fromHex;
using test::hex;

struct BlockVector {
  int bits;
  const char* key;
  const char* plain;
  const char* cipher;
};

// FIPS-197 appendix C.
const BlockVector kFips197[] = {
    {128, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {192, "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {256, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST_P(AesBlockPaths, Fips197AppendixC) {
  for (const auto& v : kFips197) {
    SCOPED_TRACE(v.bits);
    AesContext enc;
    enc.configure(v.bits);
    enc.setEncryptKey(fromHex(v.key), Bytes(16, '\0'));
    EXPECT_EQ(hex(enc.encryptBlock(fromHex(v.plain))), v.cipher);
    AesContext dec;
    dec.configure(v.bits);
    dec.setDecryptKey(fromHex(v.key), Bytes(16, '\0'));
    EXPECT_EQ(hex(dec.decryptBlock(fromHex(v.cipher))), v.plain);
  }
}

struct CbcVector {
  int bits;
  const char* key;
  const char* cipher;
};

// NIST SP 800-38A F.2.1, F.2.3, F.2.5 (same IV and plaintext for all three).
const char kCbcIv[] = "000102030405060708090a0b0c0d0e0f";
const char kCbcPlain[] =
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710";
const CbcVector kSp80038a[] = {
    {128, "2b7e151628aed2a6abf7158809cf4f3c",
     "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7"},
    {192, "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "4f021db243bc633d7178183a9fa071e8 b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e0 08b0e27988598881d920a9e64f5615cd"},
    {256, "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd6 9cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461 b2eb05e2c39be9fcda6c19078c6a9d1b"},
};

TEST_P(AesCbcPaths, Sp80038aWholeAndBlockByBlock) {
  const Bytes plain = fromHex(kCbcPlain);
  for (const auto& v : kSp80038a) {
    SCOPED_TRACE(v.bits);
    const Bytes cipher = fromHex(v.cipher);
    AesContext enc;
    enc.configure(v.bits);
    enc.setEncryptKey(fromHex(v.key), fromHex(kCbcIv));
    EXPECT_EQ(hex(enc.encryptCbc(plain)), hex(cipher));
    EXPECT_EQ(enc.chain(), cipher.substr(48));

    // One call per block must continue the same chain.
    AesContext dec;
    dec.configure(v.bits);
    dec.setDecryptKey(fromHex(v.key), fromHex(kCbcIv));
    Bytes joined;
    for (std::size_t at = 0; at < cipher.size(); at += 16) joined += dec.decryptCbc(cipher.substr(at, 16));
    EXPECT_EQ(hex(joined), hex(plain));
    EXPECT_EQ(dec.chain(), cipher.substr(48));
  }
}

TEST_P(AesCbcPaths, PartialBlockIsDroppedAndChainContinues) {
  const Bytes key = fromHex(kSp80038a[0].key);
  const Bytes plain = fromHex(kCbcPlain);
  const Bytes expected = fromHex(kSp80038a[0].cipher);
  AesContext enc;
  enc.setEncryptKey(key, fromHex(kCbcIv));
  // 20 bytes: one block out, the 4 extra bytes are neither encrypted nor kept.
  const Bytes first = enc.encryptCbc(plain.substr(0, 20));
  EXPECT_EQ(hex(first), hex(expected.substr(0, 16)));
  EXPECT_EQ(enc.chain(), expected.substr(0, 16));
  EXPECT_EQ(hex(enc.encryptCbc(plain.substr(16, 35))), hex(expected.substr(16, 32)));
  EXPECT_EQ(enc.encryptCbc(""), "");
  EXPECT_EQ(enc.encryptCbc(plain.substr(0, 15)), "");
  EXPECT_EQ(enc.chain(), expected.substr(32, 16));

  AesContext dec;
  dec.setDecryptKey(key, fromHex(kCbcIv));
  EXPECT_EQ(hex(dec.decryptCbc(expected.substr(0, 31))), hex(plain.substr(0, 16)));
  EXPECT_EQ(dec.chain(), expected.substr(0, 16));
}

TEST(AesContextState, NewContextHas128BitSizesAndNoKey) {
  AesContext c;
  EXPECT_EQ(c.keyWords(), 4);
  EXPECT_EQ(c.rounds(), 10);
  EXPECT_TRUE(c.chain().empty());
  // Before a key is set nothing is processed (never plaintext passed through).
  EXPECT_EQ(c.encryptCbc(Bytes(32, 'x')), "");
  EXPECT_EQ(c.decryptCbc(Bytes(32, 'x')), "");
  EXPECT_EQ(c.encryptBlock(Bytes(16, 'x')), "");
  EXPECT_EQ(c.decryptBlock(Bytes(16, 'x')), "");
}

TEST(AesContextState, ConfigureSizes) {
  const struct {
    int bits, words, rounds;
  } cases[] = {{128, 4, 10}, {192, 6, 12}, {256, 8, 14}, {0, 0, 0},
               {64, 0, 0},   {129, 0, 0},  {512, 0, 0},  {-128, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bits);
    AesContext ctx;
    ctx.configure(c.bits);
    EXPECT_EQ(ctx.keyWords(), c.words);
    EXPECT_EQ(ctx.rounds(), c.rounds);
  }
}

TEST(AesContextState, UnusableKeysLeaveContextWithoutKey) {
  const Bytes iv = fromHex(kCbcIv);
  {
    AesContext c;  // unsupported size, then a key
    c.configure(100);
    c.setEncryptKey(Bytes(32, 'k'), iv);
    EXPECT_FALSE(c.hasEncryptKey());
    EXPECT_EQ(c.encryptCbc(Bytes(16, 'x')), "");
  }
  {
    AesContext c;  // key shorter than the configured size
    c.configure(256);
    c.setDecryptKey(Bytes(16, 'k'), iv);
    EXPECT_FALSE(c.hasDecryptKey());
    EXPECT_EQ(c.decryptCbc(Bytes(16, 'x')), "");
  }
  {
    AesContext c;  // reconfiguring drops a key of the old size
    c.setEncryptKey(Bytes(16, 'k'), iv);
    ASSERT_TRUE(c.hasEncryptKey());
    c.configure(256);
    EXPECT_EQ(c.encryptCbc(Bytes(16, 'x')), "");
  }
  {
    AesContext c;  // a decrypting schedule does not encrypt, and vice versa
    c.setDecryptKey(Bytes(16, 'k'), iv);
    EXPECT_EQ(c.encryptCbc(Bytes(16, 'x')), "");
    c.setEncryptKey(Bytes(16, 'k'), iv);
    EXPECT_EQ(c.decryptCbc(Bytes(16, 'x')), "");
    EXPECT_EQ(c.encryptBlock(Bytes(15, 'x')), "");
  }
}

TEST(AesContextState, LongKeyAndShortIvUseWhatTheyNeed) {
  const Bytes key = fromHex(kSp80038a[0].key);
  AesContext a, b;
  a.setEncryptKey(key + "surplus", "");
  b.setEncryptKey(key, Bytes(16, '\0'));
  EXPECT_EQ(a.chain(), Bytes(16, '\0'));
  EXPECT_EQ(a.encryptCbc(Bytes(48, 'p')), b.encryptCbc(Bytes(48, 'p')));
  AesContext c;
  c.setEncryptKey(key, fromHex(kCbcIv) + "tail");
  EXPECT_EQ(c.chain(), fromHex(kCbcIv));
}

}  // namespace
}  // namespace qv
