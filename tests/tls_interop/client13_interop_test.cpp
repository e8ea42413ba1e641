// Our TLS 1.3 client (tlsversion "1.3" and "auto") against openssl s_server,
// gnutls-serv and Python's ssl module: each suite, group and key type,
// HelloRetryRequest, a required client certificate and KeyUpdate.
#include <gtest/gtest.h>

#include <memory>

#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/peer_process.h"
#include "tests/tls_interop/s_server_client.h"
#include "tests/tls_interop/socket_driver.h"
#include "tls/hello_extensions.h"
#include "tls/signature_schemes.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

using test::PeerProcess;
using test::SocketDriver;

// How `openssl req` makes each key type's self-signed certificate.
const char* keyOptions(const std::string& kind) {
  if (kind == "rsa-pss") return "-newkey rsa-pss -pkeyopt rsa_keygen_bits:2048";
  if (kind == "p256") return "-newkey ec -pkeyopt ec_paramgen_curve:P-256";
  if (kind == "p384") return "-newkey ec -pkeyopt ec_paramgen_curve:P-384";
  if (kind == "rsa4096") return "-newkey rsa:4096";
  return "-newkey rsa:2048";
}

class Client13Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    startNetworking();
    if (!test::commandExists("openssl")) GTEST_SKIP() << "no openssl";
  }
  void TearDown() override { stopNetworking(); }

  // cert/key paths of a self-signed certificate of this kind (made once per test).
  std::pair<std::string, std::string> Identity(const std::string& kind) {
    const std::string key = (dir_ / (kind + "-key.pem")).string();
    const std::string cert = (dir_ / (kind + "-cert.pem")).string();
    if (!std::filesystem::exists(cert)) {
      EXPECT_EQ(std::system(("openssl req -x509 " + std::string(keyOptions(kind)) + " -nodes -keyout " + key +
                             " -out " + cert + " -subj /CN=pbx.example.com -days 2 >/dev/null 2>&1")
                                .c_str()),
                0)
          << kind;
    }
    return {cert, key};
  }

  std::unique_ptr<PeerProcess> StartOpenSsl(const std::string& kind, const std::string& options,
                                            bool echo = true) {
    const auto [cert, key] = Identity(kind);
    port_ = test::freePort();
    auto server = std::make_unique<PeerProcess>(
        "openssl s_server -accept 127.0.0.1:" + std::to_string(port_) + " -cert " + cert + " -key " + key +
            " -naccept 1 " + (echo ? "-rev " : "-ign_eof ") + options,
        dir_ / ("s_server-" + std::to_string(port_) + ".txt"));
    EXPECT_TRUE(server->WaitForOutput("ACCEPT")) << server->Output();
    return server;
  }

  void Configure(TlsConnection& tls, TlsVersionPolicy policy) { test::startInteropClient(tls, policy); }

  static bool Echoes(SocketDriver& link, const std::string& line) { return test::echoesReversed(link, line); }

  test::ScratchDir dir_;
  std::uint16_t port_ = 0;
};

TEST_F(Client13Interop, OpenSslEachSuiteGroupAndKey) {
  const struct {
    const char* kind;
    const char* options;
    TlsVersionPolicy policy;
    const char* suite;
  } cases[] = {
      {"rsa", "-tls1_3", TlsVersionPolicy::kTls13, "1301"},
      {"rsa", "", TlsVersionPolicy::kAuto, "1301"},
      {"rsa", "-tls1_3 -ciphersuites TLS_AES_256_GCM_SHA384", TlsVersionPolicy::kTls13, "1302"},
      {"rsa", "-tls1_3 -ciphersuites TLS_CHACHA20_POLY1305_SHA256", TlsVersionPolicy::kTls13, "1303"},
      {"rsa", "-tls1_3 -groups X25519", TlsVersionPolicy::kTls13, "1301"},
      {"rsa", "-tls1_3 -groups P-256", TlsVersionPolicy::kTls13, "1301"},
      // Neither first share fits: a HelloRetryRequest for secp384r1.
      {"rsa", "-tls1_3 -groups P-384", TlsVersionPolicy::kTls13, "1301"},
      {"rsa", "-groups P-384", TlsVersionPolicy::kAuto, "1301"},
      {"rsa4096", "-tls1_3", TlsVersionPolicy::kTls13, "1301"},
      {"rsa-pss", "-tls1_3", TlsVersionPolicy::kTls13, "1301"},
      {"p256", "-tls1_3", TlsVersionPolicy::kTls13, "1301"},
      {"p384", "-tls1_3", TlsVersionPolicy::kAuto, "1301"},
  };
  for (const auto& c : cases) {
    auto server = StartOpenSsl(c.kind, c.options);
    test::LogCapture log;
    TlsConnection tls;
    Configure(tls, c.policy);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    ASSERT_TRUE(link.Valid());
    link.RecordAs(std::string("openssl13-") + c.kind + ".bin");
    const std::string what = std::string(c.kind) + " " + c.options;
    EXPECT_TRUE(Echoes(link, "login request")) << what << "\n" << server->Output() << log.text();
    EXPECT_EQ(tls.NegotiatedVersion(), 0x0304) << what;
    EXPECT_EQ(hexEncode(tls.CipherSuite()), c.suite) << what;
    // More than one record in one call.
    std::string lines;
    for (char k = 'a'; k < 'e'; ++k) lines += std::string(5000, k) + "\n";
    ASSERT_TRUE(link.Send(lines));
    EXPECT_NE(link.PumpUntilContains(std::string(5000, 'd')).find(std::string(5000, 'd')), Bytes::npos)
        << what;
    EXPECT_FALSE(tls.Failed()) << what;
    tls.SendCloseNotify();
    link.Send("");
  }
}

TEST_F(Client13Interop, OpenSslTls12ServerUnderAutoAnd13Refuses) {
  {
    auto server = StartOpenSsl("rsa", "-tls1_2");
    TlsConnection tls;
    Configure(tls, TlsVersionPolicy::kAuto);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    EXPECT_TRUE(Echoes(link, "older server")) << server->Output();
    EXPECT_EQ(tls.NegotiatedVersion(), 0x0303);
  }
  {
    auto server = StartOpenSsl("rsa", "-tls1_2");
    test::LogCapture log;
    TlsConnection tls;
    Configure(tls, TlsVersionPolicy::kTls13);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    // It refuses a hello that offers TLS 1.3 alone.
    link.PumpUntil([&](const Bytes&) { return tls.AlertReceived() || tls.Failed(); });
    EXPECT_TRUE(tls.AlertReceived());
    EXPECT_FALSE(tls.HandshakeDone());
    EXPECT_TRUE(
        log.contains("1 CSTA: Server sent fatal alert protocol_version (70) during the TLS 1.3 handshake"))
        << log.text();
  }
}

TEST_F(Client13Interop, OpenSslKeyUpdateBothWays) {
  // Without -rev s_server reads its stdin: "K" sends a KeyUpdate that asks
  // for ours, other lines go to the client; what we send lands in its output.
  auto server = StartOpenSsl("rsa", "-tls1_3", false);
  test::LogCapture log;
  TlsConnection tls;
  Configure(tls, TlsVersionPolicy::kTls13);
  SocketDriver link(tls, SocketDriver::Connect(port_));
  link.PumpUntilHandshakeDone();
  ASSERT_TRUE(link.Send("first line\n"));
  ASSERT_TRUE(server->WaitForOutput("first line")) << server->Output();
  for (const char* command : {"K\n", "k\n"}) {
    // One stdin read per command: the line is only a command on its own.
    server->Write(command);
    const std::string answer =
        std::string("Server updated its keys (update requested: ") + (command[0] == 'K' ? "yes)" : "no)");
    link.PumpUntil([&](const Bytes&) { return log.contains(answer) || tls.Failed(); });
    EXPECT_TRUE(log.contains(answer)) << server->Output();
    const std::string mark = std::string("after update ") + command[0];
    server->Write(mark + "\n");
    EXPECT_NE(link.PumpUntilContains(mark).find(mark), Bytes::npos) << server->Output();
    ASSERT_TRUE(link.Send("client " + mark + "\n"));
    EXPECT_TRUE(server->WaitForOutput("client " + mark)) << server->Output();
  }
  EXPECT_FALSE(tls.Failed());
}

TEST_F(Client13Interop, OpenSslRequiresClientCertificateWeCannotGive) {
  // None configured, or one whose key makes none of the server's schemes:
  // an empty Certificate, which the server refuses.
  const auto [cert, key] = Identity("rsa");
  std::string error;
  const auto rsaCredentials = ClientCredentialsFromPem(test::readFile(cert) + test::readFile(key), &error);
  ASSERT_TRUE(rsaCredentials) << error;
  const struct {
    const char* options;
    bool withCredentials;
    const char* line;
  } cases[] = {
      {"-tls1_3 -Verify 1", false,
       "Server asked for a client certificate, but none is configured: sending none"},
      {"-tls1_3 -Verify 1 -client_sigalgs ECDSA+SHA256", true,
       "Client certificate's key makes none of the server's signature schemes (0403): sending none"},
  };
  for (const auto& c : cases) {
    auto server = StartOpenSsl("rsa", c.options);
    test::LogCapture log;
    TlsConnection tls;
    if (c.withCredentials)
      tls.SetClientCredentials(std::make_shared<const ClientCredentials>(*rsaCredentials));
    Configure(tls, TlsVersionPolicy::kTls13);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    link.Send("x\n");
    link.PumpUntil([&](const Bytes&) { return tls.AlertReceived() || tls.Failed(); });
    EXPECT_TRUE(tls.AlertReceived()) << log.text();
    EXPECT_TRUE(log.contains(std::string("1 CSTA: ") + c.line)) << log.text();
    EXPECT_TRUE(log.contains("1 CSTA: Server sent fatal alert certificate_required (116)")) << log.text();
  }
}

TEST_F(Client13Interop, OpenSslGetsOurClientCertificate) {
  for (const char* kind : {"rsa", "rsa-pss", "p256", "p384"}) {
    // s_server names the client's certificate once its CertificateVerify
    // checked out (the self-signed chain itself is only reported).
    auto server = StartOpenSsl("rsa", "-tls1_3 -Verify 1");
    const auto [cert, key] = Identity(kind);
    std::string error;
    auto credentials = ClientCredentialsFromPem(test::readFile(cert) + test::readFile(key), &error);
    ASSERT_TRUE(credentials) << kind << ": " << error;
    test::LogCapture log;
    TlsConnection tls;
    tls.SetClientCredentials(std::make_shared<const ClientCredentials>(std::move(*credentials)));
    Configure(tls, TlsVersionPolicy::kTls13);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    EXPECT_TRUE(Echoes(link, "mutual")) << kind << "\n" << server->Output() << log.text();
    EXPECT_TRUE(log.contains("Client certificate sent, signed with")) << kind;
    EXPECT_NE(server->Output().find("Peer certificate: CN = pbx.example.com"), std::string::npos)
        << kind << server->Output();
  }
}

TEST_F(Client13Interop, GnuTlsTls13Only) {
  if (!test::commandExists("gnutls-serv")) GTEST_SKIP() << "no gnutls-serv";
  const char* priorities[] = {"NORMAL:-VERS-ALL:+VERS-TLS1.3",
                              "NORMAL:-VERS-ALL:+VERS-TLS1.3:-GROUP-ALL:+GROUP-SECP384R1"};
  for (const char* kind : {"rsa", "p256"}) {
    for (const char* priority : priorities) {
      const auto [cert, key] = Identity(kind);
      port_ = test::freePort();
      auto server = std::make_unique<PeerProcess>("gnutls-serv --echo -p " + std::to_string(port_) +
                                                      " --x509certfile " + cert + " --x509keyfile " + key +
                                                      " --priority " + priority,
                                                  dir_ / ("gnutls-" + std::to_string(port_) + ".txt"));
      SocketHandle socket = kInvalidSocket;
      for (int attempt = 0; attempt < 300 && socket == kInvalidSocket; ++attempt) {
        socket = SocketDriver::Connect(port_);
        if (socket == kInvalidSocket) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ASSERT_NE(socket, kInvalidSocket) << server->Output();
      TlsConnection tls;
      Configure(tls, TlsVersionPolicy::kAuto);
      SocketDriver link(tls, socket);
      link.RecordAs(std::string("gnutls13-") + kind + ".bin");
      ASSERT_TRUE(link.Send("echo me\n"));
      EXPECT_NE(link.PumpUntilContains("echo me").find("echo me"), Bytes::npos)
          << kind << " " << priority << server->Output();
      EXPECT_EQ(tls.NegotiatedVersion(), 0x0304);
      EXPECT_FALSE(tls.Failed());
      link.Close();
      server->Stop();
    }
  }
}

TEST_F(Client13Interop, PythonSslDefaultServer) {
  if (!test::commandExists("python3")) GTEST_SKIP() << "no python3";
  const auto [cert, key] = Identity("rsa");
  port_ = test::freePort();
  const std::string script = (dir_ / "server.py").string();
  {
    std::ofstream out(script);
    out << "import socket, ssl, sys\n"
           "context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)\n"
           "context.load_cert_chain(sys.argv[2], sys.argv[3])\n"
           "listener = socket.create_server(('127.0.0.1', int(sys.argv[1])))\n"
           "print('READY', flush=True)\n"
           "connection, _ = listener.accept()\n"
           "with context.wrap_socket(connection, server_side=True) as tls:\n"
           "    data = tls.recv(4096)\n"
           "    tls.sendall(tls.version().encode() + b' ' + data)\n";
  }
  auto server = std::make_unique<PeerProcess>(
      "python3 " + script + " " + std::to_string(port_) + " " + cert + " " + key, dir_ / "python.txt");
  ASSERT_TRUE(server->WaitForOutput("READY")) << server->Output();
  TlsConnection tls;
  Configure(tls, TlsVersionPolicy::kAuto);
  SocketDriver link(tls, SocketDriver::Connect(port_));
  ASSERT_TRUE(link.Send("python login"));
  EXPECT_NE(link.PumpUntilContains("TLSv1.3 python login").find("TLSv1.3 python login"), Bytes::npos)
      << server->Output();
}

}  // namespace
}  // namespace qv
