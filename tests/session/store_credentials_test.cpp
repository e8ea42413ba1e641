// The store side of client certificates without a store: thumbprints as
// people paste them, r || s to DER. (Each scheme's hash and padding are
// checked with OpenSSL signing in the store's place: client_certificate_test.)
#include "session/store_credentials.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

TEST(StoreCredentials, ThumbprintsAsPastedAreReadAndAnythingElseRefused) {
  const Bytes expected = fromHex("0123456789abcdef0123456789abcdef01234567");
  const char* accepted[] = {
      "0123456789abcdef0123456789abcdef01234567",
      "0123456789ABCDEF0123456789ABCDEF01234567",
      "01 23 45 67 89 ab cd ef 01 23 45 67 89 ab cd ef 01 23 45 67",
      "01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67",
      ("\xE2\x80\x8E"
       "0123456789abcdef0123456789abcdef01234567"),  // copied from the certificate window
  };
  for (const char* text : accepted) {
    SCOPED_TRACE(text);
    auto parsed = ParseStoreThumbprint(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, expected);
  }
  const char* refused[] = {
      "",
      "0123456789abcdef0123456789abcdef0123456",    // 39 digits
      "0123456789abcdef0123456789abcdef012345678",  // 41
      "0123456789abcdef0123456789abcdef0123456789",
      "0123456789abcdef0123456789abcdef0123456g",
      "0x23456789abcdef0123456789abcdef01234567",
      ("\xE2\x80"
       "0123456789abcdef0123456789abcdef01234567"),  // a broken mark
  };
  for (const char* text : refused) EXPECT_FALSE(ParseStoreThumbprint(text).has_value()) << text;
}

TEST(StoreCredentials, P1363SignaturesBecomeStrictDer) {
  struct Case {
    std::string r, s;  // hex
    std::string der;   // hex; empty: refused
  };
  const std::string r32 = "1" + std::string(63, '1');
  const Case cases[] = {
      // top bit of s set: a zero byte keeps it positive
      {r32, "8" + std::string(63, '0'),
       "3045"
       "0220" +
           r32 +
           "022100"
           "8" +
           std::string(63, '0')},
      // leading zero bytes of r dropped, a zero r is one zero byte
      {"0000" + std::string(60, '7'), std::string(64, '0'),
       "3023"
       "021e" +
           std::string(60, '7') + "020100"},
      {"00" + std::string(62, 'f'), "01" + std::string(62, '0'),
       "3044"
       "022000" +
           std::string(62, 'f') +
           "0220"
           "01" +
           std::string(62, '0')},
      // P-384 with both top bits set
      {std::string(96, 'f'), std::string(96, 'e'),
       "3066"
       "023100" +
           std::string(96, 'f') + "023100" + std::string(96, 'e')},
      // P-521 sized halves need the long length form
      {"01" + std::string(130, 'a'), "01" + std::string(130, 'b'),
       "308188"
       "0242"
       "01" +
           std::string(130, 'a') +
           "0242"
           "01" +
           std::string(130, 'b')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.r);
    EXPECT_EQ(EcdsaP1363ToDer(fromHex(c.r + c.s)), fromHex(c.der));
  }
  EXPECT_EQ(EcdsaP1363ToDer(""), "");
  EXPECT_EQ(EcdsaP1363ToDer(fromHex("010203")), "");
  EXPECT_EQ(EcdsaP1363ToDer(Bytes(134, '\x01')), "");
}

}  // namespace
}  // namespace qv
