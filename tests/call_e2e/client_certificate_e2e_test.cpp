// The provider's own certificate from end to end: clientcert in the
// settings, pbxsim (OpenSSL) requiring a client certificate that leads to
// its roots, the login as the proof that the handshake took it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <fstream>
#include <string>

#include "tests/call_e2e/provider_harness.h"

namespace qv::test {
namespace {

using namespace std::chrono_literals;

// Client certificates made once with the openssl command: each file holds
// the certificate and its key, as clientcert expects; the roots file the
// certificates pbxsim trusts.
class ClientCertificateFiles {
 public:
  // A folder of its own, so that two runs at once (two build trees) do not
  // remove each other's keys.
  ClientCertificateFiles()
      : dir_(std::filesystem::temp_directory_path() /
             ("qv-clientcert-e2e-" + std::to_string(std::random_device{}()))) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ok_ = make("rsa", "-newkey rsa:2048") && make("p256", "-newkey ec -pkeyopt ec_paramgen_curve:P-256") &&
          make("p384", "-newkey ec -pkeyopt ec_paramgen_curve:P-384") && make("stranger", "-newkey rsa:2048");
    if (ok_) {
      std::ofstream roots(path("roots.pem"));
      for (const char* name : {"rsa", "p256", "p384"}) roots << read(dir_ / (std::string(name) + ".crt"));
      // A file with the certificate and no key.
      std::ofstream(path("nokey.pem")) << read(dir_ / "rsa.crt");
    }
  }
  ~ClientCertificateFiles() { std::filesystem::remove_all(dir_); }
  bool ok() const { return ok_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  static std::string read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool make(const std::string& name, const std::string& key) {
    const std::string base = (dir_ / name).string();
    const std::string command = "openssl req -x509 " + key + " -nodes -days 30 -subj /CN=tapi-" + name +
                                " -keyout " + base + ".key -out " + base + ".crt >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    std::ofstream(base + ".pem") << read(base + ".crt") << read(base + ".key");
    return true;
  }
  std::filesystem::path dir_;
  bool ok_ = false;
};

const ClientCertificateFiles& files() {
  static ClientCertificateFiles made;
  return made;
}

class ClientCertificateE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!files().ok()) GTEST_SKIP() << "openssl cannot make certificates";
    UseShortTimings();
    pbxsim::Options options;
    options.tls = options.tlsModern = true;
    options.clientCaFile = files().path("roots.pem");
    sim_ = std::make_unique<pbxsim::Simulator>(options);
    ASSERT_TRUE(sim_->Start());
    store_.port = sim_->port();
    store_.encrypt = true;
    store_.tlsversion = "1.2";
  }
  void TearDown() override {
    if (initialised_) ShutdownProvider();
    if (sim_) sim_->Stop();
  }
  void Init(const std::string& clientcert) {
    store_.clientcert = clientcert;
    WriteSettingsStore(store_);
    completions().Clear();
    InitProvider();
    initialised_ = true;
  }
  // The PBX has seen `logins` logins in all.
  bool LoggedIn(std::size_t logins = 1) {
    return sim_->WaitFor([logins](const auto& frames) { return CountRoot(frames, "MonitorStart") >= logins; },
                         5s);
  }

  std::unique_ptr<pbxsim::Simulator> sim_;
  SettingsStore store_;
  bool initialised_ = false;
};

TEST_F(ClientCertificateE2E, EachKeyTypeLogsIn) {
  std::size_t logins = 0;
  for (const char* name : {"rsa", "p256", "p384"}) {
    SCOPED_TRACE(name);
    const std::size_t mark = LogText().size();
    Init(files().path(std::string(name) + ".pem"));
    EXPECT_TRUE(LoggedIn(++logins)) << LogText().substr(mark);
    EXPECT_TRUE(WaitForLog(
        "Client certificate \"" + files().path(std::string(name) + ".pem") + "\": 1 certificates", 5s, mark));
    ShutdownProvider();
    initialised_ = false;
  }
}

// Each clientcert that cannot be used says why at level 1; the provider
// connects without a certificate, which this PBX refuses.
TEST_F(ClientCertificateE2E, UnusableClientCertGoesOnWithoutOne) {
  struct Case {
    std::string clientcert;
    std::string reason;
  };
  const Case cases[] = {
      {files().path("missing.pem"), "the file cannot be read"},
      {files().path("nokey.pem"), ""},  // the reader's own words follow
      {"store:0123456789abcdef0123456789abcdef01234567",
       "a certificate store is not available on this system"},
      {"store:0123", "store: must be followed by the certificate's SHA-1 thumbprint (40 hex digits)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clientcert);
    const std::size_t mark = LogText().size();
    Init(c.clientcert);
    EXPECT_TRUE(WaitForLog("]:1 Client certificate \"" + c.clientcert + "\" not used: " + c.reason, 5s, mark))
        << LogText().substr(mark);
    EXPECT_TRUE(WaitForLog("; connecting without one", 5s, mark));
    EXPECT_TRUE(WaitForLog("Reconnecting", 5s, mark)) << LogText().substr(mark);
    EXPECT_EQ(sim_->frames().size(), 0u);
    ShutdownProvider();
    initialised_ = false;
  }
}

TEST_F(ClientCertificateE2E, TlsVersion10SaysTheCertificateIsNotSent) {
  store_.tlsversion = "";  // absent: 1.0
  const std::size_t mark = LogText().size();
  Init(files().path("rsa.pem"));
  EXPECT_TRUE(WaitForLog("]:1 Client certificate \"" + files().path("rsa.pem") +
                             "\" is sent only with TLS 1.2 or later; tlsversion 1.0 sends none",
                         5s, mark))
      << LogText().substr(mark);
  EXPECT_EQ(sim_->frames().size(), 0u);
}

TEST_F(ClientCertificateE2E, CertificateTheServerDoesNotTrustIsRefused) {
  const std::size_t mark = LogText().size();
  Init(files().path("stranger.pem"));
  EXPECT_TRUE(WaitForLog("TLS alert from the PBX", 5s, mark)) << LogText().substr(mark);
  EXPECT_EQ(sim_->frames().size(), 0u);
}

TEST_F(ClientCertificateE2E, WithoutClientCertTheRequestGetsNone) {
  const std::size_t mark = LogText().size();
  Init("");
  EXPECT_TRUE(WaitForLog("TLS alert from the PBX", 5s, mark)) << LogText().substr(mark);
  EXPECT_EQ(LogText().find("Client certificate", mark), std::string::npos);
  EXPECT_EQ(sim_->frames().size(), 0u);
}

}  // namespace
}  // namespace qv::test
