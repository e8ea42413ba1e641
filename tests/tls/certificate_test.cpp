#include <gtest/gtest.h>

#include "crypto/rsa.h"
#include "tests/tls/tls_test_util.h"
#include "tls/certificate.h"
#include "tls/der_reader.h"

namespace qv {
namespace {

using test::derOf;
using test::hexDecode;

TEST(DerReader, TakesElementsAndRejectsWhatDoesNotFit) {
  struct Case {
    const char* name;
    const char* input;
    std::uint8_t tag;
    bool found;
    std::size_t contentLength;
    std::size_t remaining;
  };
  const Case cases[] = {
      {"short form", "020105ff", 0x02, true, 1, 1},
      {"leading zeros skipped", "0000020105", 0x02, true, 1, 0},
      {"wrong tag keeps input", "020105", 0x30, false, 0, 3},
      {"long form 0x82 0100", "0482", 0x04, false, 0, 2},
      {"length past the end", "020a0102", 0x02, false, 0, 4},
      {"five length bytes", "02850000000001ff", 0x02, false, 0, 8},
      {"one byte only", "02", 0x02, false, 0, 1},
      {"empty", "", 0x02, false, 0, 0},
      {"0x84 within bounds", "028400000001aa", 0x02, true, 1, 0},
  };
  for (const Case& c : cases) {
    Bytes input = hexDecode(c.input);
    std::string_view view = input;
    const DerElement element = TakeElement(c.tag, view);
    EXPECT_EQ(element.found, c.found) << c.name;
    EXPECT_EQ(element.content.size(), c.contentLength) << c.name;
    EXPECT_EQ(view.size(), c.remaining) << c.name;
  }
}

TEST(DerReader, LongLengthOf256Bytes) {
  Bytes input = hexDecode(
                    "048201"
                    "00") +
                Bytes(256, 'x') + "tail";
  std::string_view view = input;
  const DerElement element = NextElement(view);
  ASSERT_TRUE(element.found);
  EXPECT_EQ(element.tag, 0x04);
  EXPECT_EQ(element.content.size(), 256u);
  EXPECT_EQ(view, "tail");
}

// A Name with the given (oid, tag, value) attributes, one per SET.
Bytes derLength(std::size_t n) {
  if (n < 0x80) return Bytes(1, static_cast<char>(n));
  return Bytes("\x82", 1) + uintToBytes(static_cast<std::uint32_t>(n), 2);
}
Bytes derWrap(std::uint8_t tag, std::string_view content) {
  return Bytes(1, static_cast<char>(tag)) + derLength(content.size()) + Bytes(content);
}
Bytes nameOf(std::initializer_list<std::tuple<const char*, std::uint8_t, const char*>> attributes) {
  Bytes name;
  for (const auto& [oid, tag, value] : attributes) {
    name += derWrap(0x31, derWrap(0x30, derWrap(0x06, hexDecode(oid)) + derWrap(tag, value)));
  }
  return name;
}

TEST(NameText, CommonNameOrFollowingUnitWins) {
  EXPECT_EQ(NameText(nameOf({{"550403", 0x0C, "pbx.example.com"}})), "pbx.example.com");
  EXPECT_EQ(NameText(nameOf({{"550403", 0x13, "a.example"}, {"55040b", 0x0C, "unit.example"}})),
            "unit.example");
  EXPECT_EQ(NameText(nameOf({{"55040b", 0x0C, "unit.example"}, {"550403", 0x14, "cn.example"}})),
            "cn.example");
  // Organisation and a BMPString common name are not names of the host.
  EXPECT_EQ(NameText(nameOf({{"55040a", 0x0C, "Quorvel"}, {"550403", 0x1E, "bmp"}})), "");
  EXPECT_EQ(NameText(""), "");
  EXPECT_EQ(NameText(hexDecode("3105300306")), "");
}

TEST(DomainMatches, ExactAndWildcardRules) {
  struct Case {
    const char* certificate;
    const char* expected;
    bool match;
  };
  const Case cases[] = {
      {"pbx.example.com", "PBX.Example.com", true},
      {"pbx.example.com", "example.com", false},
      {"*.b.c", "a.x.b.c", true},
      {"*.b.c", "x.b.c", true},
      {"*.B.C", "b.c", true},
      {"*.b.c", "X.B.C", true},
      {"*.b.c", "b.c.d", false},
      {"*.b.c", "c", false},
      {"*.b.c", "xb.c", false},
      {"*", "anything", false},
      {"", "", true},
      {"", "pbx", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DomainMatches(c.certificate, c.expected), c.match) << c.certificate << " vs " << c.expected;
  }
}

class CertificateChain : public ::testing::Test {
 protected:
  void SetUp() override { ClearTrustRoots(); }
  void TearDown() override { ClearTrustRoots(); }
  static Certificate caRoot() { return ParseCertificateChain({derOf(test::kCaHex)}, " ", test::testLog()); }
};

TEST_F(CertificateChain, ParseOnlyTakesKeyAndNameOfSelfSigned) {
  const Certificate certificate = ParseCertificateChain({derOf(test::kSelfHex)}, " ", test::testLog());
  EXPECT_EQ(certificate.subjectDomain, "self.example.com");
  EXPECT_EQ(certificate.modulus.size(), 128u);
  EXPECT_EQ(certificate.exponent, hexDecode("010001"));
  EXPECT_FALSE(certificate.publicKey.empty());
  EXPECT_EQ(certificate.chain.size(), 1u);
  EXPECT_TRUE(certificate.privateKeyDer.empty());
  // 0x82 0x01 0x01 INTEGER with a leading 00: 256 bytes of modulus.
  const Certificate big = ParseCertificateChain({derOf(test::kBigHex)}, " ", test::testLog());
  EXPECT_EQ(big.modulus.size(), 256u);
  EXPECT_NE(big.modulus[0], '\0');
  EXPECT_EQ(ParseCertificateChain({derOf(test::kUnitHex)}, " ", test::testLog()).subjectDomain,
            "unit.example.com");
}

TEST_F(CertificateChain, EmptyTrustListNamesTheMissingIssuer) {
  test::LogCapture log;
  const Certificate certificate = ParseCertificateChain({derOf(test::kServerHex)}, "", test::testLog());
  EXPECT_TRUE(log.contains("Certificate for Quorvel Test CA not available"));
  EXPECT_TRUE(certificate.subjectDomain.empty());
  EXPECT_TRUE(certificate.modulus.empty());
  EXPECT_TRUE(certificate.exponent.empty());
  EXPECT_FALSE(certificate.publicKey.empty());
  EXPECT_EQ(certificate.chain.size(), 1u);
}

TEST_F(CertificateChain, VerifiesSha1AndMd5SignaturesAgainstRoot) {
  AddTrustRoot(caRoot());
  for (const char* hex : {test::kServerHex, test::kServerMd5Hex}) {
    const Certificate certificate = ParseCertificateChain({derOf(hex)}, "", test::testLog());
    EXPECT_EQ(certificate.subjectDomain, "pbx.example.com");
    EXPECT_EQ(certificate.modulus.size(), 128u);
    EXPECT_FALSE(certificate.issuerName.empty());
  }
  // A chain that carries the root itself: the root is checked by its own key.
  const Certificate chain =
      ParseCertificateChain({derOf(test::kServerHex), derOf(test::kCaHex)}, "", test::testLog());
  EXPECT_EQ(chain.subjectDomain, "pbx.example.com");
  EXPECT_EQ(NameText(chain.issuerName), "Quorvel Test CA");
}

TEST_F(CertificateChain, RejectsTamperedAndUnsupportedSignatures) {
  AddTrustRoot(caRoot());
  test::LogCapture log;
  Bytes tampered = derOf(test::kServerHex);
  const std::size_t at = tampered.find("pbx.example.com");
  ASSERT_NE(at, Bytes::npos);
  tampered[at] = 'q';
  EXPECT_TRUE(ParseCertificateChain({tampered}, "", test::testLog()).modulus.empty());
  // SHA-256 is not among the accepted algorithms.
  EXPECT_TRUE(ParseCertificateChain({derOf(test::kBigHex)}, "", test::testLog()).modulus.empty());
  EXPECT_EQ(log.count("Certificate could not be verified"), 2u);
}

TEST_F(CertificateChain, RootWithWrongKeyFails) {
  Certificate impostor = caRoot();
  impostor.modulus = ParseCertificateChain({derOf(test::kSelfHex)}, " ", test::testLog()).modulus;
  AddTrustRoot(impostor);
  EXPECT_TRUE(ParseCertificateChain({derOf(test::kServerHex)}, "", test::testLog()).subjectDomain.empty());
}

TEST_F(CertificateChain, ReadsPrivateKeyGivenAsKeyText) {
  const Bytes key = derOf(test::kServerKeyHex);
  const Certificate certificate = ParseCertificateChain({derOf(test::kServerHex)}, key, test::testLog());
  EXPECT_EQ(certificate.privateKeyDer, key);
  // Leading zeros of the integers are kept.
  EXPECT_EQ(certificate.keyModulus.size(), 129u);
  EXPECT_EQ(StripLeadingZeros(certificate.keyModulus), certificate.modulus);
  EXPECT_EQ(certificate.keyPublicExponent, hexDecode("010001"));
  ASSERT_FALSE(certificate.keyPrivateExponent.empty());
  RsaKey rsa;
  rsa.setPrivateKey(certificate.keyPrivateExponent, certificate.keyPublicExponent, certificate.keyModulus,
                    certificate.keyPrime1, certificate.keyPrime2);
  const Bytes block = Bytes("\x00\x02", 2) + Bytes(125, '\x5A') + Bytes("\x00\x07", 2);
  RsaKey publicKey;
  publicKey.setPublicKey(certificate.exponent, certificate.modulus);
  EXPECT_EQ(rsaPrivateOp(rsa, rsaPublicOp(publicKey, block)), block);
}

TEST_F(CertificateChain, RefusesOtherKeyVersionsAndShortInput) {
  test::LogCapture log;
  Certificate certificate;
  certificate.privateKeyDer = derWrap(0x30, derWrap(0x02, "\x01") + derWrap(0x02, "\x05\x06\x07\x08\x09"));
  ReadPrivateKey(certificate, test::testLog());
  EXPECT_TRUE(certificate.keyModulus.empty());
  EXPECT_TRUE(log.contains("Cannot read private RSA key"));
  certificate.privateKeyDer = hexDecode("3003020100");
  ReadPrivateKey(certificate, test::testLog());
  EXPECT_TRUE(certificate.keyModulus.empty());
}

TEST_F(CertificateChain, GarbageAndTruncationReadAsEmpty) {
  const Bytes good = derOf(test::kServerHex);
  for (std::size_t cut : std::vector<std::size_t>{0, 1, 4, 100, good.size() / 2, good.size() - 1}) {
    const Certificate certificate = ParseCertificateChain({good.substr(0, cut)}, " ", test::testLog());
    EXPECT_TRUE(certificate.modulus.empty()) << cut;
  }
  EXPECT_TRUE(ParseCertificateChain({Bytes(5000, '\0')}, " ", test::testLog()).modulus.empty());
  EXPECT_TRUE(ParseCertificateChain({}, "", test::testLog()).subjectDomain.empty());
}

}  // namespace
}  // namespace qv
