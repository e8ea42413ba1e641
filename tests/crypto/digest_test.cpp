#include <gtest/gtest.h>

#include "crypto/hmac.h"
#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"

namespace qv {
namespace {

class Sha1Paths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(Sha1Paths);
class DigestPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(DigestPaths);
class HmacPaths : public test::CryptoPathTest {};
QV_ON_BOTH_CRYPTO_PATHS(HmacPaths);

using test::fromHex;
using test::hex;

struct DigestVector {
  std::string input;
  const char* md5;
};

TEST(Md5, Rfc1321Suite) {
  const DigestVector cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(hex(md5Digest(c.input)), c.md5) << c.input;
}

TEST_P(Sha1Paths, Fips180Suite) {
  EXPECT_EQ(hex(sha1Digest("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hex(sha1Digest("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(sha1Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(hex(sha1Digest(Bytes(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(hex(md5Digest(Bytes(1000000, 'a'))), "7707d6ae4e027c70eea2a935c2296f21");
}

// Lengths around the 55/56/64-byte padding boundaries, fed in uneven pieces,
// must equal the one-shot digest (which the suites above pin down).
TEST_P(DigestPaths, IncrementalMatchesOneShotAcrossPaddingBoundaries) {
  Bytes data;
  for (int k = 0; k < 300; ++k) data.push_back(static_cast<char>(k * 7 + 1));
  for (std::size_t n : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    SCOPED_TRACE(n);
    const std::string_view whole(data.data(), n);
    for (std::size_t piece : {1u, 3u, 63u, 64u, 100u}) {
      Md5Context m;
      Sha1Context s;
      for (std::size_t at = 0; at < n; at += piece) {
        m.update(whole.substr(at, piece));
        s.update(whole.substr(at, piece));
      }
      EXPECT_EQ(m.finish(), md5Digest(whole));
      EXPECT_EQ(s.finish(), sha1Digest(whole));
    }
  }
}

struct HmacVector {
  Bytes key;
  Bytes data;
  const char* md5;
  const char* sha1;
};

// RFC 2202 test cases 1-7 (cases 1, 3, 5 use 16-byte keys for MD5 and
// 20-byte keys for SHA-1; 6 and 7 use 80-byte keys, longer than a block).
TEST_P(HmacPaths, Rfc2202) {
  const Bytes key25 = fromHex("0102030405060708090a0b0c0d0e0f10111213141516171819");
  const struct {
    Bytes md5Key, sha1Key, data;
    const char *md5, *sha1;
  } cases[] = {
      {Bytes(16, '\x0b'), Bytes(20, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d",
       "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738",
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {Bytes(16, '\xaa'), Bytes(20, '\xaa'), Bytes(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6",
       "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {key25, key25, Bytes(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79",
       "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {Bytes(16, '\x0c'), Bytes(20, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c",
       "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {Bytes(80, '\xaa'), Bytes(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd", "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {Bytes(80, '\xaa'), Bytes(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6f630fad67cda0ee1fb1f562db3aa53e", "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(++n);
    EXPECT_EQ(hex(hmacMd5(c.md5Key, c.data)), c.md5);
    EXPECT_EQ(hex(hmacSha1(c.sha1Key, c.data)), c.sha1);
  }
}

TEST_P(HmacPaths, KeyLengthBoundaries) {
  // A 64-byte key is used as is; a 65-byte key is replaced by its digest.
  const Bytes key64(64, 'k');
  const Bytes key65(65, 'k');
  EXPECT_NE(hmacSha1(key64, "x"), hmacSha1(key64.substr(0, 63), "x"));
  EXPECT_EQ(hmacSha1(key65, "x"), hmacSha1(sha1Digest(key65), "x"));
  EXPECT_EQ(hmacMd5(key65, "x"), hmacMd5(md5Digest(key65), "x"));
  // Zero-extension: a key and the same key with trailing zero bytes agree.
  EXPECT_EQ(hmacMd5("key", "x"), hmacMd5(Bytes("key") + Bytes(10, '\0'), "x"));
  EXPECT_EQ(hmacMd5("", "").size(), 16u);
  EXPECT_EQ(hmacSha1("", "").size(), 20u);
}

}  // namespace
}  // namespace qv
