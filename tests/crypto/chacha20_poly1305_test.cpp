// ChaCha20, Poly1305 and their AEAD against RFC 8439 section 2 and Wycheproof,
// on the AVX2 path and the portable one.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/chacha20.h"
#include "crypto/chacha20_avx2.h"
#include "crypto/chacha20_poly1305.h"
#include "crypto/poly1305.h"
#include "tests/crypto/crypto_path.h"
#include "tests/crypto/hex.h"
#include "tests/crypto/vector_files.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

const char kSunscreen[] =
    "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, "
    "sunscreen would be it.";

Bytes counting(int from, int n) {
  Bytes out;
  for (int k = 0; k < n; ++k) out.push_back(static_cast<char>(from + k));
  return out;
}

const unsigned char* u8(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

class ChaCha20 : public test::ChaChaPathTest {};
class Poly1305Mac : public test::ChaChaPathTest {};
class ChaCha20Poly1305Aead : public test::ChaChaPathTest {};

TEST_P(ChaCha20, Rfc8439BlockAndStream) {
  const Bytes key = counting(0, 32);
  unsigned char block[64];
  chacha20Block(u8(key), 1, u8(fromHex("000000090000004a00000000")), block);
  EXPECT_EQ(hex(std::string_view(reinterpret_cast<char*>(block), 64)),
            "10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
            "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e");
  EXPECT_EQ(hex(chacha20(key, 1, fromHex("000000000000004a00000000"), kSunscreen)),
            "6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0b"
            "f91b65c5524733ab8f593dabcd62b3571639d624e65152ab8f530c359f0861d8"
            "07ca0dbf500d6a6156a38e088a22b65e52bc514d16ccf806818ce91ab7793736"
            "5af90bbf74a35be6b40b8eedf2785e42874d");
  EXPECT_TRUE(chacha20(key.substr(1), 1, Bytes(12, '\0'), "x").empty());
  EXPECT_TRUE(chacha20(key, 1, Bytes(8, '\0'), "x").empty());
}

// Splitting a stream at any point gives the same bytes as one call, and the
// second half starts where the block counter says.
TEST_P(ChaCha20, StreamIsContinuousAcrossBlocks) {
  const Bytes key = counting(7, 32), nonce = counting(100, 12), data(1200, 'q');
  const Bytes whole = chacha20(key, 5, nonce, data);
  // Splits inside and at the edges of the eight-block runs.
  for (std::size_t blocks : {0u, 1u, 3u, 7u, 8u, 9u, 16u, 17u}) {
    const Bytes head = chacha20(key, 5, nonce, data.substr(0, 64 * blocks));
    const Bytes tail = chacha20(key, 5 + static_cast<std::uint32_t>(blocks), nonce, data.substr(64 * blocks));
    EXPECT_EQ(head + tail, whole) << blocks;
  }
  // In-place use.
  Bytes inPlace = data;
  chacha20Xor(u8(key), 5, u8(nonce), u8(inPlace), reinterpret_cast<unsigned char*>(inPlace.data()),
              inPlace.size());
  EXPECT_EQ(inPlace, whole);
}

// The AVX2-only kernel is what a CPU without AVX-512VL runs; on one with it
// the dispatcher never picks it, so it is checked here against the portable stream.
TEST(ChaCha20Kernels, Avx2OnlyMatchesPortable) {
  if (!chachaHardwareActive()) GTEST_SKIP() << "no AVX2 in use";
  const Bytes key = counting(3, 32), nonce = counting(50, 12), data = counting(9, 1100);
  forcePortableCryptoForTesting(true);
  const Bytes expected = chacha20(key, 7, nonce, data);
  forcePortableCryptoForTesting(false);
  for (std::size_t length : {0u, 1u, 63u, 64u, 511u, 512u, 513u, 1100u}) {
    std::uint32_t state[16] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    for (int k = 0; k < 8; ++k) std::memcpy(&state[4 + k], key.data() + 4 * k, 4);
    state[12] = 7;
    for (int k = 0; k < 3; ++k) std::memcpy(&state[13 + k], nonce.data() + 4 * k, 4);
    Bytes out(length, '\0');
    chacha_avx2::xorStreamAvx2Only(state, u8(data), reinterpret_cast<unsigned char*>(out.data()), length);
    EXPECT_EQ(hex(out), hex(expected.substr(0, length))) << length;
    EXPECT_EQ(state[12], 7 + (length + 63) / 64) << length;
  }
}

TEST_P(Poly1305Mac, Rfc8439MacAndKeyGeneration) {
  const Bytes key = fromHex("85d6be7857556d337f4452fe42d506a80103808afb0db2fd4abff6af4149f51b");
  const Bytes message = "Cryptographic Forum Research Group";
  EXPECT_EQ(hex(poly1305(key, message)), "a8061dc1305136c6c22b8baf0c0127a9");
  EXPECT_TRUE(poly1305(key.substr(1), message).empty());
  // The same tag fed in pieces of every size, and with an empty update.
  for (std::size_t piece = 1; piece <= 17; ++piece) {
    Poly1305 mac(u8(key));
    mac.update("");
    for (std::size_t at = 0; at < message.size(); at += piece)
      mac.update(std::string_view(message).substr(at, piece));
    Bytes tag(16, '\0');
    mac.finish(reinterpret_cast<unsigned char*>(tag.data()));
    EXPECT_EQ(hex(tag), "a8061dc1305136c6c22b8baf0c0127a9") << piece;
  }
  // 2.6.2: the one-time key is the first half of block 0.
  unsigned char block[64];
  chacha20Block(u8(counting(0x80, 32)), 0, u8(fromHex("000000000001020304050607")), block);
  EXPECT_EQ(hex(std::string_view(reinterpret_cast<char*>(block), 32)),
            "8ad5a08b905f81cc815040274ab29471a833b637e3fd0da508dbb8e2fdd1a646");
}

// Reductions near 2^130 - 5, where limb carries go wrong first (RFC 8439 A.3).
TEST_P(Poly1305Mac, ReductionEdges) {
  struct Case {
    const char* key;
    const char* message;
    const char* tag;
  };
  const Case cases[] = {
      // h reaches p exactly and must reduce to zero.
      {"0200000000000000000000000000000000000000000000000000000000000000", "ffffffffffffffffffffffffffffffff",
       "03000000000000000000000000000000"},
      // s makes the final addition wrap mod 2^128.
      {"02000000000000000000000000000000ffffffffffffffffffffffffffffffff", "02000000000000000000000000000000",
       "03000000000000000000000000000000"},
      {"0100000000000000000000000000000000000000000000000000000000000000",
       "fffffffffffffffffffffffffffffffff0ffffffffffffffffffffffffffffff11000000000000000000000000000000",
       "05000000000000000000000000000000"},
      {"0100000000000000000000000000000000000000000000000000000000000000",
       "fffffffffffffffffffffffffffffffffbfefefefefefefefefefefefefefefe01010101010101010101010101010101",
       "00000000000000000000000000000000"},
      {"0200000000000000000000000000000000000000000000000000000000000000", "fdffffffffffffffffffffffffffffff",
       "faffffffffffffffffffffffffffffff"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hex(poly1305(fromHex(c.key), fromHex(c.message))), c.tag) << c.message;
}

TEST_P(ChaCha20Poly1305Aead, Rfc8439Aead) {
  ChaCha20Poly1305 aead;
  EXPECT_FALSE(aead.hasKey());
  EXPECT_TRUE(aead.seal(Bytes(12, '\0'), "", "x").empty());
  ASSERT_TRUE(aead.setKey(counting(0x80, 32)));
  const Bytes nonce = fromHex("070000004041424344454647"), aad = fromHex("50515253c0c1c2c3c4c5c6c7");
  const Bytes sealed = aead.seal(nonce, aad, kSunscreen);
  EXPECT_EQ(hex(sealed),
            "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d6"
            "3dbea45e8ca9671282fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b36"
            "92ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
            "3ff4def08e4b7a9de576d26586cec64b6116"
            "1ae10b594f09e26a7e902ecbd0600691");
  const auto opened = aead.open(nonce, aad, sealed);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(*opened, kSunscreen);
  // Any flipped bit of ciphertext, tag or aad is refused.
  for (std::size_t at : {std::size_t{0}, sealed.size() / 2, sealed.size() - 16, sealed.size() - 1}) {
    Bytes bad = sealed;
    bad[at] ^= 0x01;
    EXPECT_FALSE(aead.open(nonce, aad, bad).has_value()) << at;
  }
  EXPECT_FALSE(aead.open(nonce, aad.substr(1), sealed).has_value());
  EXPECT_FALSE(aead.open(nonce, aad, sealed.substr(0, 15)).has_value());
  EXPECT_FALSE(aead.open(nonce.substr(1), aad, sealed).has_value());
  EXPECT_TRUE(aead.seal(nonce + "x", aad, "x").empty());
  EXPECT_FALSE(aead.setKey(Bytes(31, 'k')));
  EXPECT_FALSE(aead.hasKey());
  EXPECT_FALSE(aead.open(nonce, aad, sealed).has_value());
}

// Every group: only 12-byte nonces are accepted, so the other groups must
// be refused both ways whatever their verdict.
TEST_P(ChaCha20Poly1305Aead, Wycheproof) {
  const test::Json root = test::readWycheproof("chacha20_poly1305_test.json");
  int valid = 0, invalid = 0, otherNonce = 0;
  for (const auto& group : root["testGroups"].items) {
    const bool nonce12 = group["ivSize"].integer() == 96;
    for (const auto& t : group["tests"].items) {
      const std::string id = "tcId " + std::to_string(t["tcId"].integer()) + " " + t["comment"].str();
      ChaCha20Poly1305 aead;
      ASSERT_TRUE(aead.setKey(fromHex(t["key"].str()))) << id;
      const Bytes iv = fromHex(t["iv"].str()), aad = fromHex(t["aad"].str()), msg = fromHex(t["msg"].str());
      const auto opened = aead.open(iv, aad, fromHex(t["ct"].str() + t["tag"].str()));
      if (!nonce12) {
        EXPECT_FALSE(opened.has_value()) << id;
        EXPECT_TRUE(aead.seal(iv, aad, msg).empty()) << id;
        ++otherNonce;
      } else if (t["result"].str() == "valid") {
        ASSERT_TRUE(opened.has_value()) << id;
        EXPECT_EQ(*opened, msg) << id;
        EXPECT_EQ(hex(aead.seal(iv, aad, msg)), t["ct"].str() + t["tag"].str()) << id;
        ++valid;
      } else {
        EXPECT_FALSE(opened.has_value()) << id;
        ++invalid;
      }
    }
  }
  EXPECT_EQ(valid + invalid + otherNonce, 325);
  EXPECT_GT(invalid, 50);
  EXPECT_GT(otherNonce, 0);
}

QV_ON_BOTH_CRYPTO_PATHS(ChaCha20);
QV_ON_BOTH_CRYPTO_PATHS(Poly1305Mac);
QV_ON_BOTH_CRYPTO_PATHS(ChaCha20Poly1305Aead);

}  // namespace
}  // namespace qv
