// Our TLS 1.2 client (tlsversion "1.2" and "auto") against openssl s_server
// and gnutls-serv as they come: no cipher, version or security-level
// options beyond what a case names.
#include <gtest/gtest.h>

#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/peer_process.h"
#include "tests/tls_interop/s_server_client.h"
#include "tests/tls_interop/socket_driver.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

using test::PeerProcess;
using test::SocketDriver;

class Client12Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    startNetworking();
    if (!test::commandExists("openssl")) GTEST_SKIP() << "no openssl";
    // RSA-2048 with SHA-256, as OpenSSL's default security level wants.
    key_ = (dir_ / "key.pem").string();
    cert_ = (dir_ / "cert.pem").string();
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key_ + " -out " + cert_ +
                           " -subj /CN=pbx.example.com -days 2 >/dev/null 2>&1")
                              .c_str()),
              0);
  }
  void TearDown() override { stopNetworking(); }

  std::unique_ptr<PeerProcess> StartOpenSsl(const std::string& options = {}) {
    port_ = test::freePort();
    auto server =
        std::make_unique<PeerProcess>("openssl s_server -accept 127.0.0.1:" + std::to_string(port_) +
                                          " -cert " + cert_ + " -key " + key_ + " -naccept 1 -rev " + options,
                                      dir_ / ("s_server-" + std::to_string(port_) + ".txt"));
    EXPECT_TRUE(server->WaitForOutput("ACCEPT")) << server->Output();
    return server;
  }

  void Configure(TlsConnection& tls, TlsVersionPolicy policy) { test::startInteropClient(tls, policy); }

  static bool Echoes(SocketDriver& link, const std::string& line) { return test::echoesReversed(link, line); }

  test::ScratchDir dir_;
  std::string key_;
  std::string cert_;
  std::uint16_t port_ = 0;
};

TEST_F(Client12Interop, OpenSslDefaultServer) {
  for (const TlsVersionPolicy policy : {TlsVersionPolicy::kTls12, TlsVersionPolicy::kAuto}) {
    auto server = StartOpenSsl();
    TlsConnection tls;
    Configure(tls, policy);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    ASSERT_TRUE(link.Valid());
    link.RecordAs("openssl12-default.bin");
    EXPECT_TRUE(Echoes(link, "login request")) << server->Output();
    // "auto" offers TLS 1.3, which a default server takes.
    const bool auto13 = policy == TlsVersionPolicy::kAuto;
    EXPECT_EQ(hexEncode(tls.CipherSuite()), auto13 ? "1301" : "c02f");
    EXPECT_EQ(tls.NegotiatedVersion(), auto13 ? 0x0304 : 0x0303);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(Echoes(link, std::to_string(k) + std::string(5000, 'x')));
    EXPECT_FALSE(tls.Failed());
  }
}

TEST_F(Client12Interop, OpenSslEachSuite) {
  const struct {
    const char* cipher;
    const char* suite;
  } cases[] = {
      {"ECDHE-RSA-AES256-GCM-SHA384", "c030"},
      {"AES128-GCM-SHA256", "009c"},
      {"AES256-GCM-SHA384", "009d"},
      {"ECDHE-RSA-AES128-SHA", "c013"},
      {"ECDHE-RSA-AES256-SHA", "c014"},
      {"AES128-SHA", "002f"},
      {"AES256-SHA", "0035"},
  };
  for (const auto& c : cases) {
    auto server = StartOpenSsl(std::string("-cipher ") + c.cipher);
    TlsConnection tls;
    Configure(tls, TlsVersionPolicy::kTls12);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    link.RecordAs(std::string("openssl12-") + c.cipher + ".bin");
    EXPECT_TRUE(Echoes(link, "suite check")) << c.cipher << "\n" << server->Output();
    EXPECT_EQ(hexEncode(tls.CipherSuite()), c.suite) << c.cipher;
    // Four lines in one call: more than one record (s_server -rev takes
    // lines up to its 16 KiB buffer).
    std::string lines;
    for (char k = 'a'; k < 'e'; ++k) lines += std::string(5000, k) + "\n";
    ASSERT_TRUE(link.Send(lines));
    EXPECT_NE(link.PumpUntilContains(std::string(5000, 'd')).find(std::string(5000, 'd')), Bytes::npos)
        << c.cipher;
  }
}

TEST_F(Client12Interop, AutoAgainstTls10OnlyServerAndTls12Refuses) {
  {
    auto server = StartOpenSsl("-tls1 -cipher 'AES128-SHA:AES256-SHA:@SECLEVEL=0'");
    TlsConnection tls;
    Configure(tls, TlsVersionPolicy::kAuto);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    EXPECT_TRUE(Echoes(link, "old server")) << server->Output();
    EXPECT_EQ(tls.NegotiatedVersion(), 0x0301);
  }
  {
    auto server = StartOpenSsl("-tls1 -cipher 'AES128-SHA:AES256-SHA:@SECLEVEL=0'");
    test::LogCapture log;
    TlsConnection tls;
    Configure(tls, TlsVersionPolicy::kTls12);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    link.PumpUntilHandshakeDone();
    EXPECT_TRUE(tls.Failed());
    EXPECT_TRUE(log.contains("SendAlert(0246)")) << log.text();
    EXPECT_TRUE(log.contains("CSTA: Server chose TLS version 3.1, which tlsversion 1.2 does not allow"));
  }
}

// gnutls-serv listens on every interface: this program runs in its own
// network namespace (see CMakeLists.txt).
std::unique_ptr<PeerProcess> startGnuTls(const test::ScratchDir& dir, std::uint16_t port,
                                         const std::string& cert, const std::string& key,
                                         const std::string& priority, SocketHandle& socket) {
  std::string command =
      "gnutls-serv --echo -p " + std::to_string(port) + " --x509certfile " + cert + " --x509keyfile " + key;
  if (!priority.empty()) command += " --priority " + priority;
  auto server = std::make_unique<PeerProcess>(command, dir / ("gnutls-" + std::to_string(port) + ".txt"));
  socket = kInvalidSocket;
  for (int attempt = 0; attempt < 300 && socket == kInvalidSocket; ++attempt) {
    socket = SocketDriver::Connect(port);
    if (socket == kInvalidSocket) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return server;
}

TEST_F(Client12Interop, GnuTlsDefaultPriorityAndTls10Only) {
  if (!test::commandExists("gnutls-serv")) GTEST_SKIP() << "no gnutls-serv";
  const struct {
    const char* priority;
    TlsVersionPolicy policy;
    std::uint16_t version;
  } cases[] = {
      {"", TlsVersionPolicy::kTls12, 0x0303},
      {"", TlsVersionPolicy::kAuto, 0x0304},
      {"NONE:+VERS-TLS1.0:+RSA:+AES-128-CBC:+SHA1:+COMP-NULL:+SIGN-ALL", TlsVersionPolicy::kAuto, 0x0301},
  };
  for (const auto& c : cases) {
    port_ = test::freePort();
    SocketHandle socket;
    auto server = startGnuTls(dir_, port_, cert_, key_, c.priority, socket);
    ASSERT_NE(socket, kInvalidSocket) << server->Output();
    TlsConnection tls;
    Configure(tls, c.policy);
    SocketDriver link(tls, socket);
    link.RecordAs(std::string("gnutls12-") + (*c.priority ? "tls10" : "default") + ".bin");
    ASSERT_TRUE(link.Send("echo me\n"));
    EXPECT_NE(link.PumpUntilContains("echo me").find("echo me"), Bytes::npos)
        << c.priority << server->Output();
    EXPECT_EQ(tls.NegotiatedVersion(), c.version) << c.priority;
    EXPECT_FALSE(tls.Failed());
    link.Close();
    server->Stop();
  }
}

}  // namespace
}  // namespace qv
