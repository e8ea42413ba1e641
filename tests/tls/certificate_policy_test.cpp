// The server-certificate check against chains the openssl command made.
#include <gtest/gtest.h>

#include <ctime>

#include "tests/tls/chain_files.h"
#include "tests/tls/test_certificates.h"
#include "tls/certificate_policy.h"

namespace qv {
namespace {

using test::chainFile;
using test::chainOf;

std::int64_t now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string trimmedFile(const std::string& name) {
  std::string text = chainFile(name);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

struct ChainCase {
  const char* name;
  const char* chain;  // file names, leaf first
  const char* roots;
  const char* serverName;
  const char* address;
  bool accepted;
  std::uint8_t alert;
  const char* lineHas;
};

TEST(CertificateVerification, ChainsAgainstTrustedRoots) {
  QV_REQUIRE_CHAINS();
  namespace alert = certificate_alert;
  const ChainCase cases[] = {
      {"good chain", "leaf inter", "root", "office", "pbx.example.com", true, 0, ""},
      {"good chain with its root", "leaf inter root", "root", "office", "pbx.example.com", true, 0, ""},
      {"name from the hello", "leaf inter", "root", "PBX.Example.COM", "10.1.2.3", true, 0, ""},
      {"second SAN, trailing dot", "leaf inter", "root", "", "alt.example.org.", true, 0, ""},
      {"wrong name", "leaf inter", "root", "office", "other.example.com", false, alert::kBadCertificate,
       "Certificate of O=Quorvel Test, CN=pbx.example.com names pbx.example.com, alt.example.org, 127.0.0.1, "
       "::1, not office or other.example.com"},
      {"IPv4 SAN", "leaf inter", "root", "office", "127.0.0.1", true, 0, ""},
      {"IPv6 SAN", "leaf inter", "root", "office", "::1", true, 0, ""},
      {"either of two IP addresses", "leaf inter", "root", "::1", "10.9.9.9", true, 0, ""},
      {"IPv6 SAN in brackets", "leaf inter", "root", "office", "[0:0::1]", true, 0, ""},
      {"other IP", "leaf inter", "root", "office", "127.0.0.2", false, alert::kBadCertificate, "not office"},
      {"IP address as the server name", "leaf inter", "root", "127.0.0.1", "", true, 0, ""},
      {"wildcard match", "wild inter", "root", "office", "a.example.com", true, 0, ""},
      {"wildcard needs a label", "wild inter", "root", "office", "example.com", false, alert::kBadCertificate,
       "names *.example.com"},
      {"wildcard is one label", "wild inter", "root", "office", "a.b.example.com", false,
       alert::kBadCertificate, "names *.example.com"},
      {"SAN hides the common name", "wild inter", "root", "office", "wildcard", false, alert::kBadCertificate,
       "names *.example.com"},
      {"common name without SAN", "cnonly inter", "root", "office", "pbx.example.com", true, 0, ""},
      {"common name is no IP", "cnonly inter", "root", "office", "127.0.0.1", false, alert::kBadCertificate,
       "names pbx.example.com"},
      {"expired", "expired inter", "root", "", "pbx.example.com", false, alert::kCertificateExpired,
       "Certificate of CN=expired expired 20"},
      {"not yet valid", "future inter", "root", "", "pbx.example.com", false, alert::kCertificateExpired,
       "Certificate of CN=future is not valid before 20"},
      {"expired intermediate", "leaf_old inter_old", "root", "", "pbx.example.com", false,
       alert::kCertificateExpired, "Certificate of CN=Expired Intermediate expired"},
      {"unknown root", "leaf_other other_inter", "root", "", "pbx.example.com", false, alert::kUnknownCa,
       "Certificate of CN=Other Intermediate is issued by CN=Other Root, which is not a trusted root"},
      {"unknown root sent along", "leaf_other other_inter other_root", "root", "", "pbx.example.com", false,
       alert::kUnknownCa, "CN=Other Root is issued by CN=Other Root, which is not a trusted root"},
      {"no roots at all", "leaf inter", "", "", "pbx.example.com", false, alert::kUnknownCa,
       "not a trusted root"},
      {"intermediate without CA flag", "leaf_noca inter_noca", "root", "", "pbx.example.com", false,
       alert::kBadCertificate,
       "Certificate of CN=Not A CA is not a CA certificate but issued CN=pbx.example.com"},
      {"SHA-1 intermediate", "leaf_sha1i inter_sha1", "root", "", "pbx.example.com", false,
       alert::kBadCertificate,
       "Certificate of CN=SHA-1 Intermediate is signed with SHA-1 with RSA, which is refused"},
      {"SHA-1 self-signed root", "leaf_r1 inter_r1", "root_sha1", "", "pbx.example.com", true, 0, ""},
      {"SHA-1 root sent along", "leaf_r1 inter_r1 root_sha1", "root_sha1", "", "pbx.example.com", true, 0,
       ""},
      {"ECDSA P-256 chain", "ec_leaf", "ec_root", "", "pbx.example.com", true, 0, ""},
      {"ECDSA with SHA-512", "ec_leaf512", "ec_root", "", "pbx.example.com", true, 0, ""},
      {"ECDSA P-384 chain", "ec384_leaf", "ec384_root", "", "pbx.example.com", true, 0, ""},
      {"RSA leaf under an EC root", "leaf_by_ec", "ec_root", "", "pbx.example.com", true, 0, ""},
      {"ECDSA signature, RSA issuer", "ec_leaf", "ec_name_rsa_root", "", "pbx.example.com", false,
       alert::kBadCertificate,
       "Certificate of CN=pbx.example.com claims an ECDSA signature but its issuer CN=EC Root has no EC key"},
      {"ECDSA signature by another EC key", "ec_leaf", "ec_root_twin", "", "pbx.example.com", false,
       alert::kBadCertificate,
       "Signature of CN=EC Root on the certificate of CN=pbx.example.com does not verify"},
      {"RSA-PSS chain", "pss_leaf", "pss_root", "", "pbx.example.com", true, 0, ""},
      {"RSA-PSS signature by an RSA root", "pss_by_rsa", "root", "", "pbx.example.com", true, 0, ""},
      {"RSA-PSS with a salt we do not take", "pss_maxsalt", "root", "", "pbx.example.com", false,
       alert::kUnsupportedCertificate,
       "Certificate of CN=pbx.example.com is signed with RSASSA-PSS (1.2.840.113549.1.1.10), which this "
       "verifier does not implement"},
      {"unknown critical extension", "oddext inter", "root", "", "pbx.example.com", false,
       alert::kUnsupportedCertificate,
       "Certificate of CN=odd has an unsupported critical extension 1.2.3.4.5"},
      {"gap in the chain", "leaf root", "root", "", "pbx.example.com", false, alert::kBadCertificate,
       "is not issued by the next one in the chain, O=Quorvel Test, CN=Quorvel Test Root"},
      {"leaf trusted itself", "leaf", "leaf", "", "pbx.example.com", true, 0, ""},
      {"leaf alone", "leaf", "root", "", "pbx.example.com", false, alert::kUnknownCa, "not a trusted root"},
      {"no name to check", "leaf inter", "root", "", "", false, alert::kBadCertificate, "(no server name)"},
  };
  for (const ChainCase& c : cases) {
    CertificatePolicy policy;
    policy.verifyChain = true;
    policy.trustedRoots = chainOf(c.roots);
    policy.serverName = c.serverName;
    policy.address = c.address;
    const CertificateVerdict verdict = CheckServerCertificates(chainOf(c.chain), policy, now());
    EXPECT_EQ(verdict.accepted, c.accepted) << c.name << ": " << verdict.logLine;
    EXPECT_EQ(verdict.alert, c.alert) << c.name;
    EXPECT_NE(verdict.logLine.find(c.lineHas), std::string::npos) << c.name << ": " << verdict.logLine;
  }
}

TEST(CertificateVerification, EveryDateOfThePathCountsAgainstTheClock) {
  QV_REQUIRE_CHAINS();
  CertificatePolicy policy;
  policy.verifyChain = true;
  policy.trustedRoots = chainOf("root");
  policy.address = "pbx.example.com";
  const std::vector<Bytes> chain = chainOf("leaf inter");
  EXPECT_TRUE(CheckServerCertificates(chain, policy, now()).accepted);
  // Leaf and intermediate end 400 days from now, the root in 2081.
  EXPECT_TRUE(CheckServerCertificates(chain, policy, now() + 398LL * 86400).accepted);
  const CertificateVerdict late = CheckServerCertificates(chain, policy, now() + 401LL * 86400);
  EXPECT_EQ(late.alert, certificate_alert::kCertificateExpired);
  EXPECT_NE(late.logLine.find("CN=pbx.example.com expired 20"), std::string::npos) << late.logLine;
  const CertificateVerdict early = CheckServerCertificates(chain, policy, now() - 3 * 86400);
  EXPECT_NE(early.logLine.find("is not valid before"), std::string::npos) << early.logLine;
  const CertificateVerdict afterRoot = CheckServerCertificates(chainOf("leaf inter root"), policy,
                                                               4102444800LL);  // 2100-01-01
  EXPECT_FALSE(afterRoot.accepted);
}

TEST(CertificateVerification, AChangedByteAnywhereInTheLeafIsRefused) {
  QV_REQUIRE_CHAINS();
  CertificatePolicy policy;
  policy.verifyChain = true;
  policy.trustedRoots = chainOf("root");
  policy.address = "pbx.example.com";
  std::vector<Bytes> chain = chainOf("leaf inter");
  const Bytes leaf = chain[0];
  // Every byte position (each bit 0 and bit 7) and the last signature byte in particular.
  for (std::size_t k = 0; k < leaf.size(); ++k) {
    for (int bit : {0, 7}) {
      chain[0] = leaf;
      chain[0][k] = static_cast<char>(chain[0][k] ^ (1 << bit));
      const CertificateVerdict verdict = CheckServerCertificates(chain, policy, now());
      ASSERT_FALSE(verdict.accepted) << "byte " << k << " bit " << bit;
    }
  }
  chain[0] = leaf;
  chain[0].back() = static_cast<char>(chain[0].back() ^ 1);
  const CertificateVerdict verdict = CheckServerCertificates(chain, policy, now());
  EXPECT_NE(
      verdict.logLine.find("Signature of O=Quorvel Test, CN=Quorvel Test Intermediate on the certificate "
                           "of O=Quorvel Test, CN=pbx.example.com does not verify"),
      std::string::npos)
      << verdict.logLine;
}

TEST(CertificateVerification, FixedTestCertificatesWithA1024BitCa) {
  // The engine's own test CA (SHA-1 self-signed, 1024 bits): its SHA-256
  // certificate verifies, the SHA-1 and MD5 ones are refused.
  CertificatePolicy policy;
  policy.verifyChain = true;
  policy.trustedRoots = {test::bytesOfHex(test::kCaHex)};
  policy.address = "big.example.com";
  const std::int64_t when = 1800000000;  // 2027-01-15, inside every validity
  EXPECT_TRUE(CheckServerCertificates({test::bytesOfHex(test::kBigHex)}, policy, when).accepted);
  policy.address = "pbx.example.com";
  const CertificateVerdict sha1 = CheckServerCertificates({test::bytesOfHex(test::kServerHex)}, policy, when);
  EXPECT_NE(sha1.logLine.find("is signed with SHA-1 with RSA, which is refused"), std::string::npos)
      << sha1.logLine;
  const CertificateVerdict md5 =
      CheckServerCertificates({test::bytesOfHex(test::kServerMd5Hex)}, policy, when);
  EXPECT_NE(md5.logLine.find("is signed with MD5 with RSA, which is refused"), std::string::npos)
      << md5.logLine;
}

TEST(CertificatePinning, LeafFingerprintDecides) {
  QV_REQUIRE_CHAINS();
  const std::string opensslFingerprint = trimmedFile("leaf.fingerprint");
  ASSERT_EQ(FingerprintText(chainFile("leaf.der")), opensslFingerprint);
  const std::string otherFingerprint = FingerprintText(chainFile("wild.der"));

  struct PinCase {
    const char* name;
    std::string pins;
    const char* chain;
    bool accepted;
  };
  std::string lowerBare;
  for (char c : opensslFingerprint) {
    if (c != ':') lowerBare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  const PinCase cases[] = {
      {"match", opensslFingerprint, "leaf inter", true},
      {"lower case without colons", lowerBare, "leaf inter", true},
      {"two pins, second matches", otherFingerprint + " ; " + opensslFingerprint, "leaf inter", true},
      {"two pins with comma, first matches", opensslFingerprint + "," + otherFingerprint, "leaf", true},
      {"mismatch", otherFingerprint, "leaf inter", false},
      {"pin of the intermediate", FingerprintText(chainFile("inter.der")), "leaf inter", false},
      {"ECDSA leaf pinned", FingerprintText(chainFile("ec_leaf.der")), "ec_leaf", true},
  };
  for (const PinCase& c : cases) {
    CertificatePolicy policy;
    ASSERT_TRUE(ParsePins(c.pins, policy.pins)) << c.name;
    const CertificateVerdict verdict = CheckServerCertificates(chainOf(c.chain), policy, now());
    EXPECT_EQ(verdict.accepted, c.accepted) << c.name << ": " << verdict.logLine;
    if (!c.accepted) {
      EXPECT_EQ(verdict.alert, certificate_alert::kBadCertificate) << c.name;
      EXPECT_EQ(verdict.logLine,
                "Certificate of O=Quorvel Test, CN=pbx.example.com with SHA-256 fingerprint " +
                    opensslFingerprint + " matches no certpin")
          << c.name;
    }
  }
}

TEST(CertificatePinning, PinAndVerificationMustBothPass) {
  QV_REQUIRE_CHAINS();
  CertificatePolicy policy;
  ASSERT_TRUE(ParsePins(FingerprintText(chainFile("ec_leaf.der")), policy.pins));
  policy.verifyChain = true;
  policy.trustedRoots = chainOf("ec_root");
  policy.address = "pbx.example.com";
  CertificateVerdict verdict = CheckServerCertificates(chainOf("ec_leaf"), policy, now());
  EXPECT_TRUE(verdict.accepted) << verdict.logLine;
  // The pin matches; the chain does not lead to a trusted root.
  policy.trustedRoots = chainOf("ec384_root");
  verdict = CheckServerCertificates(chainOf("ec_leaf"), policy, now());
  EXPECT_FALSE(verdict.accepted);
  EXPECT_NE(verdict.logLine.find("not a trusted root"), std::string::npos);
  // A verified chain whose leaf is not pinned.
  policy.trustedRoots = chainOf("root");
  verdict = CheckServerCertificates(chainOf("leaf inter"), policy, now());
  EXPECT_FALSE(verdict.accepted);
  EXPECT_NE(verdict.logLine.find("matches no certpin"), std::string::npos);
}

TEST(CertificatePinning, NoChecksConfiguredAcceptsAnything) {
  const CertificateVerdict verdict = CheckServerCertificates({Bytes("junk")}, CertificatePolicy{}, 0);
  EXPECT_TRUE(verdict.accepted);
  EXPECT_EQ(verdict.alert, 0);
  CertificatePolicy pinned;
  pinned.pins.push_back(Bytes(32, 'x'));
  EXPECT_EQ(CheckServerCertificates({}, pinned, 0).logLine, "Server sent no certificate");
  // A leaf that is not even DER still gets its fingerprint named.
  const CertificateVerdict junk = CheckServerCertificates({Bytes("junk")}, pinned, 0);
  EXPECT_FALSE(junk.accepted);
  EXPECT_NE(junk.logLine.find("Certificate of (unreadable) with SHA-256 fingerprint "), std::string::npos);
}

TEST(CertificatePinning, PinTexts) {
  const std::string hex64(64, 'a');
  const std::string colons =
      "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99";
  struct Case {
    const char* name;
    std::string text;
    bool ok;
    std::size_t count;
  };
  const Case cases[] = {
      {"empty", "", true, 0},
      {"separators only", " ; , ", true, 0},
      {"bare hex", hex64, true, 1},
      {"colons", colons, true, 1},
      {"mixed case, spaces, trailing separator", " " + colons + " ;\t" + hex64 + " ;", true, 2},
      {"too short", hex64.substr(2), false, 0},
      {"too long", hex64 + "aa", false, 1},
      {"odd digit count", hex64 + "a", false, 0},
      {"not hex", std::string(63, 'a') + "g", false, 0},
      {"space inside", hex64.substr(0, 32) + " " + hex64.substr(32), false, 0},
      {"SHA-1 length", std::string(40, 'b'), false, 0},
  };
  for (const Case& c : cases) {
    std::vector<Bytes> pins;
    EXPECT_EQ(ParsePins(c.text, pins), c.ok) << c.name;
    if (c.ok) {
      EXPECT_EQ(pins.size(), c.count) << c.name;
    }
  }
  std::vector<Bytes> pins;
  ASSERT_TRUE(ParsePins(colons, pins));
  EXPECT_EQ(static_cast<std::uint8_t>(pins[0][0]), 0xAA);
  EXPECT_EQ(static_cast<std::uint8_t>(pins[0][31]), 0x99);
}

TEST(CertificateNames, HostNameRules) {
  struct Case {
    const char* pattern;
    const char* host;
    bool matches;
  };
  const Case cases[] = {
      {"pbx.example.com", "pbx.example.com", true},
      {"PBX.example.COM", "pbx.EXAMPLE.com", true},
      {"pbx.example.com.", "pbx.example.com", true},
      {"pbx.example.com", "pbx.example.co", false},
      {"*.example.com", "a.example.com", true},
      {"*.example.com", "A.EXAMPLE.COM.", true},
      {"*.example.com", "example.com", false},
      {"*.example.com", "a.b.example.com", false},
      {"*.example.com", ".example.com", false},
      {"*.example.com", "aexample.com", false},
      {"*.com", "example.com", false},
      {"a*.example.com", "ab.example.com", false},
      {"*.*.example.com", "a.b.example.com", false},
      {"a.*.example.com", "a.b.example.com", false},
      {"", "", false},
      {"*", "a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostNameMatches(c.pattern, c.host), c.matches) << c.pattern << " vs " << c.host;
  }
}

}  // namespace
}  // namespace qv
