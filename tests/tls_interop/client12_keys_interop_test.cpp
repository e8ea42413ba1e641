// Our TLS 1.2 client against servers with the key types, suites and groups
// that certificate tooling and hardened setups use today: ECDSA P-256 and
// P-384, RSA-2048/4096 and RSA-PSS keys; ECDHE-ECDSA and ChaCha20-Poly1305;
// secp256r1/secp384r1 only. Keys and certificates are made once per run.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "crypto/sha256.h"
#include "tests/tls/tls_connection_test_peer.h"
#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/peer_process.h"
#include "tests/tls_interop/socket_driver.h"
#include "tls/certificate_policy.h"
#include "tls/pem.h"
#include "tls/signature_schemes.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

using test::PeerProcess;
using test::SocketDriver;

// One self-signed server certificate per key type.
struct ServerKey {
  const char* name;
  const char* newkey;  // openssl req -newkey argument
};
constexpr ServerKey kKeys[] = {
    {"ec256", "ec -pkeyopt ec_paramgen_curve:P-256"},
    {"ec384", "ec -pkeyopt ec_paramgen_curve:P-384"},
    {"rsa2048", "rsa:2048"},
    {"rsa4096", "rsa:4096"},
    {"rsapss", "rsa-pss -pkeyopt rsa_keygen_bits:2048"},
};

class KeysInterop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::commandExists("openssl")) return;
    dir_ = new test::ScratchDir();
    for (const ServerKey& key : kKeys) {
      const std::string base = (*dir_ / key.name).string();
      const std::string command = std::string("openssl req -x509 -newkey ") + key.newkey +
                                  " -nodes -keyout " + base + ".key -out " + base +
                                  ".pem -subj /CN=pbx.example.com -days 2 " + ">/dev/null 2>&1";
      if (std::system(command.c_str()) != 0) return;
    }
    ready_ = true;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "no openssl";
    startNetworking();
  }
  void TearDown() override { stopNetworking(); }

  static std::string File(const std::string& key, const char* ext) { return (*dir_ / (key + ext)).string(); }

  std::unique_ptr<PeerProcess> StartOpenSsl(const std::string& key, const std::string& options) {
    port_ = test::freePort();
    auto server = std::make_unique<PeerProcess>(
        "openssl s_server -accept 127.0.0.1:" + std::to_string(port_) + " -cert " + File(key, ".pem") +
            " -key " + File(key, ".key") + " -naccept 1 -rev " + options,
        *dir_ / ("s_server-" + std::to_string(port_) + ".txt"));
    EXPECT_TRUE(server->WaitForOutput("ACCEPT")) << server->Output();
    return server;
  }

  // gnutls-serv listens on every interface: this program runs in its own
  // network namespace (see CMakeLists.txt).
  std::unique_ptr<PeerProcess> StartGnuTls(const std::string& key, const std::string& priority,
                                           SocketHandle& socket) {
    port_ = test::freePort();
    std::string command = "gnutls-serv --echo -p " + std::to_string(port_) + " --x509certfile " +
                          File(key, ".pem") + " --x509keyfile " + File(key, ".key");
    if (!priority.empty()) command += " --priority " + priority;
    auto server =
        std::make_unique<PeerProcess>(command, *dir_ / ("gnutls-" + std::to_string(port_) + ".txt"));
    socket = kInvalidSocket;
    for (int attempt = 0; attempt < 300 && socket == kInvalidSocket; ++attempt) {
      socket = SocketDriver::Connect(port_);
      if (socket == kInvalidSocket) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return server;
  }

  // tlsversion "1.2", with the chain verified (the self-signed certificate
  // is the trusted root) and the leaf pinned, as a configured link checks it.
  static void Configure(TlsConnection& tls, const std::string& key) {
    tls.SetLog(test::testLog("CSTA: "));
    tls.SetServerName("pbx.example.com");
    tls.SetVerifyCertificates(false);
    tls.SetVersionPolicy(TlsVersionPolicy::kTls12);
    CertificatePolicy policy;
    policy.verifyChain = true;
    policy.trustedRoots = ReadPemCertificates(test::readFile(File(key, ".pem")));
    policy.serverName = "pbx.example.com";
    if (!policy.trustedRoots.empty()) policy.pins.push_back(sha256Digest(policy.trustedRoots[0]));
    tls.SetCertificateCheck([policy](const std::vector<Bytes>& chain) {
      return CheckServerCertificates(chain, policy, static_cast<std::int64_t>(std::time(nullptr)));
    });
    tls.StartClient();
  }

  static bool Echoes(SocketDriver& link, const std::string& line) {
    if (!link.Send(line + "\n")) return false;
    const std::string reversed(line.rbegin(), line.rend());
    return link.PumpUntilContains(reversed).find(reversed) != Bytes::npos;
  }

  static test::ScratchDir* dir_;
  static bool ready_;
  std::uint16_t port_ = 0;
};

test::ScratchDir* KeysInterop::dir_ = nullptr;
bool KeysInterop::ready_ = false;

// The server's own choice of suite and signature for each key type, and
// then every suite, group and signature scheme forced one at a time.
TEST_F(KeysInterop, OpenSslEachKeySuiteGroupAndScheme) {
  const struct {
    const char* key;
    const char* options;
    const char* suite;
    std::uint16_t group;  // 0: not checked
  } cases[] = {
      {"ec256", "", "c02b", 0x001D},
      {"ec384", "", "c02b", 0x001D},
      {"rsa2048", "", "c02f", 0x001D},
      {"rsa4096", "", "c02f", 0x001D},
      {"rsapss", "", "c02f", 0x001D},
      {"ec256", "-cipher ECDHE-ECDSA-AES256-GCM-SHA384", "c02c", 0},
      {"ec256", "-cipher ECDHE-ECDSA-AES128-SHA", "c009", 0},
      {"ec384", "-cipher ECDHE-ECDSA-AES256-SHA", "c00a", 0},
      {"ec256", "-cipher ECDHE-ECDSA-CHACHA20-POLY1305", "cca9", 0},
      {"rsa2048", "-cipher ECDHE-RSA-CHACHA20-POLY1305", "cca8", 0},
      {"rsapss", "-cipher ECDHE-RSA-AES256-SHA", "c014", 0},
      {"rsa2048", "-groups P-256", "c02f", 0x0017},
      {"rsa2048", "-groups P-384", "c02f", 0x0018},
      {"ec384", "-groups P-384", "c02b", 0x0018},
      {"ec256", "-sigalgs ecdsa_secp384r1_sha384", "c02b", 0},
      {"ec384", "-sigalgs ecdsa_secp256r1_sha256", "c02b", 0},
      {"rsapss", "-sigalgs rsa_pss_pss_sha384", "c02f", 0},
      {"rsapss", "-sigalgs rsa_pss_pss_sha512", "c02f", 0},
      {"rsa4096", "-sigalgs rsa_pss_rsae_sha512", "c02f", 0},
  };
  for (const auto& c : cases) {
    auto server = StartOpenSsl(c.key, c.options);
    test::LogCapture log;
    TlsConnection tls;
    Configure(tls, c.key);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    ASSERT_TRUE(link.Valid());
    const std::string what = std::string(c.key) + " " + c.options;
    ASSERT_TRUE(Echoes(link, "login request")) << what << "\n" << server->Output() << log.text();
    EXPECT_EQ(hexEncode(tls.CipherSuite()), c.suite) << what;
    if (c.group != 0) {
      EXPECT_EQ(TlsConnectionTestPeer(tls).Handshake().serverGroup, c.group) << what;
    }
    // More than one record each way.
    std::string lines;
    for (char k = 'a'; k < 'd'; ++k) lines += std::string(6000, k) + "\n";
    ASSERT_TRUE(link.Send(lines));
    EXPECT_NE(link.PumpUntilContains(std::string(6000, 'c')).find(std::string(6000, 'c')), Bytes::npos)
        << what;
    EXPECT_FALSE(tls.Failed()) << what;
  }
}

TEST_F(KeysInterop, GnuTlsEachKeyAndForcedChoices) {
  if (!test::commandExists("gnutls-serv")) GTEST_SKIP() << "no gnutls-serv";
  const struct {
    const char* key;
    const char* priority;
    const char* suite;
  } cases[] = {
      {"ec256", "", "c02b"},
      {"ec384", "", "c02b"},
      {"rsa4096", "", "c02f"},
      {"rsapss", "", "c02f"},
      {"ec256", "NORMAL:-CIPHER-ALL:+CHACHA20-POLY1305", "cca9"},
      {"rsa2048", "NORMAL:-CIPHER-ALL:+CHACHA20-POLY1305", "cca8"},
      {"ec256", "NORMAL:-GROUP-ALL:+GROUP-SECP256R1", "c02b"},
      {"rsa2048", "NORMAL:-GROUP-ALL:+GROUP-SECP384R1", "c02f"},
      {"ec384", "NORMAL:-CIPHER-ALL:+AES-128-CBC:-VERS-TLS1.3", "c009"},
  };
  for (const auto& c : cases) {
    SocketHandle socket;
    auto server = StartGnuTls(c.key, c.priority, socket);
    ASSERT_NE(socket, kInvalidSocket) << server->Output();
    test::LogCapture log;
    TlsConnection tls;
    Configure(tls, c.key);
    SocketDriver link(tls, socket);
    const std::string what = std::string(c.key) + " " + c.priority;
    ASSERT_TRUE(link.Send("echo me\n"));
    ASSERT_NE(link.PumpUntilContains("echo me").find("echo me"), Bytes::npos)
        << what << server->Output() << log.text();
    EXPECT_EQ(hexEncode(tls.CipherSuite()), c.suite) << what;
    EXPECT_FALSE(tls.Failed()) << what;
    link.Close();
    server->Stop();
  }
}

}  // namespace
}  // namespace qv
