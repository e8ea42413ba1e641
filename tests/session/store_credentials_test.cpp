// The store side of client certificates without a store: thumbprints as
// people paste them, the schemes each key kind makes, r || s to DER.
#include "session/store_credentials.h"

#include <gtest/gtest.h>

#include <string>

#include "tls/hello_extensions.h"

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
      "\xE2\x80\x8E"
      "0123456789abcdef0123456789abcdef01234567",  // copied from the certificate window
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
      "\xE2\x80"
      "0123456789abcdef0123456789abcdef01234567",  // a broken mark
  };
  for (const char* text : refused) EXPECT_FALSE(ParseStoreThumbprint(text).has_value()) << text;
}

TEST(StoreCredentials, EachKeyKindMakesOnlyItsSchemes) {
  struct Case {
    StoreKeyKind kind;
    std::uint16_t scheme;
    bool made;
    HashAlgorithm digest;
    StorePadding padding;
  };
  const Case cases[] = {
      {StoreKeyKind::kRsa, kSchemeRsaPssRsaeSha256, true, HashAlgorithm::kSha256, StorePadding::kPss},
      {StoreKeyKind::kRsa, kSchemeRsaPssRsaeSha512, true, HashAlgorithm::kSha512, StorePadding::kPss},
      {StoreKeyKind::kRsa, kSchemeRsaPkcs1Sha384, true, HashAlgorithm::kSha384, StorePadding::kPkcs1},
      {StoreKeyKind::kRsa, 0x0809, false, {}, {}},  // rsa_pss_pss: the key is rsaEncryption
      {StoreKeyKind::kRsa, 0x0403, false, {}, {}},
      {StoreKeyKind::kEcP256, 0x0403, true, HashAlgorithm::kSha256, {}},
      {StoreKeyKind::kEcP256, 0x0503, false, {}, {}},
      {StoreKeyKind::kEcP384, 0x0503, true, HashAlgorithm::kSha384, {}},
      {StoreKeyKind::kEcP384, kSchemeRsaPkcs1Sha256, false, {}, {}},
      {StoreKeyKind::kEcP384, 0x0201, false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    auto request = StoreRequestForScheme(c.kind, c.scheme);
    ASSERT_EQ(request.has_value(), c.made);
    if (!c.made) continue;
    EXPECT_EQ(request->digest, c.digest);
    if (c.kind == StoreKeyKind::kRsa) {
      EXPECT_EQ(request->padding, c.padding);
    }
  }
  // Every scheme listed for a kind can be made by it.
  for (StoreKeyKind kind : {StoreKeyKind::kRsa, StoreKeyKind::kEcP256, StoreKeyKind::kEcP384}) {
    ASSERT_FALSE(StoreKeySchemes(kind).empty());
    for (std::uint16_t scheme : StoreKeySchemes(kind))
      EXPECT_TRUE(StoreRequestForScheme(kind, scheme)) << scheme;
  }
  EXPECT_EQ(StoreKeySchemes(StoreKeyKind::kRsa).front(), kSchemeRsaPssRsaeSha256);
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
