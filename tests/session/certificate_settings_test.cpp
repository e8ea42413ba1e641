// The policy made from the settings, and the trusted roots it loads.
#include <gtest/gtest.h>

#include "session/certificate_settings.h"
#include "tests/tls/chain_files.h"
#include "tls/x509_fields.h"

namespace qv {
namespace {

TEST(CertificateSettings, NothingSetMeansNoCheck) {
  ProviderSettings settings;
  EXPECT_FALSE(MakeCertificateCheck(settings));
  settings.cafile = "/no/such/file";  // alone it changes nothing
  EXPECT_FALSE(MakeCertificateCheck(settings));
}

TEST(CertificateSettings, UnreadablePinsRefuseEveryCertificate) {
  ProviderSettings settings;
  settings.certpin = "not a fingerprint";
  const CertificatePolicy policy = BuildCertificatePolicy(settings);
  ASSERT_EQ(policy.pins.size(), 1u);
  EXPECT_FALSE(policy.verifyChain);
  const CertificateCheck check = MakeCertificateCheck(settings);
  ASSERT_TRUE(check);
  const CertificateVerdict verdict = check({Bytes("any certificate")});
  EXPECT_FALSE(verdict.accepted);
  EXPECT_EQ(verdict.alert, certificate_alert::kBadCertificate);
}

TEST(CertificateSettings, PolicyCarriesTheNamesAndRoots) {
  QV_REQUIRE_CHAINS();
  ProviderSettings settings;
  settings.domain = "office";
  settings.address = "127.0.0.1";
  settings.verifycert = true;
  settings.cafile = test::chainPath("root.pem");
  const CertificatePolicy policy = BuildCertificatePolicy(settings);
  EXPECT_EQ(policy.serverName, "office");
  EXPECT_EQ(policy.address, "127.0.0.1");
  EXPECT_TRUE(policy.pins.empty());
  ASSERT_FALSE(policy.trustedRoots.empty());
  EXPECT_EQ(policy.trustedRoots.back(), test::chainFile("root.der"));
  // The system's roots come first; only the cafile one signed our chain.
  const CertificateCheck check = MakeCertificateCheck(settings);
  ASSERT_TRUE(check);
  EXPECT_TRUE(check(test::chainOf("leaf inter")).accepted);
  EXPECT_EQ(check(test::chainOf("leaf_other other_inter")).alert, certificate_alert::kUnknownCa);

  settings.cafile = test::chainPath("missing.pem");
  EXPECT_EQ(MakeCertificateCheck(settings)(test::chainOf("leaf inter")).alert, certificate_alert::kUnknownCa);
}

TEST(CertificateSettings, SystemRootsAreReadable) {
  // Debian's bundle natively, the ROOT store under wine: both hold roots
  // that parse as certificates.
  const std::vector<Bytes> roots = LoadTrustedRoots("");
  ASSERT_FALSE(roots.empty());
  std::size_t readable = 0;
  for (const Bytes& der : roots) {
    X509Fields fields;
    std::string problem;
    if (ReadX509Fields(der, fields, problem)) ++readable;
  }
  EXPECT_GT(readable * 10, roots.size() * 9) << readable << " of " << roots.size();
}

}  // namespace
}  // namespace qv
