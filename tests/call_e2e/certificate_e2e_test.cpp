// The PBX certificate check from end to end: the provider's exports against
// pbxsim --tls with certpin and verifycert in the settings.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/call_e2e/provider_harness.h"
#include "tests/tls/chain_files.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

class CertificateE2E : public ::testing::Test {
 protected:
  void SetUp() override { UseShortTimings(); }
  void TearDown() override {
    if (initialised_) ShutdownProvider();
    if (sim_) sim_->Stop();
  }

  // pbxsim with TLS: its own self-signed certificate, or the test chain.
  void StartPbx(bool testChain) {
    pbxsim::Options options;
    options.tls = true;
    if (testChain) {
      options.certFile = chainPath("server_chain.pem");
      options.keyFile = chainPath("leaf.key");
    }
    sim_ = std::make_unique<pbxsim::Simulator>(options);
    ASSERT_TRUE(sim_->Start());
    store_.port = sim_->port();
    store_.encrypt = true;
  }
  void Init() {
    WriteSettingsStore(store_);
    completions().Clear();
    InitProvider();
    initialised_ = true;
  }
  bool LoggedIn() {
    return sim_->WaitFor([](const auto& frames) { return CountRoot(frames, "MonitorStart") >= 1; }, 5s);
  }

  std::unique_ptr<pbxsim::Simulator> sim_;
  SettingsStore store_;
  bool initialised_ = false;
};

TEST_F(CertificateE2E, PinnedFingerprintConnects) {
  StartPbx(false);
  store_.certpin = "ff" + std::string(62, '0') + "," + sim_->CertificateFingerprint();
  Init();
  EXPECT_TRUE(LoggedIn());
  EXPECT_TRUE(WaitForLog("Certificate check: server certificate accepted (pinned)", 5s)) << LogText();
}

TEST_F(CertificateE2E, WrongPinFailsTheHandshakeAndNamesTheFingerprint) {
  StartPbx(false);
  store_.certpin = std::string(64, 'a');
  Init();
  ASSERT_TRUE(WaitForLog("]:1 CSTA: Certificate of CN=pbxsim with SHA-256 fingerprint " +
                             sim_->CertificateFingerprint() + " matches no certpin",
                         5s))
      << LogText();
  // It tries again with back-off and is refused each time; no frame ever reaches the PBX.
  ASSERT_TRUE(WaitForLog("Reconnecting", 5s));
  EXPECT_EQ(sim_->frames().size(), 0u);
}

TEST_F(CertificateE2E, UnreadablePinRefusesEveryCertificate) {
  StartPbx(false);
  store_.certpin = "not-a-fingerprint";
  Init();
  ASSERT_TRUE(WaitForLog(
      "]:1 Certificate check: certpin \"not-a-fingerprint\" is not a list of SHA-256 fingerprints", 5s))
      << LogText();
  ASSERT_TRUE(WaitForLog("matches no certpin", 5s)) << LogText();
  EXPECT_EQ(sim_->frames().size(), 0u);
}

TEST_F(CertificateE2E, VerifiedChainWithCafileConnects) {
  QV_REQUIRE_CHAINS();
  StartPbx(true);
  store_.verifycert = "1";
  store_.cafile = chainPath("root.pem");
  Init();
  EXPECT_TRUE(LoggedIn()) << LogText();
  EXPECT_TRUE(WaitForLog(" trusted roots from /etc/ssl/certs/ca-certificates.crt, 1 from cafile \"" +
                             chainPath("root.pem") + "\"",
                         5s))
      << LogText();
  EXPECT_TRUE(WaitForLog("server certificate accepted (chain verified)", 5s)) << LogText();
}

TEST_F(CertificateE2E, VerificationRefusesAnUntrustedChain) {
  QV_REQUIRE_CHAINS();
  StartPbx(true);
  store_.verifycert = "1";  // the test root is not among the system's roots
  Init();
  ASSERT_TRUE(
      WaitForLog("CSTA: Certificate of O=Quorvel Test, CN=Quorvel Test Intermediate is issued by "
                 "O=Quorvel Test, CN=Quorvel Test Root, which is not a trusted root",
                 5s))
      << LogText();
  EXPECT_EQ(sim_->frames().size(), 0u);
}

TEST_F(CertificateE2E, VerificationChecksTheAddressAgainstTheCertificate) {
  StartPbx(false);
  store_.verifycert = "1";
  Init();
  ASSERT_TRUE(WaitForLog("CSTA: Certificate of CN=pbxsim names pbxsim, not office or 127.0.0.1", 5s))
      << LogText();
  EXPECT_EQ(sim_->frames().size(), 0u);
}

}  // namespace
}  // namespace qv::test
