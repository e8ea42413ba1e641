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
#include "tls/certificate.h"
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

std::shared_ptr<const ClientCredentials> credentialsOf(const std::string& pem) {
  std::string error;
  std::optional<ClientCredentials> credentials = ClientCredentialsFromPem(pem, &error);
  EXPECT_TRUE(credentials.has_value()) << error;
  if (!credentials) return nullptr;
  return std::make_shared<const ClientCredentials>(std::move(*credentials));
}

TEST_F(KeysInterop, CredentialsFromPemFiles) {
  const struct {
    const char* key;
    std::vector<std::uint16_t> schemes;
  } cases[] = {
      {"ec256", {0x0403}},
      {"ec384", {0x0503}},
      {"rsa2048", {0x0804, 0x0805, 0x0806, 0x0401, 0x0501, 0x0601}},
      {"rsapss", {0x0809, 0x080A, 0x080B}},
  };
  for (const auto& c : cases) {
    // Key before or after the certificate, as tools write them.
    for (const bool keyFirst : {false, true}) {
      const std::string cert = test::readFile(File(c.key, ".pem"));
      const std::string key = test::readFile(File(c.key, ".key"));
      std::string error;
      const std::optional<ClientCredentials> credentials =
          ClientCredentialsFromPem(keyFirst ? key + cert : cert + key, &error);
      ASSERT_TRUE(credentials.has_value()) << c.key << ": " << error;
      EXPECT_EQ(credentials->supportedSchemes, c.schemes) << c.key;
      ASSERT_EQ(credentials->chainDer.size(), 1u);
      // Each signature checks out with the certificate's key; others are refused.
      const Certificate leaf = ParseCertificateChain(credentials->chainDer, " ", {});
      for (const std::uint16_t scheme : credentials->supportedSchemes) {
        const Bytes signature = credentials->sign(scheme, "transcript");
        EXPECT_TRUE(VerifySignatureScheme(leaf, scheme, "transcript", signature, false, &error))
            << c.key << " " << SignatureSchemeName(scheme) << ": " << error;
      }
      EXPECT_TRUE(credentials->sign(0x0203, "transcript").empty());
    }
  }
  const struct {
    std::string pem;
    const char* error;
  } refused[] = {
      {test::readFile(File("ec256", ".key")), "holds no certificate"},
      {test::readFile(File("ec256", ".pem")), "has no usable private key"},
      {test::readFile(File("ec256", ".pem")) + test::readFile(File("ec384", ".key")),
       "is not the key of its first certificate (ECDSA P-256)"},
      {test::readFile(File("rsa2048", ".pem")) + test::readFile(File("rsa4096", ".key")),
       "is not the key of its first certificate (RSA)"},
      {"", "holds no certificate"},
  };
  for (const auto& c : refused) {
    std::string error;
    EXPECT_FALSE(ClientCredentialsFromPem(c.pem, &error).has_value()) << c.error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

// A server that requires a client certificate it trusts (the client's own
// self-signed one): each key type gets in, signed with the scheme logged.
TEST_F(KeysInterop, ClientCertificateRequiredByOpenSslAndGnuTls) {
  const struct {
    const char* clientKey;
    const char* serverKey;
    const char* scheme;  // the CertificateVerify's first bytes, as hex
  } cases[] = {
      {"ec256", "rsa2048", "0403"},
      {"ec384", "ec256", "0503"},
      {"rsa2048", "ec256", "0804"},
      {"rsapss", "rsa2048", "0809"},
  };
  for (const auto& c : cases) {
    auto server = StartOpenSsl(c.serverKey, std::string("-Verify 1 -CAfile ") + File(c.clientKey, ".pem"));
    test::LogCapture log;
    TlsConnection tls;
    tls.SetClientCredentials(
        credentialsOf(test::readFile(File(c.clientKey, ".pem")) + test::readFile(File(c.clientKey, ".key"))));
    Configure(tls, c.serverKey);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    EXPECT_TRUE(Echoes(link, "mutual")) << c.clientKey << "\n" << server->Output() << log.text();
    EXPECT_TRUE(log.contains(std::string("SendCertificateVerify(") + c.scheme)) << c.clientKey;
  }
  if (!test::commandExists("gnutls-serv")) return;
  for (const char* clientKey : {"ec256", "rsa2048", "rsapss"}) {
    SocketHandle socket;
    auto server = StartGnuTls("ec384",
                              std::string("--require-client-cert --verify-client-cert --x509cafile ") +
                                  File(clientKey, ".pem") + " --priority NORMAL:-VERS-TLS1.3",
                              socket);
    ASSERT_NE(socket, kInvalidSocket) << server->Output();
    test::LogCapture log;
    TlsConnection tls;
    tls.SetClientCredentials(
        credentialsOf(test::readFile(File(clientKey, ".pem")) + test::readFile(File(clientKey, ".key"))));
    Configure(tls, "ec384");
    SocketDriver link(tls, socket);
    ASSERT_TRUE(link.Send("echo me\n"));
    EXPECT_NE(link.PumpUntilContains("echo me").find("echo me"), Bytes::npos)
        << clientKey << server->Output() << log.text();
    link.Close();
    server->Stop();
  }
}

// What the client does when it has nothing the server takes, and what it
// logs: no credentials, a key type the server's schemes leave out, a
// certificate the server does not trust.
TEST_F(KeysInterop, ClientCertificateRefused) {
  const struct {
    const char* clientKey;  // nullptr: no credentials
    const char* options;
    const char* logged;
  } cases[] = {
      {nullptr, "", "1 CSTA: Server asked for a client certificate, but none is configured: sending none"},
      {"ec256", "-client_sigalgs rsa_pss_rsae_sha256:rsa_pkcs1_sha256",
       "1 CSTA: Server accepts no ECDSA client certificate (types 01): sending none"},
      {"rsapss", "-client_sigalgs rsa_pss_rsae_sha256:ecdsa_secp256r1_sha256",
       "1 CSTA: Client certificate's key makes none of the server's signature schemes (0804 0403): sending "
       "none"},
      {"rsa2048", "", "CSTA: Alert(2, 48)"},
  };
  for (const auto& c : cases) {
    // The server trusts only the P-384 certificate.
    auto server = StartOpenSsl("rsa2048", std::string("-Verify 1 -verify_return_error -CAfile ") +
                                              File("ec384", ".pem") + " " + c.options);
    test::LogCapture log;
    TlsConnection tls;
    if (c.clientKey != nullptr) {
      tls.SetClientCredentials(credentialsOf(test::readFile(File(c.clientKey, ".pem")) +
                                             test::readFile(File(c.clientKey, ".key"))));
    }
    Configure(tls, "rsa2048");
    SocketDriver link(tls, SocketDriver::Connect(port_));
    link.Send("refused\n");
    link.PumpUntil([&](const Bytes&) { return tls.AlertReceived() || tls.Failed(); },
                   std::chrono::seconds(10));
    EXPECT_TRUE(tls.AlertReceived()) << c.options;
    EXPECT_TRUE(log.contains(c.logged)) << c.options << "\n" << log.text();
  }
}

}  // namespace
}  // namespace qv
