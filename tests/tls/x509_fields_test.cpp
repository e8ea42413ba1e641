// Reading certificate fields: real certificates from the openssl command,
// then hostile bytes that must only ever give a clean refusal.
#include <gtest/gtest.h>

#include <ctime>
#include <deque>
#include <random>

#include "tests/tls/chain_files.h"
#include "tls/certificate_policy.h"
#include "tls/pem.h"
#include "tls/x509_fields.h"

namespace qv {
namespace {

using test::chainFile;
using test::chainOf;

// The record's views point into the DER, so the bytes stay alive for the test.
X509Fields read(const Bytes& der) {
  static std::deque<Bytes> kept;
  kept.push_back(der);
  X509Fields fields;
  std::string problem;
  EXPECT_TRUE(ReadX509Fields(kept.back(), fields, problem)) << problem;
  return fields;
}

TEST(X509Fields, WhatTheCheckNeeds) {
  QV_REQUIRE_CHAINS();
  const Bytes leafDer = chainFile("leaf.der");
  const X509Fields leaf = read(leafDer);
  EXPECT_EQ(NameDisplay(leaf.subject), "O=Quorvel Test, CN=pbx.example.com");
  EXPECT_EQ(NameDisplay(leaf.issuer), "O=Quorvel Test, CN=Quorvel Test Intermediate");
  EXPECT_EQ(CommonName(leaf.subject), "pbx.example.com");
  EXPECT_EQ(leaf.signatureAlgorithm, SignatureAlgorithm::kRsaSha256);
  EXPECT_EQ(leaf.keyAlgorithm, KeyAlgorithm::kRsa);
  EXPECT_EQ(leaf.keyBits, 2048u);
  EXPECT_EQ(leaf.exponent, Bytes("\x01\x00\x01", 3));
  EXPECT_EQ(leaf.signature.size(), 256u);
  EXPECT_TRUE(leaf.hasBasicConstraints);
  EXPECT_FALSE(leaf.basicConstraintsCritical);
  EXPECT_FALSE(leaf.isCa);
  EXPECT_TRUE(leaf.hasSubjectAltName);
  EXPECT_EQ(leaf.dnsNames, (std::vector<std::string>{"pbx.example.com", "alt.example.org"}));
  ASSERT_EQ(leaf.ipAddresses.size(), 2u);
  EXPECT_EQ(IpAddressText(leaf.ipAddresses[0]), "127.0.0.1");
  EXPECT_EQ(IpAddressText(leaf.ipAddresses[1]), "::1");
  EXPECT_TRUE(leaf.unknownCriticalExtensions.empty());
  // The tbs view is the exact signed byte range inside the DER.
  EXPECT_EQ(leaf.tbs, std::string_view(leafDer).substr(4, leaf.tbs.size()));
  EXPECT_EQ(leaf.tbs.substr(0, 2), "\x30\x82");
  // Made a day back, for 400 days (UTCTime).
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_NEAR(static_cast<double>(leaf.notBefore), static_cast<double>(now - 86400), 600);
  EXPECT_EQ(leaf.notAfter - leaf.notBefore, 401LL * 86400);

  const X509Fields inter = read(chainFile("inter.der"));
  EXPECT_TRUE(inter.isCa);
  EXPECT_TRUE(inter.basicConstraintsCritical);
  EXPECT_EQ(inter.signatureAlgorithm, SignatureAlgorithm::kRsaSha384);
  EXPECT_FALSE(inter.hasSubjectAltName);
  EXPECT_EQ(read(chainFile("wild.der")).signatureAlgorithm, SignatureAlgorithm::kRsaSha512);
  EXPECT_EQ(read(chainFile("inter_sha1.der")).signatureAlgorithm, SignatureAlgorithm::kRsaSha1);

  // 20000 days reach past 2049: the end date is a GeneralizedTime.
  const X509Fields root = read(chainFile("root.der"));
  EXPECT_EQ(root.notAfter - root.notBefore, 20000LL * 86400);
  EXPECT_EQ(TimeText(root.notAfter).substr(0, 4), "2081");
  EXPECT_EQ(root.subject, root.issuer);

  const X509Fields ec = read(chainFile("ec_leaf.der"));
  EXPECT_EQ(ec.keyAlgorithm, KeyAlgorithm::kEc);
  EXPECT_EQ(ec.keyBits, 256u);
  EXPECT_EQ(ec.signatureAlgorithm, SignatureAlgorithm::kEcdsa);
  EXPECT_EQ(OidText(ec.signatureOid), "1.2.840.10045.4.3.2");
  EXPECT_EQ(ec.signatureHash, HashAlgorithm::kSha256);
  ASSERT_EQ(ec.ecPoint.size(), 65u);
  EXPECT_EQ(ec.ecPoint[0], '\x04');
  const X509Fields ec384 = read(chainFile("ec384_leaf.der"));
  EXPECT_EQ(ec384.keyBits, 384u);
  EXPECT_EQ(ec384.ecPoint.size(), 97u);
  EXPECT_EQ(ec384.signatureHash, HashAlgorithm::kSha384);
  EXPECT_EQ(read(chainFile("ec_leaf512.der")).signatureHash, HashAlgorithm::kSha512);
  // RSA-PSS: the key is an RSA key of its own kind; the signature's
  // parameters name its hash, or nothing when they are not ones we take.
  const X509Fields pss = read(chainFile("pss_leaf.der"));
  EXPECT_EQ(pss.keyAlgorithm, KeyAlgorithm::kRsaPss);
  EXPECT_EQ(pss.keyBits, 2048u);
  EXPECT_EQ(pss.signatureAlgorithm, SignatureAlgorithm::kRsaPss);
  EXPECT_EQ(pss.signatureHash, HashAlgorithm::kSha384);
  EXPECT_FALSE(read(chainFile("pss_maxsalt.der")).signatureHash.has_value());
  EXPECT_FALSE(read(chainFile("leaf.der")).signatureHash.has_value());

  const X509Fields odd = read(chainFile("oddext.der"));
  ASSERT_EQ(odd.unknownCriticalExtensions.size(), 1u);
  EXPECT_EQ(OidText(odd.unknownCriticalExtensions[0]), "1.2.3.4.5");
}

TEST(X509Fields, PemBundleGivesTheSameDer) {
  QV_REQUIRE_CHAINS();
  const Bytes bundle = "junk before\n" + chainFile("leaf.pem") + chainFile("leaf.key") +
                       chainFile("inter.pem") +
                       "-----BEGIN CERTIFICATE-----\nnot*base64\n-----END CERTIFICATE-----\n" +
                       "-----BEGIN CERTIFICATE-----\nTWFu\n";
  std::size_t skipped = 0;
  const std::vector<Bytes> certificates = ReadPemCertificates(bundle, &skipped);
  ASSERT_EQ(certificates.size(), 2u);
  EXPECT_EQ(certificates[0], chainFile("leaf.der"));
  EXPECT_EQ(certificates[1], chainFile("inter.der"));
  EXPECT_EQ(skipped, 2u);
}

TEST(Pem, Base64Vectors) {
  const std::pair<const char*, const char*> good[] = {
      {"", ""},
      {"Zg==", "f"},
      {"Zm8=", "fo"},
      {"Zm9v", "foo"},
      {"Zm9vYg==", "foob"},
      {"Zm9vYmE=", "fooba"},
      {"Zm9v\r\n YmFy", "foobar"},
  };
  for (const auto& [text, bytes] : good) {
    Bytes out;
    EXPECT_TRUE(base64Decode(text, out)) << text;
    EXPECT_EQ(out, bytes) << text;
  }
  for (const char* text : {"Z", "Zg=", "Zg===", "Zg==Zg==", "Zm9v!", "Zm9vY"}) {
    Bytes out;
    EXPECT_FALSE(base64Decode(text, out)) << text;
  }
}

TEST(X509Fields, TextForms) {
  EXPECT_EQ(TimeText(0), "1970-01-01 00:00:00 UTC");
  EXPECT_EQ(TimeText(951782400), "2000-02-29 00:00:00 UTC");
  EXPECT_EQ(TimeText(2524607999), "2049-12-31 23:59:59 UTC");
  EXPECT_EQ(TimeText(-1), "1969-12-31 23:59:59 UTC");
  EXPECT_EQ(OidText(std::string_view("\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B", 9)), "1.2.840.113549.1.1.11");
  EXPECT_EQ(OidText(std::string_view("\x55\x1D\x11", 3)), "2.5.29.17");
  EXPECT_EQ(OidText(std::string(12, '\xFF')), "?");

  struct IpCase {
    const char* text;
    bool ok;
    const char* shown;
  };
  const IpCase ips[] = {
      {"127.0.0.1", true, "127.0.0.1"},
      {"0.0.0.0", true, "0.0.0.0"},
      {"255.255.255.255", true, "255.255.255.255"},
      {"256.0.0.1", false, ""},
      {"1.2.3", false, ""},
      {"1.2.3.4.5", false, ""},
      {"1.2.3.", false, ""},
      {"01.2.3.4x", false, ""},
      {"pbx.example.com", false, ""},
      {"::1", true, "::1"},
      {"::", true, "::"},
      {"[::1]", true, "::1"},
      {"fe80::1:2", true, "fe80::1:2"},
      {"2001:db8:0:0:1:0:0:1", true, "2001:db8::1:0:0:1"},
      {"2001:DB8::", true, "2001:db8::"},
      {"1:2:3:4:5:6:7:8", true, "1:2:3:4:5:6:7:8"},
      {"1:2:3:4:5:6:7:8:9", false, ""},
      {"1::2::3", false, ""},
      {"1:", false, ""},
      {"12345::", false, ""},
      {"fe80::1%eth0", false, ""},
      {"", false, ""},
  };
  for (const IpCase& c : ips) {
    Bytes address;
    EXPECT_EQ(ParseIpAddress(c.text, address), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(IpAddressText(address), c.shown) << c.text;
    }
  }
}

// The chain check with verification on over hostile bytes: never a crash,
// never an acceptance.
void expectRefused(const std::vector<Bytes>& chain, const std::vector<Bytes>& roots, const char* what) {
  CertificatePolicy policy;
  policy.verifyChain = true;
  policy.trustedRoots = roots;
  policy.address = "pbx.example.com";
  const CertificateVerdict verdict = CheckServerCertificates(chain, policy, std::time(nullptr));
  EXPECT_FALSE(verdict.accepted) << what;
  EXPECT_FALSE(verdict.logLine.empty()) << what;
}

TEST(X509Fields, HostileDer) {
  const Bytes bogus[] = {
      Bytes(),
      Bytes("\x30", 1),
      Bytes("\x30\x84\xFF\xFF\xFF\xFF", 6),
      Bytes("\x30\x85\x01\x00\x00\x00\x00\x00", 8),
      Bytes("\x30\x80\x00\x00", 4),  // indefinite length
      Bytes("\x30\x82\x00\x04\x30\x82\xFF\xFF", 8),
      Bytes("\x30\x03\x30\x01\x00", 5),
      Bytes(100000, '\x30'),
      Bytes(5000, '\0'),
  };
  for (const Bytes& der : bogus) {
    X509Fields fields;
    std::string problem;
    EXPECT_FALSE(ReadX509Fields(der, fields, problem));
    EXPECT_FALSE(problem.empty());
    expectRefused({der}, {der}, "bogus");
    EXPECT_EQ(NameDisplay(der).size() < 100000, true);
  }
}

TEST(X509Fields, TruncatedAndInflatedCertificates) {
  QV_REQUIRE_CHAINS();
  const Bytes leaf = chainFile("leaf.der");
  const std::vector<Bytes> roots = chainOf("root");
  const Bytes inter = chainFile("inter.der");
  for (std::size_t length = 0; length < leaf.size(); ++length) {
    X509Fields fields;
    std::string problem;
    ASSERT_FALSE(ReadX509Fields(leaf.substr(0, length), fields, problem)) << length;
    expectRefused({leaf.substr(0, length), inter}, roots, "truncated leaf");
  }
  for (std::size_t length = 0; length < inter.size(); ++length) {
    expectRefused({leaf, inter.substr(0, length)}, roots, "truncated intermediate");
  }
  // Every byte in turn claims a four-byte length of 0xFFFFFFFF.
  for (std::size_t at = 0; at + 5 < leaf.size(); ++at) {
    Bytes inflated = leaf;
    inflated.replace(at, 5, "\x84\xFF\xFF\xFF\xFF", 5);
    expectRefused({inflated, inter}, roots, "inflated length");
  }
  // Random damage to the intermediate; a fixed seed keeps the run repeatable.
  std::mt19937 random(12345);
  for (int round = 0; round < 500; ++round) {
    Bytes damaged = inter;
    for (int k = 0; k < 4; ++k) {
      damaged[random() % damaged.size()] = static_cast<char>(random());
    }
    if (damaged != inter) expectRefused({leaf, damaged}, roots, "damaged intermediate");
  }
}

}  // namespace
}  // namespace qv
