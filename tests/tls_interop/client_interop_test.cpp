// Our client against OpenSSL's and GnuTLS's servers on loopback.
#include <gtest/gtest.h>

#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/peer_files.h"
#include "tests/tls_interop/peer_process.h"
#include "tests/tls_interop/socket_driver.h"
#include "tls/certificate.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

using test::PeerProcess;
using test::SocketDriver;

const char* const kGnuTlsBase = "NONE:+VERS-TLS1.0:+RSA:+COMP-NULL:+SIGN-ALL";

class ClientInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    startNetworking();
    ClearTrustRoots();
    files_ = test::writePeerFiles(dir_);
  }
  void TearDown() override {
    ClearTrustRoots();
    stopNetworking();
  }

  // openssl s_server on a free port, ready to accept.
  std::unique_ptr<PeerProcess> StartOpenSsl(const std::string& cipher, const std::string& extra,
                                            int accepts = 1) {
    if (!test::commandExists("openssl")) return nullptr;
    port_ = test::freePort();
    auto server = std::make_unique<PeerProcess>(
        "openssl s_server -tls1 -cipher '" + cipher +
            ":@SECLEVEL=0' -accept 127.0.0.1:" + std::to_string(port_) + " -cert " + files_.cert + " -key " +
            files_.key + " -naccept " + std::to_string(accepts) + " " + extra,
        dir_ / ("s_server-" + std::to_string(port_) + ".txt"));
    EXPECT_TRUE(server->WaitForOutput("ACCEPT")) << server->Output();
    return server;
  }

  static void Configure(TlsConnection& tls, const std::string& serverName = "pbx.example.com") {
    tls.SetLog(test::testLog("CSTA: "));
    tls.SetServerName(serverName);
    tls.SetVerifyCertificates(false);
    tls.StartClient();
  }

  test::ScratchDir dir_;
  test::PeerFiles files_;
  std::uint16_t port_ = 0;
};

TEST_F(ClientInterop, OpenSslServerEachAesSuiteWithCaChain) {
  struct Case {
    const char* cipher;
    Bytes suite;
  };
  for (const Case& c : {Case{"AES128-SHA", Bytes("\x00\x2F", 2)}, Case{"AES256-SHA", Bytes("\x00\x35", 2)}}) {
    auto server = StartOpenSsl(c.cipher, "-rev -cert_chain " + files_.ca);
    if (!server) GTEST_SKIP() << "no openssl";
    TlsConnection tls(test::testLog());
    Configure(tls);
    SocketDriver link(tls, SocketDriver::Connect(port_));
    ASSERT_TRUE(link.Valid());
    link.RecordAs(std::string("openssl-") + c.cipher + ".bin");
    ASSERT_TRUE(link.Send("login request\n"));
    const Bytes echoed = link.PumpUntilContains("tseuqer nigol");
    EXPECT_NE(echoed.find("tseuqer nigol"), Bytes::npos) << c.cipher << "\n" << server->Output();
    EXPECT_TRUE(tls.HandshakeDone());
    EXPECT_FALSE(tls.Failed());
    EXPECT_EQ(tls.CipherSuite(), c.suite);
    EXPECT_EQ(tls.PeerCertificates().size(), 2u);
    EXPECT_EQ(TlsConnectionTestPeer(tls).Handshake().peerCertificate.subjectDomain, "pbx.example.com");
    // Several records in both directions keep the CBC chain and sequence.
    for (int k = 0; k < 5; ++k) {
      const std::string line = "line " + std::to_string(k) + std::string(3000, 'x') + "\n";
      ASSERT_TRUE(link.Send(line));
      const std::string reversed(line.rbegin() + 1, line.rend());
      EXPECT_NE(link.PumpUntilContains(reversed).find(reversed), Bytes::npos);
    }
  }
}

TEST_F(ClientInterop, OpenSslCertificateRequestGetsEmptyCertificate) {
  auto server = StartOpenSsl("AES128-SHA", "-rev -verify 1 -CAfile " + files_.ca);
  if (!server) GTEST_SKIP() << "no openssl";
  TlsConnection tls(test::testLog());
  Configure(tls);
  SocketDriver link(tls, SocketDriver::Connect(port_));
  link.RecordAs("openssl-certificate-request.bin");
  ASSERT_TRUE(link.Send("abc\n"));
  EXPECT_NE(link.PumpUntilContains("cba").find("cba"), Bytes::npos) << server->Output();
  const Bytes emptyCertificate("\x0B\x00\x00\x03\x00\x00\x00", 7);
  EXPECT_NE(TlsConnectionTestPeer(tls).Handshake().transcript.find(emptyCertificate), Bytes::npos);
}

TEST_F(ClientInterop, OpenSslResumesSessionById) {
  auto server = StartOpenSsl("AES256-SHA", "-rev", 2);
  if (!server) GTEST_SKIP() << "no openssl";
  TlsConnection tls(test::testLog());
  Configure(tls);
  Bytes firstId;
  {
    SocketDriver link(tls, SocketDriver::Connect(port_));
    ASSERT_TRUE(link.Send("first\n"));
    ASSERT_NE(link.PumpUntilContains("tsrif").find("tsrif"), Bytes::npos) << server->Output();
    firstId = TlsConnectionTestPeer(tls).Handshake().sessionId;
    ASSERT_FALSE(firstId.empty());
    tls.SendCloseNotify();
    link.Send("");
  }
  tls.PrepareResumption();
  tls.StartClient();
  SocketDriver link(tls, SocketDriver::Connect(port_));
  ASSERT_TRUE(link.Send("second\n"));
  EXPECT_NE(link.PumpUntilContains("dnoces").find("dnoces"), Bytes::npos) << server->Output();
  // Abbreviated: no Certificate message arrived on this connection.
  EXPECT_TRUE(tls.PeerCertificates().empty());
  EXPECT_EQ(TlsConnectionTestPeer(tls).Handshake().sessionId, firstId);
  EXPECT_FALSE(tls.Failed());
}

TEST_F(ClientInterop, OpenSslFlippedByteIsFatal) {
  auto server = StartOpenSsl("AES128-SHA", "-rev");
  if (!server) GTEST_SKIP() << "no openssl";
  test::LogCapture log;
  TlsConnection tls(test::testLog());
  Configure(tls);
  SocketDriver link(tls, SocketDriver::Connect(port_));
  link.PumpUntilHandshakeDone();
  ASSERT_TRUE(tls.HandshakeDone());
  link.SetFilter([](Bytes bytes) {
    if (bytes.size() > 10) bytes[bytes.size() - 3] ^= 0x20;
    return bytes;
  });
  ASSERT_TRUE(link.Send("ping\n"));
  EXPECT_EQ(link.PumpUntilContains("gnip"), "");
  EXPECT_TRUE(tls.Failed());
  EXPECT_TRUE(log.contains("CSTA: Bad Record Mac"));
  link.SetFilter(nullptr);
  ASSERT_TRUE(link.Send("again\n"));
  EXPECT_EQ(link.PumpUntilClosed(std::chrono::seconds(3)), "");
  // Our alert ended the connection on OpenSSL's side.
  EXPECT_TRUE(server->WaitForOutput("CONNECTION CLOSED")) << server->Output();
}

TEST_F(ClientInterop, OpenSslClosureIsAnsweredOnce) {
  auto server = StartOpenSsl("AES128-SHA", "-rev");
  if (!server) GTEST_SKIP() << "no openssl";
  test::LogCapture log;
  TlsConnection tls(test::testLog());
  Configure(tls);
  SocketDriver link(tls, SocketDriver::Connect(port_));
  // In -rev mode a line "CLOSE" makes s_server send its closure alert.
  ASSERT_TRUE(link.Send("hello\nCLOSE\n"));
  link.PumpUntilClosed();
  EXPECT_NE(link.Received().find("olleh"), Bytes::npos);
  EXPECT_TRUE(tls.CloseNotifySent()) << server->Output();
  EXPECT_FALSE(tls.Failed());
  EXPECT_EQ(log.count("CSTA: Received closure alert"), 1u);
  EXPECT_EQ(log.count("SendAlert(0100)"), 1u);
}

TEST_F(ClientInterop, OpenSslCertificateForAnotherDomainAcceptedWithoutVerification) {
  auto server = StartOpenSsl("AES128-SHA", "-rev");
  if (!server) GTEST_SKIP() << "no openssl";
  TlsConnection tls(test::testLog());
  Configure(tls, "other.example.org");
  SocketDriver link(tls, SocketDriver::Connect(port_));
  ASSERT_TRUE(link.Send("x\n"));
  link.PumpUntilContains("x");
  EXPECT_TRUE(tls.HandshakeDone());
  EXPECT_FALSE(tls.Failed());
}

TEST_F(ClientInterop, OpenSslChainInVerifyModeWithEmptyTrustList) {
  auto server = StartOpenSsl("AES128-SHA", "-rev -cert_chain " + files_.ca);
  if (!server) GTEST_SKIP() << "no openssl";
  test::LogCapture log;
  TlsConnection tls(test::testLog());
  tls.SetServerName("pbx.example.com");
  tls.StartClient();
  SocketDriver link(tls, SocketDriver::Connect(port_));
  link.PumpUntilHandshakeDone();
  EXPECT_TRUE(tls.Failed());
  EXPECT_FALSE(tls.HandshakeDone());
  EXPECT_TRUE(log.contains("Certificate for Quorvel Test CA not available"));
}

TEST_F(ClientInterop, OpenSslChainVerifiedAgainstTrustedCa) {
  auto server = StartOpenSsl("AES128-SHA", "-rev -cert_chain " + files_.ca);
  if (!server) GTEST_SKIP() << "no openssl";
  AddTrustRoot(ParseCertificateChain({test::hexDecode(test::kCaHex)}, " ", test::testLog()));
  TlsConnection tls(test::testLog());
  tls.SetServerName("pbx.example.com");
  tls.StartClient();
  SocketDriver link(tls, SocketDriver::Connect(port_));
  ASSERT_TRUE(link.Send("ok\n"));
  EXPECT_NE(link.PumpUntilContains("ko").find("ko"), Bytes::npos);
  EXPECT_FALSE(tls.Failed());
}

TEST_F(ClientInterop, GnuTlsServerEverySuite) {
  if (!test::commandExists("gnutls-serv")) GTEST_SKIP() << "no gnutls-serv";
  struct Case {
    const char* priority;
    Bytes suite;
  };
  const Case cases[] = {
      {"+AES-128-CBC:+SHA1", Bytes("\x00\x2F", 2)},
      {"+AES-256-CBC:+SHA1", Bytes("\x00\x35", 2)},
      {"+ARCFOUR-128:+MD5", Bytes("\x00\x04", 2)},
      {"+ARCFOUR-128:+SHA1", Bytes("\x00\x05", 2)},
  };
  for (const Case& c : cases) {
    port_ = test::freePort();
    PeerProcess server("gnutls-serv --echo -p " + std::to_string(port_) + " --x509certfile " + files_.chain +
                           " --x509keyfile " + files_.key + " --priority " + kGnuTlsBase + ":" + c.priority,
                       dir_ / ("gnutls-serv-" + std::to_string(port_) + ".txt"));
    // gnutls-serv prints nothing unbuffered before serving; probe instead.
    SocketHandle socket = kInvalidSocket;
    for (int attempt = 0; attempt < 300 && socket == kInvalidSocket; ++attempt) {
      socket = SocketDriver::Connect(port_);
      if (socket == kInvalidSocket) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_NE(socket, kInvalidSocket) << server.Output();
    test::LogCapture log;
    TlsConnection tls(test::testLog());
    Configure(tls);
    SocketDriver link(tls, socket);
    link.RecordAs("gnutls-" + hexEncode(c.suite) + ".bin");
    ASSERT_TRUE(link.Send("echo me\n"));
    EXPECT_NE(link.PumpUntilContains("echo me").find("echo me"), Bytes::npos)
        << c.priority << "\n"
        << server.Output() << log.text();
    EXPECT_EQ(tls.CipherSuite(), c.suite) << c.priority;
    EXPECT_FALSE(tls.Failed()) << c.priority;
    link.Close();
    server.Stop();
  }
}

}  // namespace
}  // namespace qv
