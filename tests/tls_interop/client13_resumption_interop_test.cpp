// TLS 1.3 resumption against openssl s_server and gnutls-serv: the ticket of
// one connection resumes the next (also after a HelloRetryRequest); a server
// that does not know it, or an expired ticket, gives a full handshake; the
// PBX link offers its ticket (or TLS 1.2 session) only to the same name and
// peer.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/peer_process.h"
#include "tests/tls_interop/socket_driver.h"
#include "platform/socket.h"
#include "session/pbx_link.h"
#include "session/settings.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

using test::PeerProcess;
using test::SocketDriver;

class Resumption13Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    startNetworking();
    if (!test::commandExists("openssl")) GTEST_SKIP() << "no openssl";
    cert_ = (dir_ / "cert.pem").string();
    key_ = (dir_ / "key.pem").string();
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                           key_ + " -out " + cert_ + " -subj /CN=pbx.example.com -days 2 >/dev/null 2>&1")
                              .c_str()),
              0);
  }
  void TearDown() override { stopNetworking(); }

  std::unique_ptr<PeerProcess> StartOpenSsl(const std::string& options) {
    port_ = test::freePort();
    auto server =
        std::make_unique<PeerProcess>("openssl s_server -accept 127.0.0.1:" + std::to_string(port_) +
                                          " -cert " + cert_ + " -key " + key_ + " -rev " + options,
                                      dir_ / ("s_server-" + std::to_string(port_) + ".txt"));
    EXPECT_TRUE(server->WaitForOutput("ACCEPT")) << server->Output();
    echoReversed_ = true;
    return server;
  }

  std::unique_ptr<PeerProcess> StartGnuTls(const std::string& priority) {
    port_ = test::freePort();
    auto server =
        std::make_unique<PeerProcess>("gnutls-serv --echo -p " + std::to_string(port_) + " --x509certfile " +
                                          cert_ + " --x509keyfile " + key_ + " --priority " + priority,
                                      dir_ / ("gnutls-" + std::to_string(port_) + ".txt"));
    echoReversed_ = false;
    return server;
  }

  // One connection with `ticket` offered; true when its echo came back.
  // The connection's own ticket (read with the echo) replaces `ticket`.
  bool Connect(std::optional<Tls13Ticket>& ticket, bool& resumed, TlsVersionPolicy policy) {
    TlsConnection tls;
    tls.SetLog(test::testLog("CSTA: "));
    tls.SetServerName("pbx.example.com");
    tls.SetVerifyCertificates(false);
    tls.SetVersionPolicy(policy);
    tls.SetResumptionTicket13(ticket);
    tls.StartClient();
    SocketHandle socket = kInvalidSocket;
    for (int attempt = 0; attempt < 300 && socket == kInvalidSocket; ++attempt) {
      socket = SocketDriver::Connect(port_);
      if (socket == kInvalidSocket) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    SocketDriver link(tls, socket);
    if (!link.Valid() || !link.Send("resume me\n")) return false;
    const std::string expected = echoReversed_ ? "em emuser" : "resume me";
    const bool echoed = link.PumpUntilContains(expected).find(expected) != Bytes::npos;
    resumed = tls.Resumed();
    if (resumed) {
      EXPECT_TRUE(tls.PeerCertificates().empty());
    }
    ticket = tls.TakeLatestTicket13();
    tls.SendCloseNotify();
    link.Send("");
    return echoed && !tls.Failed();
  }

  test::ScratchDir dir_;
  std::string cert_, key_;
  std::uint16_t port_ = 0;
  bool echoReversed_ = true;
};

TEST_F(Resumption13Interop, SecondConnectResumes) {
  const struct {
    const char* options;
    TlsVersionPolicy policy;
  } cases[] = {
      {"-tls1_3", TlsVersionPolicy::kTls13},
      {"", TlsVersionPolicy::kAuto},
      {"-tls1_3 -ciphersuites TLS_AES_256_GCM_SHA384", TlsVersionPolicy::kTls13},
      // Every hello gets a HelloRetryRequest: the binder is made again.
      {"-tls1_3 -groups P-384", TlsVersionPolicy::kTls13},
  };
  for (const auto& c : cases) {
    auto server = StartOpenSsl(std::string("-naccept 3 ") + c.options);
    test::LogCapture log;
    std::optional<Tls13Ticket> ticket;
    bool resumed = true;
    ASSERT_TRUE(Connect(ticket, resumed, c.policy)) << c.options << server->Output() << log.text();
    EXPECT_FALSE(resumed);
    ASSERT_TRUE(ticket.has_value()) << c.options;
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(Connect(ticket, resumed, c.policy)) << c.options << server->Output() << log.text();
      EXPECT_TRUE(resumed) << c.options << " round " << round;
      EXPECT_TRUE(ticket.has_value());
    }
    EXPECT_NE(log.text().find("TLS session resumed (TLS 1.3)"), std::string::npos);
    EXPECT_NE(log.text().find("TLS full handshake (TLS 1.3)"), std::string::npos);
  }
}

TEST_F(Resumption13Interop, UnknownOrExpiredTicketGivesFullHandshake) {
  std::optional<Tls13Ticket> ticket;
  bool resumed = true;
  {
    auto server = StartOpenSsl("-naccept 1 -tls1_3");
    ASSERT_TRUE(Connect(ticket, resumed, TlsVersionPolicy::kTls13)) << server->Output();
    ASSERT_TRUE(ticket.has_value());
  }
  // A restarted server has a fresh ticket key: it declines.
  auto server = StartOpenSsl("-naccept 2 -tls1_3");
  ASSERT_TRUE(Connect(ticket, resumed, TlsVersionPolicy::kTls13)) << server->Output();
  EXPECT_FALSE(resumed);
  ASSERT_TRUE(ticket.has_value());
  // Its own ticket, past its lifetime, is not offered.
  ticket->received -= std::chrono::seconds(ticket->lifetimeSeconds + 1);
  test::LogCapture log;
  ASSERT_TRUE(Connect(ticket, resumed, TlsVersionPolicy::kTls13)) << server->Output();
  EXPECT_FALSE(resumed);
  EXPECT_NE(log.text().find("TLS resumption ticket expired"), std::string::npos) << log.text();
}

TEST_F(Resumption13Interop, GnuTlsSecondConnectResumes) {
  if (!test::commandExists("gnutls-serv")) GTEST_SKIP() << "no gnutls-serv";
  auto server = StartGnuTls("NORMAL:-VERS-ALL:+VERS-TLS1.3");
  std::optional<Tls13Ticket> ticket;
  bool resumed = true;
  ASSERT_TRUE(Connect(ticket, resumed, TlsVersionPolicy::kTls13)) << server->Output();
  EXPECT_FALSE(resumed);
  ASSERT_TRUE(ticket.has_value()) << server->Output();
  ASSERT_TRUE(Connect(ticket, resumed, TlsVersionPolicy::kTls13)) << server->Output();
  EXPECT_TRUE(resumed) << server->Output();
}

// TLS 1.2 against gnutls-serv: its ticket (and with --noticket its session
// id) resumes the next connection.
TEST_F(Resumption13Interop, GnuTlsTls12SessionResumes) {
  if (!test::commandExists("gnutls-serv")) GTEST_SKIP() << "no gnutls-serv";
  for (const char* options : {"", " --noticket"}) {
    auto server = StartGnuTls(std::string("NORMAL:-VERS-ALL:+VERS-TLS1.2") + options);
    std::optional<Tls12Session> session;
    for (int round = 0; round < 3; ++round) {
      TlsConnection tls;
      tls.SetServerName("pbx.example.com");
      tls.SetVerifyCertificates(false);
      tls.SetVersionPolicy(TlsVersionPolicy::kTls12);
      tls.SetResumptionSession12(session);
      tls.StartClient();
      SocketHandle socket = kInvalidSocket;
      for (int attempt = 0; attempt < 300 && socket == kInvalidSocket; ++attempt) {
        socket = SocketDriver::Connect(port_);
        if (socket == kInvalidSocket) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      SocketDriver link(tls, socket);
      ASSERT_TRUE(link.Valid() && link.Send("resume me\n")) << options;
      ASSERT_NE(link.PumpUntilContains("resume me").find("resume me"), Bytes::npos)
          << options << server->Output();
      EXPECT_EQ(tls.Resumed(), round > 0) << options << " round " << round;
      session = tls.TakeLatestSession12();
      ASSERT_TRUE(session.has_value()) << options;
      EXPECT_EQ(session->ticket.empty(), std::string(options) != "") << options;
      tls.SendCloseNotify();
      link.Send("");
    }
  }
}

// The link's connections as the session makes them: the ticket (TLS 1.3) or
// session (TLS 1.2) of one goes to the next for the same name and peer, never
// to another peer or name.
TEST_F(Resumption13Interop, PbxLinkResumesOnlyTheSameNameAndPeer) {
  const struct {
    const char* tlsversion;
    const char* options;
    const char* done;  // the log line after which the next connection's ticket is kept
  } cases[] = {
      {"1.3", "-tls1_3", "NewSessionTicket (lifetime"},
      {"1.2", "-tls1_2", "TLS 1.2)"},
  };
  for (const auto& c : cases) {
    ProviderSettings settings = SettingsSnapshot();
    settings.tlsversion = c.tlsversion;
    ReplaceSettings(settings);
    auto server = StartOpenSsl(std::string("-naccept 5 ") + c.options);
    PbxLink link;
    const std::string suffix = std::string(" (TLS ") + c.tlsversion + ")";
    const auto connectOnce = [&](const std::string& name, const std::string& peer) {
      test::LogCapture log;
      link.Attach(SocketDriver::Connect(port_), true, name, peer);
      link.SendRequest("<Probe/>");
      char buffer[4096];
      while (!log.contains(c.done)) {
        const long n = receiveSome(link.Socket(), buffer, sizeof buffer);
        if (n <= 0) break;
        link.Unwrap(std::string_view(buffer, static_cast<std::size_t>(n)));
      }
      closeSocket(link.Detach());
      if (log.contains("TLS session resumed" + suffix)) return std::string("resumed");
      return std::string(log.contains("TLS full handshake" + suffix) ? "full" : "failed: " + log.text());
    };
    const std::string peer = "127.0.0.1:" + std::to_string(port_);
    EXPECT_EQ(connectOnce("pbx.example.com", peer), "full") << c.options;
    EXPECT_EQ(connectOnce("pbx.example.com", peer), "resumed") << c.options;
    EXPECT_EQ(connectOnce("pbx.example.com", "localhost:" + std::to_string(port_)), "full") << c.options;
    EXPECT_EQ(connectOnce("other.example.com", "localhost:" + std::to_string(port_)), "full") << c.options;
    // Shutdown forgets the ticket.
    link.ForgetResumption();
    EXPECT_EQ(connectOnce("other.example.com", "localhost:" + std::to_string(port_)), "full") << c.options;
    settings.tlsversion = "1.0";
    ReplaceSettings(settings);
  }
}

}  // namespace
}  // namespace qv
