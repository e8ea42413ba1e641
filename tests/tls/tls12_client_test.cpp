// Our TLS 1.2 client against libssl's server in the same process: every
// suite, both signature kinds, the version policies, and rewritten server
// flights (bad signature, low-order X25519 shares, damaged GCM records,
// downgrade, renegotiation_info), and resumption by ticket and session id.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "tests/tls/openssl_memory_server.h"
#include "tests/tls/tls_test_util.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

using test::MemoryServer;

// Every line the engine writes, level 9 included.
struct Lines {
  std::vector<std::string> lines;
  TlsLog Log() {
    TlsLog log;
    log.enabled = [](int) { return true; };
    log.write = [this](int level, std::string_view text) {
      lines.push_back(std::to_string(level) + " " + std::string(text));
    };
    log.prefix = "CSTA: ";
    return log;
  }
  bool Contains(std::string_view text) const {
    for (const std::string& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::string All() const {
    std::string all;
    for (const std::string& line : lines) all += line.substr(0, 300) + "\n";
    return all;
  }
};

using Rewrite = std::function<Bytes(Bytes)>;

// Our client and the server, pumped until both are quiet. `toClient` may
// rewrite each flight of the server before the client sees it.
struct Session {
  Lines log;
  TlsConnection client;
  MemoryServer server;
  Rewrite toClient;
  Bytes clientReceived;
  Bytes serverReceived;
  Bytes clientSent;    // everything the client wrote, in order
  Bytes clientRandom;  // from the ClientHello

  Session(SSL_CTX* context, TlsVersionPolicy policy, std::optional<Tls12Session> resume = {})
      : client(log.Log()), server(context) {
    client.SetServerName("pbx.example.com");
    client.SetVerifyCertificates(false);
    client.SetVersionPolicy(policy);
    client.SetResumptionSession12(std::move(resume));
    client.StartClient();
  }
  void Pump(std::string_view clientData = {}, std::string_view serverData = {}) {
    Bytes toServer = client.SendApplicationData(clientData);
    bool serverWrote = serverData.empty();
    if (clientRandom.empty() && !toServer.empty()) {
      clientRandom = test::splitRecords(toServer).at(0).fragment.substr(6, 32);
    }
    for (int round = 0; round < 20; ++round) {
      clientSent += toServer;
      server.Feed(toServer);
      serverReceived += server.Read();
      if (!serverWrote && SSL_is_init_finished(server.ssl)) {
        server.Write(serverData);
        serverWrote = true;
      }
      Bytes flight = server.Drain();
      if (toServer.empty() && flight.empty()) break;
      if (toClient && !flight.empty()) flight = toClient(flight);
      clientReceived += client.ReceiveBytes(flight);
      toServer = client.SendApplicationData("");
    }
  }
  // The alert descriptions the client sent in the clear.
  std::vector<int> PlainAlerts() const {
    std::vector<int> alerts;
    for (const test::ParsedRecord& r : test::splitRecords(clientSent)) {
      if (r.type == kContentAlert && r.fragment.size() == 2)
        alerts.push_back(static_cast<std::uint8_t>(r.fragment[1]));
    }
    return alerts;
  }
};

// Applies `edit` to the body of every handshake message of `type` in a
// flight, re-framing the handshake records (one record for all of them).
Bytes rewriteMessage(const Bytes& flight, std::uint8_t type, const std::function<Bytes(Bytes)>& edit) {
  Bytes handshake;
  Bytes rest;
  Bytes version;
  for (const test::ParsedRecord& r : test::splitRecords(flight)) {
    if (r.type == kContentHandshake) {
      handshake += r.fragment;
      version = r.version;
    } else {
      rest += test::record(r.type, r.fragment, r.version);
    }
  }
  if (handshake.empty()) return flight;
  Bytes messages;
  std::size_t at = 0;
  while (at + 4 <= handshake.size()) {
    const std::size_t length = bytesToUInt(std::string_view(handshake).substr(at + 1, 3));
    Bytes body = handshake.substr(at + 4, length);
    const auto messageType = static_cast<std::uint8_t>(handshake[at]);
    if (messageType == type) body = edit(body);
    messages += test::handshakeMessage(messageType, body);
    at += 4 + length;
  }
  return test::record(kContentHandshake, messages, version) + rest;
}

class Tls12Client : public ::testing::Test {
 protected:
  void TearDown() override {
    for (SSL_CTX* context : contexts_) SSL_CTX_free(context);
  }
  SSL_CTX* Context(const std::string& cipher = {}, int maxVersion = 0, int minVersion = 0) {
    contexts_.push_back(test::makeServerContext(cipher, maxVersion, minVersion));
    return contexts_.back();
  }
  std::vector<SSL_CTX*> contexts_;
};

TEST_F(Tls12Client, OpenSslDefaultsGiveEcdheAes128GcmWithExtendedMasterSecret) {
  // "auto" offers TLS 1.3 too: it stays at 1.2 with a server that stops there.
  for (const TlsVersionPolicy policy : {TlsVersionPolicy::kTls12, TlsVersionPolicy::kAuto}) {
    Session s(Context({}, TLS1_2_VERSION), policy);
    s.Pump("login", "welcome");
    EXPECT_TRUE(s.client.HandshakeDone()) << s.log.All();
    EXPECT_FALSE(s.client.Failed()) << s.log.All();
    EXPECT_EQ(hexEncode(s.client.CipherSuite()), "c02f");
    EXPECT_EQ(s.client.NegotiatedVersion(), 0x0303);
    EXPECT_EQ(SSL_get_extms_support(s.server.ssl), 1);
    EXPECT_EQ(s.serverReceived, "login");
    EXPECT_EQ(s.clientReceived, "welcome");
    // Records larger than one fragment, both ways, keep the sequence.
    const Bytes big(40000, 'b');
    s.Pump(big, big);
    EXPECT_EQ(s.serverReceived, "login" + big);
    EXPECT_EQ(s.clientReceived, "welcome" + big);
  }
}

TEST_F(Tls12Client, EverySuiteAndSignatureScheme) {
  const struct {
    const char* cipher;
    const char* suite;
  } cases[] = {
      {"ECDHE-RSA-AES128-GCM-SHA256", "c02f"},
      {"ECDHE-RSA-AES256-GCM-SHA384", "c030"},
      {"AES128-GCM-SHA256", "009c"},
      {"AES256-GCM-SHA384", "009d"},
      {"ECDHE-RSA-AES128-SHA", "c013"},
      {"ECDHE-RSA-AES256-SHA", "c014"},
      {"AES128-SHA", "002f"},
      {"AES256-SHA", "0035"},
  };
  for (const auto& c : cases) {
    Session s(Context(c.cipher, TLS1_2_VERSION), TlsVersionPolicy::kTls12);
    s.Pump("ping", "pong");
    EXPECT_EQ(hexEncode(s.client.CipherSuite()), c.suite) << c.cipher << "\n" << s.log.All();
    EXPECT_EQ(s.clientReceived, "pong") << c.cipher;
    EXPECT_EQ(s.serverReceived, "ping") << c.cipher;
    EXPECT_FALSE(s.client.Failed()) << c.cipher;
  }
  for (const char* sigalgs : {"RSA+SHA256", "RSA+SHA384", "RSA+SHA512", "rsa_pss_rsae_sha256",
                              "rsa_pss_rsae_sha384", "rsa_pss_rsae_sha512"}) {
    SSL_CTX* context = Context("ECDHE-RSA-AES128-GCM-SHA256", TLS1_2_VERSION);
    SSL_CTX_set1_sigalgs_list(context, sigalgs);
    Session s(context, TlsVersionPolicy::kTls12);
    s.Pump("ping", "pong");
    EXPECT_EQ(s.clientReceived, "pong") << sigalgs << "\n" << s.log.All();
  }
}

TEST_F(Tls12Client, AutoAcceptsTls10ServerAndTls12RefusesIt) {
  {
    Session s(Context("AES128-SHA:@SECLEVEL=0", TLS1_VERSION), TlsVersionPolicy::kAuto);
    SSL_set_security_level(s.server.ssl, 0);
    s.Pump("old", "server");
    EXPECT_EQ(s.clientReceived, "server") << s.log.All();
    EXPECT_EQ(s.client.NegotiatedVersion(), 0x0301);
    EXPECT_EQ(hexEncode(s.client.CipherSuite()), "002f");
    // RFC 7627 over TLS 1.0: MD5 || SHA-1 session hash.
    EXPECT_EQ(SSL_get_extms_support(s.server.ssl), 1);
  }
  {
    Session s(Context("AES128-SHA:@SECLEVEL=0", TLS1_VERSION), TlsVersionPolicy::kTls12);
    SSL_set_security_level(s.server.ssl, 0);
    s.Pump("old", "server");
    EXPECT_TRUE(s.client.Failed());
    EXPECT_EQ(s.PlainAlerts(), std::vector<int>{70});
    EXPECT_TRUE(s.log.Contains("1 CSTA: Server chose TLS version 3.1, which tlsversion 1.2 does not allow"))
        << s.log.All();
  }
}

TEST_F(Tls12Client, BadServerKeyExchangeSignatureIsFatal) {
  Session s(Context("ECDHE-RSA-AES128-GCM-SHA256"), TlsVersionPolicy::kTls12);
  s.toClient = [](Bytes flight) {
    return rewriteMessage(flight, kHandshakeServerKeyExchange, [](Bytes body) {
      body.back() ^= 0x01;
      return body;
    });
  };
  s.Pump("x");
  EXPECT_TRUE(s.client.Failed());
  EXPECT_EQ(s.PlainAlerts(), std::vector<int>{51});
  EXPECT_TRUE(s.log.Contains("does not verify with the server's certificate")) << s.log.All();
  EXPECT_EQ(s.serverReceived, "");
}

TEST_F(Tls12Client, LowOrderX25519SharesAreRefused) {
  const char* const points[] = {
      "0000000000000000000000000000000000000000000000000000000000000000",
      "0100000000000000000000000000000000000000000000000000000000000000",
      "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
      "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",
      "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
  };
  for (const char* point : points) {
    Session s(Context("ECDHE-RSA-AES128-GCM-SHA256"), TlsVersionPolicy::kTls12);
    s.toClient = [&](Bytes flight) {
      Bytes serverRandom;
      flight = rewriteMessage(flight, kHandshakeServerHello, [&](Bytes body) {
        serverRandom = body.substr(2, 32);
        return body;
      });
      return rewriteMessage(flight, kHandshakeServerKeyExchange, [&](const Bytes&) {
        // The same share, signed properly by the server's own key.
        const Bytes params = Bytes("\x03\x00\x1d\x20", 4) + test::hexDecode(point);
        const Bytes signature = test::signWithServerKey(s.clientRandom + serverRandom + params);
        return params + Bytes("\x04\x01", 2) + uintToBytes(static_cast<std::uint32_t>(signature.size()), 2) +
               signature;
      });
    };
    s.Pump();
    EXPECT_TRUE(s.client.Failed()) << point;
    EXPECT_EQ(s.PlainAlerts(), std::vector<int>{47}) << point << "\n" << s.log.All();
    EXPECT_TRUE(s.log.Contains("1 CSTA: Server's X25519 share gives an all-zero secret")) << point;
  }
}

TEST_F(Tls12Client, DamagedGcmRecordsAreFatal) {
  {
    Session s(Context(), TlsVersionPolicy::kTls12);
    s.Pump("a", "b");
    ASSERT_EQ(s.clientReceived, "b");
    s.toClient = [](Bytes flight) {
      flight.back() ^= 0x01;  // inside the tag
      return flight;
    };
    s.Pump("", "tampered");
    EXPECT_TRUE(s.client.Failed());
    EXPECT_EQ(s.clientReceived, "b");
    EXPECT_TRUE(s.log.Contains("SendAlert(0214)")) << s.log.All();
    EXPECT_TRUE(s.log.Contains("CSTA: Bad Record Mac"));
  }
  {
    Session s(Context(), TlsVersionPolicy::kTls12);
    s.Pump("a", "b");
    ASSERT_EQ(s.clientReceived, "b");
    // Shorter than explicit nonce and tag: nothing to decrypt.
    EXPECT_EQ(s.client.ReceiveBytes(test::record(kContentApplicationData, Bytes(23, 'n'), "\x03\x03")), "");
    EXPECT_TRUE(s.client.Failed());
    EXPECT_TRUE(s.log.Contains("SendAlert(0232)")) << s.log.All();
    EXPECT_TRUE(s.log.Contains("GCM record of 23 bytes"));
  }
}

TEST_F(Tls12Client, NonEmptyRenegotiationInfoIsRefused) {
  Session s(Context(), TlsVersionPolicy::kTls12);
  s.toClient = [](Bytes flight) {
    return rewriteMessage(flight, kHandshakeServerHello, [](Bytes body) {
      // version, random, empty id, suite, compression, then our extensions
      return body.substr(0, 2 + 32 + 1 + body[34] + 3) +
             Bytes("\x00\x08\xff\x01\x00\x04\x03\xaa\xbb\xcc", 10);
    });
  };
  s.Pump("x");
  EXPECT_EQ(s.PlainAlerts(), std::vector<int>{40}) << s.log.All();
  EXPECT_TRUE(s.log.Contains("Non-empty renegotiation_info on the initial handshake"));
}

TEST_F(Tls12Client, CertificateCheckSeesTheChainFirst) {
  Session s(Context(), TlsVersionPolicy::kAuto);
  int calls = 0;
  s.client.SetCertificateCheck([&](const std::vector<Bytes>& chain) {
    ++calls;
    EXPECT_EQ(chain.size(), 1u);
    return CertificateVerdict{false, 0, "refused by the test"};
  });
  s.Pump("x");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(s.PlainAlerts(), std::vector<int>{46});
  EXPECT_TRUE(s.log.Contains("1 CSTA: refused by the test"));
}

TEST_F(Tls12Client, CertificateRequestIsAnsweredEmptyOrWithASha256Signature) {
  {
    // No identity of ours matches: an empty Certificate, no CertificateVerify.
    SSL_CTX* context = Context();
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    Session s(context, TlsVersionPolicy::kTls12);
    s.Pump("who", "anyone");
    EXPECT_EQ(s.clientReceived, "anyone") << s.log.All();
    EXPECT_EQ(SSL_get0_peer_certificate(s.server.ssl), nullptr);
  }
  // The test CA's server certificate (1024-bit, SHA-1 signed) as our own
  // identity, requested by a server that trusts that CA.
  test::loadServerIdentity();
  SSL_CTX* context = Context();
  SSL_CTX_set_security_level(context, 0);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  const Bytes ca = test::hexDecode(test::kCaHex);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(ca.data());
  X509* caCert = d2i_X509(nullptr, &p, static_cast<long>(ca.size()));
  X509_STORE_add_cert(SSL_CTX_get_cert_store(context), caCert);
  SSL_CTX_add_client_CA(context, caCert);
  X509_free(caCert);
  Session s(context, TlsVersionPolicy::kTls12);
  SSL_set_security_level(s.server.ssl, 0);
  s.Pump("me", "you");
  EXPECT_EQ(s.clientReceived, "you") << s.log.All();
  EXPECT_NE(SSL_get0_peer_certificate(s.server.ssl), nullptr);
  EXPECT_TRUE(s.log.Contains("SendCertificateVerify(0401"));
  ClearOwnIdentity();
}

TEST_F(Tls12Client, HelloRequestIsIgnored) {
  Session s(Context("", TLS1_2_VERSION), TlsVersionPolicy::kTls12);
  s.Pump("a", "b");
  ASSERT_EQ(s.clientReceived, "b");
  ASSERT_EQ(SSL_renegotiate(s.server.ssl), 1);
  SSL_do_handshake(s.server.ssl);
  s.Pump("still here");
  EXPECT_FALSE(s.client.Failed()) << s.log.All();
  EXPECT_EQ(s.serverReceived, "astill here");
  EXPECT_TRUE(s.log.Contains("ProcessHelloRequest"));
}

// --- Resumption --------------------------------------------------------------

struct Reconnect {
  bool ok = false;
  bool resumed = false;
  bool serverReused = false;
  int fullHandshakes = 0;
  std::optional<Tls12Session> session;
  std::string log;
};

// One connect with `offered`, a login and its answer.
Reconnect reconnect(SSL_CTX* context, TlsVersionPolicy policy, std::optional<Tls12Session> offered) {
  Session s(context, policy, std::move(offered));
  s.Pump("login", "welcome");
  Reconnect r;
  r.ok = !s.client.Failed() && s.clientReceived == "welcome" && s.serverReceived == "login";
  r.resumed = s.client.Resumed();
  r.serverReused = SSL_session_reused(s.server.ssl) == 1;
  for (const std::string& line : s.log.lines)
    r.fullHandshakes += line == "3 CSTA: TLS full handshake (TLS 1.2)";
  EXPECT_EQ(r.resumed, s.log.Contains("3 CSTA: TLS session resumed (TLS 1.2)"));
  if (r.resumed) {
    EXPECT_TRUE(s.client.PeerCertificates().empty());
  }
  r.session = s.client.TakeLatestSession12();
  r.log = s.log.All();
  // libssl drops a session from its cache when the connection ends unclosed.
  s.client.SendCloseNotify();
  s.Pump();
  SSL_shutdown(s.server.ssl);
  return r;
}

SSL_CTX* withTickets(SSL_CTX* context, bool tickets) {
  if (tickets) SSL_CTX_clear_options(context, SSL_OP_NO_TICKET);
  return context;
}

TEST_F(Tls12Client, SecondAndThirdConnectResumeByTicketOrSessionId) {
  const struct {
    const char* what;
    const char* cipher;
    bool tickets;
    TlsVersionPolicy policy;
  } cases[] = {
      {"ticket", "", true, TlsVersionPolicy::kTls12},
      {"ticket, auto", "", true, TlsVersionPolicy::kAuto},
      {"ticket, CBC suite", "ECDHE-RSA-AES256-SHA", true, TlsVersionPolicy::kTls12},
      {"session id", "", false, TlsVersionPolicy::kTls12},
      {"session id, auto", "", false, TlsVersionPolicy::kAuto},
      {"session id, RSA key exchange", "AES128-GCM-SHA256", false, TlsVersionPolicy::kTls12},
  };
  for (const auto& c : cases) {
    SSL_CTX* context = withTickets(Context(c.cipher, TLS1_2_VERSION), c.tickets);
    Reconnect r = reconnect(context, c.policy, std::nullopt);
    ASSERT_TRUE(r.ok) << c.what << "\n" << r.log;
    EXPECT_FALSE(r.resumed);
    EXPECT_EQ(r.fullHandshakes, 1) << c.what;
    ASSERT_TRUE(r.session.has_value()) << c.what;
    EXPECT_EQ(r.session->ticket.empty(), !c.tickets) << c.what;
    for (int round = 0; round < 2; ++round) {
      r = reconnect(context, c.policy, std::move(r.session));
      ASSERT_TRUE(r.ok) << c.what << " round " << round << "\n" << r.log;
      EXPECT_TRUE(r.resumed) << c.what << " round " << round << "\n" << r.log;
      EXPECT_TRUE(r.serverReused) << c.what;
      EXPECT_EQ(r.fullHandshakes, 0) << c.what;
      ASSERT_TRUE(r.session.has_value()) << c.what;
    }
  }
}

// A server that does not know the session (restarted: new ticket keys, an
// empty cache) answers with one full handshake, whose session is kept.
TEST_F(Tls12Client, DeclinedSessionGivesOneFullHandshake) {
  for (const bool tickets : {true, false}) {
    const Reconnect first =
        reconnect(withTickets(Context({}, TLS1_2_VERSION), tickets), TlsVersionPolicy::kTls12, std::nullopt);
    ASSERT_TRUE(first.session.has_value()) << first.log;
    SSL_CTX* restarted = withTickets(Context({}, TLS1_2_VERSION), tickets);
    Reconnect r = reconnect(restarted, TlsVersionPolicy::kTls12, first.session);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_FALSE(r.resumed);
    EXPECT_FALSE(r.serverReused);
    EXPECT_EQ(r.fullHandshakes, 1) << r.log;
    EXPECT_NE(r.log.find("Server did not resume the offered session"), std::string::npos) << r.log;
    r = reconnect(restarted, TlsVersionPolicy::kTls12, std::move(r.session));
    EXPECT_TRUE(r.resumed) << tickets << "\n" << r.log;
  }
}

// Without the extended master secret nothing is kept, so nothing is offered.
TEST_F(Tls12Client, ServerWithoutExtendedMasterSecretIsNeverResumed) {
  for (const bool tickets : {true, false}) {
    SSL_CTX* context = withTickets(Context({}, TLS1_2_VERSION), tickets);
    SSL_CTX_set_options(context, SSL_OP_NO_EXTENDED_MASTER_SECRET);
    const Reconnect r = reconnect(context, TlsVersionPolicy::kTls12, std::nullopt);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.fullHandshakes, 1);
    EXPECT_FALSE(r.session.has_value()) << tickets;
  }
  // A session made with it, offered to the same server after it stopped
  // using it: libssl answers with alert 40. The failed connection leaves no
  // session, so the next connect is one full handshake.
  SSL_CTX* context = withTickets(Context({}, TLS1_2_VERSION), true);
  Reconnect r = reconnect(context, TlsVersionPolicy::kTls12, std::nullopt);
  ASSERT_TRUE(r.session.has_value());
  SSL_CTX_set_options(context, SSL_OP_NO_EXTENDED_MASTER_SECRET);
  r = reconnect(context, TlsVersionPolicy::kTls12, std::move(r.session));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.log.find("Alert(2, 40)"), std::string::npos) << r.log;
  EXPECT_FALSE(r.session.has_value()) << r.log;
  r = reconnect(context, TlsVersionPolicy::kTls12, std::move(r.session));
  EXPECT_TRUE(r.ok) << r.log;
  EXPECT_EQ(r.fullHandshakes, 1);
}

// A ticket too long to be offered again (20 KB of the server's own data in
// it) is not kept, under either version; the connection goes on.
int bigTicket(SSL* ssl, void* /*arg*/) {
  static const std::string data(20000, 'x');
  return SSL_SESSION_set1_ticket_appdata(SSL_get_session(ssl), data.data(), data.size());
}

TEST_F(Tls12Client, OversizedTicketsAreNotKept) {
  for (const TlsVersionPolicy policy : {TlsVersionPolicy::kTls12, TlsVersionPolicy::kTls13}) {
    SSL_CTX* context =
        withTickets(Context({}, policy == TlsVersionPolicy::kTls12 ? TLS1_2_VERSION : 0), true);
    SSL_CTX_set_session_ticket_cb(context, bigTicket, nullptr, nullptr);
    Session s(context, policy);
    s.Pump("login", "welcome");
    EXPECT_EQ(s.clientReceived, "welcome") << s.log.All();
    EXPECT_TRUE(s.log.Contains("bytes is not kept")) << s.log.All();
    const std::optional<Tls12Session> session = s.client.TakeLatestSession12();
    EXPECT_TRUE(!session || session->ticket.empty());
    EXPECT_FALSE(s.client.TakeLatestTicket13().has_value());
  }
}

}  // namespace
}  // namespace qv
