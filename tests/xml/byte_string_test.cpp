#include "xml/byte_string.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

Bytes bytes(std::initializer_list<unsigned> values) {
  Bytes out;
  for (unsigned v : values) out += static_cast<char>(v);
  return out;
}

TEST(ByteStringTest, BytesToUIntKeepsTheLastFourBytes) {
  EXPECT_EQ(bytesToUInt(""), 0u);
  EXPECT_EQ(bytesToUInt(bytes({0x01, 0x02, 0x03})), 0x010203u);
  EXPECT_EQ(bytesToUInt(bytes({0x01, 0x02, 0x03, 0x04, 0x05})), 0x02030405u);
  EXPECT_EQ(bytesToUInt(bytes({0xFF, 0x80, 0x00, 0x7F})), 0xFF80007Fu);  // bytes are unsigned
}

TEST(ByteStringTest, UIntToBytesIsBigEndian) {
  EXPECT_EQ(uintToBytes(0x010203, 3), bytes({0x01, 0x02, 0x03}));
  EXPECT_EQ(uintToBytes(0x1234, 2), bytes({0x12, 0x34}));
  EXPECT_EQ(uintToBytes(0xDEADBEEF, 4), bytes({0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(uintToBytes(0xABCD, 1), bytes({0xCD}));
  EXPECT_EQ(uintToBytes(5, 0), "");
  EXPECT_EQ(uintToBytes(5, -3), "");
  EXPECT_EQ(uintToBytes(0x01020304, 6), bytes({0x00, 0x00, 0x01, 0x02, 0x03, 0x04}));  // zero-extended
  for (std::uint32_t v : {0u, 1u, 0x00FF00FFu, 0xFFFFFFFFu}) EXPECT_EQ(bytesToUInt(uintToBytes(v, 4)), v);
}

TEST(ByteStringTest, HexEncodeIsLowerCaseWithoutSeparators) {
  EXPECT_EQ(hexEncode(bytes({0x00, 0xAB, 0xFF})), "00abff");
  EXPECT_EQ(hexEncode(""), "");
  EXPECT_EQ(hexEncode(std::string("\x01\x23\x45\x67\x89", 5)), "0123456789");
}

TEST(ByteStringTest, ToLowerAsciiTouchesOnlyAsciiLetters) {
  // "Ä" is C3 84 in UTF-8; neither byte may change.
  EXPECT_EQ(toLowerAscii("MakeCall-\xC3\x84X"), "makecall-\xC3\x84x");
  EXPECT_EQ(toLowerAscii("@[`{AZaz09"), "@[`{azaz09");  // the neighbours of 'A'-'Z' stay
  EXPECT_EQ(toLowerAscii(std::string("A\0B", 3)), std::string("a\0b", 3));
}

TEST(ByteStringTest, XorBytesIsAsLongAsTheShorterInput) {
  EXPECT_EQ(xorBytes(bytes({0x0F, 0xF0, 0xAA}), bytes({0xFF, 0xFF, 0x55, 0x01, 0x02})),
            bytes({0xF0, 0x0F, 0xFF}));
  EXPECT_EQ(xorBytes(bytes({1, 2, 3, 4, 5}), bytes({1, 2, 3})), bytes({0, 0, 0}));
  EXPECT_EQ(xorBytes("", "abc"), "");
}

TEST(ByteStringTest, RandomBytesHasTheRequestedLength) {
  EXPECT_EQ(randomBytes(0), "");
  EXPECT_EQ(randomBytes(-1), "");
  Bytes a = randomBytes(32);
  Bytes b = randomBytes(32);
  ASSERT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);  // 2^-256 chance of a false failure
  EXPECT_NE(a, Bytes(32, '\0'));
}

TEST(ByteStringTest, IncrementCounterCarriesLeft) {
  struct Case {
    Bytes in, out;
  };
  const Case cases[] = {
      {bytes({0x00, 0x00, 0x00, 0xFF}), bytes({0x00, 0x00, 0x01, 0x00})},
      {bytes({0xFF, 0xFF}), bytes({0x00, 0x00})},
      {bytes({0x00}), bytes({0x01})},
      {bytes({0x12, 0xFF, 0xFF}), bytes({0x13, 0x00, 0x00})},
      {bytes({0, 0, 0, 0, 0, 0, 0, 0}), bytes({0, 0, 0, 0, 0, 0, 0, 1})},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(incrementCounter(c.in), c.out) << hexEncode(c.in);
}

}  // namespace
}  // namespace qv
