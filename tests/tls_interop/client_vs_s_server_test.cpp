// Our client against a native openssl s_server started by
// run_with_s_server.sh; built for Linux and Windows alike (the Windows
// build runs under wine and reaches the Linux loopback listener).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/tls/tls_connection_test_peer.h"
#include "tests/tls_interop/socket_driver.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

using test::SocketDriver;

class ClientVsOpenSsl : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("QV_TLS_PEER_PORT");
    if (port == nullptr || *port == '\0')
      GTEST_SKIP() << "no openssl s_server (run through run_with_s_server.sh)";
    port_ = static_cast<std::uint16_t>(std::stoi(port));
    ASSERT_TRUE(startNetworking());
  }
  void TearDown() override {
    if (port_ != 0) stopNetworking();
  }
  std::uint16_t port_ = 0;
};

// One program, in order: full handshake, resumption, a damaged record
// (s_server takes three connections).
TEST_F(ClientVsOpenSsl, FullResumedAndDamaged) {
  TlsConnection tls;
  tls.SetServerName("pbx.example.com");
  tls.SetVerifyCertificates(false);
  tls.StartClient();
  {
    SocketDriver link(tls, SocketDriver::Connect(port_));
    ASSERT_TRUE(link.Valid());
    ASSERT_TRUE(link.Send("<StartApplicationSession/>\n"));
    EXPECT_NE(link.PumpUntilContains(">/noisseSnoitacilppAtratS<").find(">/noisseSnoitacilppAtratS<"),
              Bytes::npos);
    EXPECT_TRUE(tls.HandshakeDone());
    EXPECT_FALSE(tls.Failed());
    EXPECT_EQ(tls.CipherSuite(), Bytes("\x00\x2F", 2));
    EXPECT_EQ(TlsConnectionTestPeer(tls).Handshake().peerCertificate.modulus.size(), 256u);
    tls.SendCloseNotify();
    link.Send("");
  }
  const Bytes sessionId = TlsConnectionTestPeer(tls).Handshake().sessionId;
  tls.PrepareResumption();
  tls.StartClient();
  {
    SocketDriver link(tls, SocketDriver::Connect(port_));
    ASSERT_TRUE(link.Send("again\n"));
    EXPECT_NE(link.PumpUntilContains("niaga").find("niaga"), Bytes::npos);
    EXPECT_TRUE(tls.PeerCertificates().empty()) << "not resumed";
    EXPECT_EQ(TlsConnectionTestPeer(tls).Handshake().sessionId, sessionId);
    tls.SendCloseNotify();
    link.Send("");
  }
  TlsConnection fresh;
  fresh.SetVerifyCertificates(false);
  fresh.StartClient();
  SocketDriver link(fresh, SocketDriver::Connect(port_));
  link.PumpUntilHandshakeDone();
  ASSERT_TRUE(fresh.HandshakeDone());
  link.SetFilter([](Bytes bytes) {
    if (bytes.size() > 10) bytes[bytes.size() - 1] ^= 0x01;
    return bytes;
  });
  ASSERT_TRUE(link.Send("ping\n"));
  EXPECT_EQ(link.PumpUntilContains("gnip"), "");
  EXPECT_TRUE(fresh.Failed());
}

// TLS 1.2 against the s_server that runs with OpenSSL's defaults: "1.2"
// and "auto" each complete with ECDHE-RSA-AES128-GCM-SHA256, "1.0" is
// refused by that server, and a damaged GCM record is fatal (s_server takes
// four connections).
TEST(ClientVsOpenSsl12, DefaultServer) {
  const char* port = std::getenv("QV_TLS12_PEER_PORT");
  if (port == nullptr || *port == '\0' || std::string(port) == "0")
    GTEST_SKIP() << "no openssl s_server (run through run_with_s_server.sh)";
  ASSERT_TRUE(startNetworking());
  const auto port12 = static_cast<std::uint16_t>(std::stoi(port));
  for (const TlsVersionPolicy policy : {TlsVersionPolicy::kTls12, TlsVersionPolicy::kAuto}) {
    TlsConnection tls;
    tls.SetServerName("pbx.example.com");
    tls.SetVerifyCertificates(false);
    tls.SetVersionPolicy(policy);
    tls.StartClient();
    SocketDriver link(tls, SocketDriver::Connect(port12));
    ASSERT_TRUE(link.Valid());
    ASSERT_TRUE(link.Send("<StartApplicationSession/>\n"));
    EXPECT_NE(link.PumpUntilContains(">/noisseSnoitacilppAtratS<").find(">/noisseSnoitacilppAtratS<"),
              Bytes::npos);
    EXPECT_FALSE(tls.Failed());
    // "auto" offers TLS 1.3, which the default server takes.
    const bool auto13 = policy == TlsVersionPolicy::kAuto;
    EXPECT_EQ(tls.NegotiatedVersion(), auto13 ? 0x0304 : 0x0303);
    EXPECT_EQ(tls.CipherSuite(), auto13 ? Bytes("\x13\x01", 2) : Bytes("\xC0\x2F", 2));
    tls.SendCloseNotify();
    link.Send("");
  }
  {
    TlsConnection old;
    old.SetVerifyCertificates(false);
    old.StartClient();
    SocketDriver link(old, SocketDriver::Connect(port12));
    link.PumpUntilHandshakeDone();
    EXPECT_FALSE(old.HandshakeDone());
  }
  TlsConnection tls;
  tls.SetVerifyCertificates(false);
  tls.SetVersionPolicy(TlsVersionPolicy::kTls12);
  tls.StartClient();
  SocketDriver link(tls, SocketDriver::Connect(port12));
  link.PumpUntilHandshakeDone();
  ASSERT_TRUE(tls.HandshakeDone());
  link.SetFilter([](Bytes bytes) {
    if (bytes.size() > 10) bytes[bytes.size() - 1] ^= 0x01;
    return bytes;
  });
  ASSERT_TRUE(link.Send("ping\n"));
  EXPECT_EQ(link.PumpUntilContains("gnip"), "");
  EXPECT_TRUE(tls.Failed());
  stopNetworking();
}

// TLS 1.3 only, secp384r1 only: "1.3" and "auto" each get a
// HelloRetryRequest, answer with a P-384 share and finish with one of the
// two suites the server allows (s_server takes two connections).
TEST(ClientVsOpenSsl13, RetryRequestAndSuites) {
  const char* port = std::getenv("QV_TLS13_PEER_PORT");
  if (port == nullptr || *port == '\0' || std::string(port) == "0")
    GTEST_SKIP() << "no openssl s_server (run through run_with_s_server.sh)";
  ASSERT_TRUE(startNetworking());
  for (const TlsVersionPolicy policy : {TlsVersionPolicy::kTls13, TlsVersionPolicy::kAuto}) {
    TlsConnection tls;
    tls.SetServerName("pbx.example.com");
    tls.SetVerifyCertificates(false);
    tls.SetVersionPolicy(policy);
    tls.StartClient();
    SocketDriver link(tls, SocketDriver::Connect(static_cast<std::uint16_t>(std::stoi(port))));
    ASSERT_TRUE(link.Valid());
    ASSERT_TRUE(link.Send("<StartApplicationSession/>\n"));
    EXPECT_NE(link.PumpUntilContains(">/noisseSnoitacilppAtratS<").find(">/noisseSnoitacilppAtratS<"),
              Bytes::npos);
    EXPECT_FALSE(tls.Failed());
    EXPECT_EQ(tls.NegotiatedVersion(), 0x0304);
    EXPECT_TRUE(tls.CipherSuite() == Bytes("\x13\x02", 2) || tls.CipherSuite() == Bytes("\x13\x03", 2))
        << hexEncode(tls.CipherSuite());
    EXPECT_TRUE(TlsConnectionTestPeer(tls).Tls13().retried);
    tls.SendCloseNotify();
    link.Send("");
  }
  stopNetworking();
}

}  // namespace
}  // namespace qv
