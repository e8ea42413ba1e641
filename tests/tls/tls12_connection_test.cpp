// TLS 1.2 through TlsConnection without a peer library (so it also runs
// under wine): the hellos of each policy, and records of GCM and
// explicit-IV CBC suites between two keyed ends.
#include <gtest/gtest.h>

#include <vector>

#include "crypto/ec.h"
#include "tests/tls/test_certificates.h"
#include "tests/tls/tls_connection_test_peer.h"
#include "tests/tls/tls_test_util.h"
#include "tls/signature_schemes.h"
#include "tls/hello_extensions.h"
#include "tls/tls12_suites.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

struct Captured {
  std::vector<std::string> lines;
  TlsLog Log() {
    TlsLog log;
    log.enabled = [](int) { return true; };
    log.write = [this](int, std::string_view text) { lines.emplace_back(text); };
    return log;
  }
  bool Contains(std::string_view text) const {
    for (const std::string& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

// The ClientHello body of a fresh client with this policy.
Bytes helloBody(TlsVersionPolicy policy, bool setPolicy = true) {
  TlsConnection client;
  client.SetServerName("pbx");
  if (setPolicy) client.SetVersionPolicy(policy);
  client.StartClient();
  const Bytes out = client.SendApplicationData("");
  EXPECT_EQ(out.substr(0, 3), Bytes("\x16\x03\x01", 3));  // the record always says TLS 1.0
  return out.substr(5 + 4);
}

TEST(Tls12Hello, EachPolicyOffersItsVersionSuitesAndExtensions) {
  // "1.0" is the hello without a policy: same length, same bytes after the random.
  const Bytes plain = helloBody(TlsVersionPolicy::kTls10, false);
  const Bytes tls10 = helloBody(TlsVersionPolicy::kTls10);
  EXPECT_EQ(plain.substr(0, 2), Bytes("\x03\x01", 2));
  EXPECT_EQ(plain.substr(34), tls10.substr(34));
  {
    const Bytes body = helloBody(TlsVersionPolicy::kTls12);
    const Bytes suites(kTls12OfferedSuites);
    const Bytes expected = Bytes("\x00", 1) + uintToBytes(static_cast<std::uint32_t>(suites.size()), 2) +
                           suites + Bytes("\x01\x00", 2) + BuildClientHelloExtensions("pbx");
    EXPECT_EQ(body.substr(0, 2), Bytes("\x03\x03", 2));
    EXPECT_EQ(hexEncode(body.substr(34)), hexEncode(expected));
  }
  {
    // "auto": a 32-byte session id (TLS 1.3 middlebox compatibility), the
    // TLS 1.3 suites before the TLS 1.2 and 1.0 ones, and the TLS 1.2
    // extensions first in the block.
    const Bytes body = helloBody(TlsVersionPolicy::kAuto);
    const Bytes suites =
        Bytes("\x13\x01\x13\x02\x13\x03", 6) + Bytes(kTls12OfferedSuites) + Bytes(kTls10OnlySuites);
    EXPECT_EQ(body.substr(0, 2), Bytes("\x03\x03", 2));
    ASSERT_EQ(body[34], '\x20');
    const Bytes afterId = body.substr(35 + 32);
    EXPECT_EQ(
        hexEncode(afterId.substr(0, 2 + suites.size() + 2)),
        hexEncode(uintToBytes(static_cast<std::uint32_t>(suites.size()), 2) + suites + Bytes("\x01\x00", 2)));
    const Bytes tls12Block = BuildClientHelloExtensions("pbx").substr(2);
    EXPECT_EQ(hexEncode(afterId.substr(2 + suites.size() + 2 + 2, tls12Block.size())), hexEncode(tls12Block));
  }
}

TEST(Tls12Hello, NoSessionIsOfferedForResumption) {
  TlsConnection client;
  client.SetVersionPolicy(TlsVersionPolicy::kTls12);
  TlsConnectionTestPeer(client).Handshake().sessionId = Bytes(32, 's');
  TlsConnectionTestPeer(client).Handshake().masterSecret = Bytes(48, 'm');
  client.PrepareResumption();
  client.StartClient();
  const Bytes body = client.SendApplicationData("").substr(9);
  EXPECT_EQ(body.substr(0, 2), Bytes("\x03\x03", 2));  // the policy survives PrepareResumption
  EXPECT_EQ(body[34], '\0');
  // A ChangeCipherSpec now cannot resume anything.
  Captured log;
  client.SetLog(log.Log());
  client.ReceiveBytes(Bytes("\x14\x03\x03\x00\x01\x01", 6));
  EXPECT_TRUE(client.Failed());
}

struct Pair {
  Captured clientLog;
  Captured serverLog;
  TlsConnection client{clientLog.Log()};
  TlsConnection server{serverLog.Log()};
  explicit Pair(std::string_view suite) {
    TlsConnectionTestPeer(client).InstallKeys12(TlsRole::kClient, suite);
    TlsConnectionTestPeer(server).InstallKeys12(TlsRole::kServer, suite);
  }
};

const char* const kSuites12[] = {"\xC0\x2F", "\xC0\x30", "\x00\x9C", "\x00\x9D", "\xC0\x13",
                                 "\xC0\x14", "\x00\x2F", "\x00\x35", "\xC0\x2B", "\xC0\x2C",
                                 "\xC0\x09", "\xC0\x0A", "\xCC\xA8", "\xCC\xA9"};

TEST(Tls12Records, EverySuiteCarriesDataBothWaysAcrossFragments) {
  for (const char* id : kSuites12) {
    const std::string_view suite(id, 2);
    Pair pair(suite);
    for (const std::size_t length : {1u, 100u, 16384u, 40000u}) {
      const Bytes data(length, static_cast<char>('a' + length % 26));
      const Bytes wire = pair.client.SendApplicationData(data);
      EXPECT_EQ(wire.substr(0, 3), Bytes("\x17\x03\x03", 3));
      EXPECT_EQ(pair.server.ReceiveBytes(wire), data) << hexEncode(suite) << " " << length;
      EXPECT_EQ(pair.client.ReceiveBytes(pair.server.SendApplicationData(data)), data) << hexEncode(suite);
    }
    // Two records alike in content differ on the wire (nonce or IV).
    const Bytes one = pair.client.SendApplicationData("same");
    const Bytes two = pair.client.SendApplicationData("same");
    EXPECT_NE(one.substr(5), two.substr(5)) << hexEncode(suite);
    EXPECT_EQ(pair.server.ReceiveBytes(one + two), "samesame");
    EXPECT_FALSE(pair.client.Failed() || pair.server.Failed());
  }
}

TEST(Tls12Records, DamagedReplayedOrShortRecordsAreFatal) {
  for (const char* id : kSuites12) {
    const std::string_view suite(id, 2);
    const bool gcm = FindTls12Suite(suite)->cipher == RecordCipher::kAesGcm;
    const bool chacha = FindTls12Suite(suite)->cipher == RecordCipher::kChaCha20Poly1305;
    {
      Pair pair(suite);
      Bytes wire = pair.client.SendApplicationData("payload");
      wire[wire.size() - 1] ^= 0x01;
      EXPECT_EQ(pair.server.ReceiveBytes(wire), "");
      EXPECT_TRUE(pair.server.Failed());
      EXPECT_TRUE(pair.serverLog.Contains("SendAlert(0214)")) << hexEncode(suite);
      EXPECT_TRUE(pair.serverLog.Contains("Bad Record Mac"));
    }
    {
      Pair pair(suite);
      const Bytes wire = pair.client.SendApplicationData("payload");
      EXPECT_EQ(pair.server.ReceiveBytes(wire), "payload");
      EXPECT_EQ(pair.server.ReceiveBytes(wire), "") << "replay " << hexEncode(suite);
      EXPECT_TRUE(pair.server.Failed());
    }
    {
      Pair pair(suite);
      // Explicit nonce and tag need 24 bytes; a CBC record at least 48.
      EXPECT_EQ(pair.server.ReceiveBytes(Bytes("\x17\x03\x03\x00\x17", 5) + Bytes(23, 'n')), "");
      EXPECT_TRUE(pair.server.Failed());
      EXPECT_TRUE(pair.serverLog.Contains(gcm ? "SendAlert(0232)" : "SendAlert(0214)")) << hexEncode(suite);
      EXPECT_EQ(pair.serverLog.Contains("GCM record of 23 bytes is shorter than its nonce and tag"), gcm);
    }
    if (chacha) {
      // No explicit nonce: a record shorter than the tag alone is malformed.
      Pair pair(suite);
      EXPECT_EQ(pair.server.ReceiveBytes(Bytes("\x17\x03\x03\x00\x0f", 5) + Bytes(15, 'n')), "");
      EXPECT_TRUE(pair.serverLog.Contains("SendAlert(0232)"));
      EXPECT_TRUE(pair.serverLog.Contains("ChaCha20-Poly1305 record of 15 bytes is shorter than its tag"));
    }
  }
}

Bytes der(std::uint8_t tag, std::string_view content) {
  Bytes out(1, static_cast<char>(tag));
  if (content.size() >= 0x80) out += '\x81';
  return out + static_cast<char>(content.size()) + Bytes(content);
}

// An unsigned certificate around an EC point on P-256 (named by OID).
Bytes ecCertificate(std::string_view point) {
  const Bytes name = der(0x30, der(0x31, der(0x30, der(0x06, "\x55\x04\x03") + der(0x0C, "pbx"))));
  const Bytes algorithm =
      der(0x30, der(0x06, "\x2A\x86\x48\xCE\x3D\x02\x01") + der(0x06, "\x2A\x86\x48\xCE\x3D\x03\x01\x07"));
  const Bytes keyInfo = der(0x30, algorithm + der(0x03, Bytes(1, '\0') + Bytes(point)));
  const Bytes tbs = der(0x30, der(0xA0, der(0x02, "\x02")) + der(0x02, "\x01") + der(0x30, "") + name +
                                  der(0x30, "") + name + keyInfo);
  return der(0x30, tbs + der(0x30, "") + der(0x03, Bytes(1, '\0')));
}

Bytes message(std::uint8_t type, std::string_view body) {
  return Bytes(1, static_cast<char>(type)) + uintToBytes(static_cast<std::uint32_t>(body.size()), 3) +
         Bytes(body);
}

TEST(Tls12ServerKey, EcKeysOnlyWithEcdsaSuitesAndOnTheirCurve) {
  const Bytes point = ecPublicKey(EcCurve::kP256, Bytes(31, '\0') + "\x07");
  Bytes offCurve = point;
  offCurve.back() ^= 0x01;
  const struct {
    const char* suite;
    Bytes point;
    const char* line;  // empty: accepted
    const char* alert;
  } cases[] = {
      {"\xC0\x2B", point, "", ""},
      {"\xCC\xA9", point, "", ""},
      {"\xC0\x2F", point,
       "Server's certificate has an ECDSA P-256 key, which suite ECDHE-RSA-AES128-GCM-SHA256 cannot use",
       "SendAlert(022b)"},
      {"\x00\x9C", point, "which suite RSA-AES128-GCM-SHA256 cannot use", "SendAlert(022b)"},
      {"\xC0\x2B", offCurve, "Server's certificate has an EC key that is not a point of its curve",
       "SendAlert(022a)"},
  };
  for (const auto& c : cases) {
    Captured log;
    TlsConnection client(log.Log());
    client.SetVerifyCertificates(false);
    client.SetVersionPolicy(TlsVersionPolicy::kTls12);
    client.StartClient();
    client.SendApplicationData("");
    TlsConnectionTestPeer peer(client);
    peer.ProcessHandshake(
        message(kHandshakeServerHello,
                Bytes("\x03\x03", 2) + Bytes(32, 'R') + Bytes(1, '\0') + Bytes(c.suite, 2) + Bytes(1, '\0')));
    const Bytes certificate = ecCertificate(c.point);
    const Bytes entry = uintToBytes(static_cast<std::uint32_t>(certificate.size()), 3) + certificate;
    peer.ProcessHandshake(
        message(kHandshakeCertificate, uintToBytes(static_cast<std::uint32_t>(entry.size()), 3) + entry));
    const std::string what = hexEncode(std::string_view(c.suite, 2));
    if (*c.line == '\0') {
      EXPECT_FALSE(client.Failed()) << what;
      EXPECT_EQ(client.PeerCertificates().size(), 1u) << what;
      continue;
    }
    EXPECT_TRUE(log.Contains(c.line)) << what;
    EXPECT_TRUE(log.Contains(c.alert)) << what;
    EXPECT_TRUE(client.PeerCertificates().empty()) << what;
  }
}

Bytes fromHex(std::string_view hex) {
  Bytes out;
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(k, 2)), nullptr, 16));
  }
  return out;
}

// A CertificateRequest answered with credentials (RSA key transport, so the
// test needs no server key): what is sent and logged for each request.
TEST(Tls12ClientCertificate, RequestAnsweredWithCredentialsOrNothing) {
  const Bytes serverCertificate = fromHex(test::kServerHex);
  const struct {
    const char* what;
    Bytes request;
    bool signs;
    const char* line;  // in the log
  } cases[] = {
      {"RSA type, PSS scheme", fromHex("01010004040308040000"), true, "SendCertificateVerify(0804"},
      {"peer's order wins", fromHex("0201400004040108040000"), true, "SendCertificateVerify(0401"},
      {"ECDSA type only", fromHex("0140000208040000"), true,
       "Server accepts no RSA client certificate (types 40): sending none"},
      {"no scheme of ours", fromHex("01010004040308090000"), true,
       "Client certificate's key makes none of the server's signature schemes (0403 0809): sending none"},
      {"key cannot sign", fromHex("0101000208040000"), false,
       "Client certificate's key could not sign (rsa_pss_rsae_sha256)"},
      {"authorities listed", fromHex("01010002080400090007300531030c0141"), true,
       "SendCertificateVerify(0804"},
      {"trailing byte", fromHex("010100020804000000"), true,
       "CertificateRequest lengths do not match the message"},
      {"no types", fromHex("00000208040000"), true, "CertificateRequest lists no certificate type"},
      {"odd scheme list", fromHex("010100030804000000"), true, "malformed signature scheme list"},
      {"empty authority name", fromHex("01010002080400020000"), true, "malformed authority name"},
  };
  for (const auto& c : cases) {
    Captured log;
    TlsConnection client(log.Log());
    client.SetVerifyCertificates(false);
    client.SetVersionPolicy(TlsVersionPolicy::kTls12);
    auto credentials = std::make_shared<ClientCredentials>();
    credentials->chainDer = {Bytes("own certificate")};
    credentials->supportedSchemes = {kSchemeRsaPssRsaeSha256, kSchemeRsaPkcs1Sha256};
    const bool signs = c.signs;
    credentials->sign = [signs](std::uint16_t, std::string_view) {
      return signs ? Bytes(128, 's') : Bytes();
    };
    client.SetClientCredentials(credentials);
    client.StartClient();
    client.SendApplicationData("");
    TlsConnectionTestPeer peer(client);
    peer.ProcessHandshake(
        message(kHandshakeServerHello, Bytes("\x03\x03", 2) + Bytes(32, 'R') + Bytes("\x00\x00\x9C\x00", 4)));
    const Bytes entry =
        uintToBytes(static_cast<std::uint32_t>(serverCertificate.size()), 3) + serverCertificate;
    peer.ProcessHandshake(
        message(kHandshakeCertificate, uintToBytes(static_cast<std::uint32_t>(entry.size()), 3) + entry));
    ASSERT_FALSE(client.Failed()) << c.what;
    peer.ProcessHandshake(message(kHandshakeCertificateRequest, c.request));
    peer.ProcessHandshake(message(kHandshakeServerHelloDone, ""));
    EXPECT_TRUE(log.Contains(c.line)) << c.what;
    // The chain goes out exactly when a CertificateVerify can follow.
    const bool chainSent = log.Contains("SendCertificate(00001200000f" + hexEncode("own certificate") + ")");
    // (A key that cannot sign is found out only after the chain went.)
    EXPECT_EQ(chainSent, log.Contains("SendCertificateVerify(") || !c.signs) << c.what;
  }
}

// --- Resumption: a stored session against hand-made server answers --------

Tls12Session storedSession() {
  Tls12Session session;
  session.sessionId = Bytes(32, 'S');
  session.ticket = "TICKET";
  session.masterSecret = Bytes(48, 'M');
  session.cipherSuite = Bytes("\xC0\x2F", 2);
  session.received = std::chrono::steady_clock::now();
  return session;
}

Bytes serverHello(std::string_view sessionId, std::string_view suite, bool ems, bool ticket) {
  Bytes extensions = Bytes("\xff\x01\x00\x01\x00", 5);
  if (ems) extensions += Bytes("\x00\x17\x00\x00", 4);
  if (ticket) extensions += Bytes("\x00\x23\x00\x00", 4);
  Bytes body = Bytes("\x03\x03", 2) + Bytes(32, 'r') + static_cast<char>(sessionId.size()) +
               Bytes(sessionId) + Bytes(suite) + '\0';
  body += uintToBytes(static_cast<std::uint32_t>(extensions.size()), 2) + extensions;
  return test::handshakeMessage(kHandshakeServerHello, body);
}

// The alert descriptions a client wrote in the clear.
std::vector<int> plainAlerts(const Bytes& sent) {
  std::vector<int> alerts;
  for (const test::ParsedRecord& r : test::splitRecords(sent)) {
    if (r.type == kContentAlert && r.fragment.size() == 2)
      alerts.push_back(static_cast<std::uint8_t>(r.fragment[1]));
  }
  return alerts;
}

TEST(Tls12Resumption, HelloOffersTheSessionByIdAndTicket) {
  for (const TlsVersionPolicy policy : {TlsVersionPolicy::kTls12, TlsVersionPolicy::kAuto}) {
    TlsConnection client;
    client.SetServerName("pbx");
    client.SetVersionPolicy(policy);
    client.SetResumptionSession12(storedSession());
    client.StartClient();
    const Bytes body = client.SendApplicationData("").substr(9);
    ASSERT_EQ(body[34], '\x20');
    EXPECT_EQ(body.substr(35, 32), Bytes(32, 'S'));
    EXPECT_NE(body.find(Bytes("\x00\x23\x00\x06TICKET", 10)), Bytes::npos);
  }
  // A ticket alone goes with a fresh id (the server echoes it on acceptance);
  // one past its lifetime hint is not offered at all.
  Tls12Session ticketOnly = storedSession();
  ticketOnly.sessionId.clear();
  for (const bool expired : {false, true}) {
    Captured log;
    TlsConnection client(log.Log());
    client.SetVersionPolicy(TlsVersionPolicy::kTls12);
    ticketOnly.ticketLifetimeHint = 60;
    if (expired) ticketOnly.received -= std::chrono::seconds(61);
    client.SetResumptionSession12(ticketOnly);
    client.StartClient();
    const Bytes body = client.SendApplicationData("").substr(9);
    EXPECT_EQ(body[34], expired ? '\0' : '\x20');
    EXPECT_EQ(body.find("TICKET") != Bytes::npos, !expired);
    EXPECT_EQ(log.Contains("TLS resumption ticket expired"), expired);
  }
}

// What the ServerHello does with the offered session: resumed only with the
// same id, version, suite and the extended master secret (RFC 7627 5.3).
TEST(Tls12Resumption, ServerHelloVerdicts) {
  const struct {
    const char* what;
    Bytes sessionId;
    Bytes suite;
    bool ems;
    bool resumed;
    int alert;  // -1: none
  } cases[] = {
      {"resumed", Bytes(32, 'S'), Bytes("\xC0\x2F", 2), true, true, -1},
      {"declined: a new id", Bytes(32, 'N'), Bytes("\xC0\x2F", 2), true, false, -1},
      {"declined: no id", Bytes(), Bytes("\xC0\x30", 2), false, false, -1},
      {"resumed without the extended master secret", Bytes(32, 'S'), Bytes("\xC0\x2F", 2), false, false, 40},
      {"resumed with another suite", Bytes(32, 'S'), Bytes("\xC0\x30", 2), true, false, 47},
  };
  for (const auto& c : cases) {
    TlsConnection client;
    client.SetVersionPolicy(TlsVersionPolicy::kTls12);
    client.SetResumptionSession12(storedSession());
    client.StartClient();
    client.SendApplicationData("");
    client.ReceiveBytes(test::record(kContentHandshake, serverHello(c.sessionId, c.suite, c.ems, true)));
    const Bytes sent = client.SendApplicationData("");
    EXPECT_EQ(client.Resumed(), c.resumed) << c.what;
    EXPECT_EQ(client.Failed(), c.alert >= 0) << c.what;
    if (c.alert >= 0) {
      EXPECT_EQ(plainAlerts(sent), std::vector<int>{c.alert}) << c.what;
    }
    EXPECT_EQ(TlsConnectionTestPeer(client).Handshake().masterSecret.empty(), !c.resumed) << c.what;
  }
}

// A NewSessionTicket out of place or with lengths that do not add up is
// refused with its alert; a resumed session then needs the server's
// Certificate no more than its key exchange.
TEST(Tls12Resumption, HostileNewSessionTicketsAndFlightsAreRefused) {
  const struct {
    const char* what;
    bool announced;
    Bytes messages;
    int alert;
  } cases[] = {
      {"not announced", false, test::handshakeMessage(4, Bytes("\0\0\0\x3c\0\x01T", 7)), 10},
      {"too short", true, test::handshakeMessage(4, Bytes("\0\0\0\x3c\0", 5)), 50},
      {"ticket longer than the body", true, test::handshakeMessage(4, Bytes("\0\0\0\x3c\0\x05T", 7)), 50},
      {"ticket shorter than the body", true, test::handshakeMessage(4, Bytes("\0\0\0\x3c\0\x01TT", 8)), 50},
      {"length 0xffff", true, test::handshakeMessage(4, Bytes("\0\0\0\x3c\xff\xff", 6)), 50},
      {"twice", true,
       test::handshakeMessage(4, Bytes("\0\0\0\x3c\0\x01T", 7)) +
           test::handshakeMessage(4, Bytes("\0\0\0\x3c\0\x01T", 7)),
       10},
      {"Certificate in a resumed session", true,
       test::handshakeMessage(kHandshakeCertificate, Bytes(3, '\0')), 10},
      {"ServerHelloDone in a resumed session", true, test::handshakeMessage(kHandshakeServerHelloDone, ""),
       10},
  };
  for (const auto& c : cases) {
    Captured log;
    TlsConnection client(log.Log());
    client.SetVersionPolicy(TlsVersionPolicy::kTls12);
    client.SetResumptionSession12(storedSession());
    client.StartClient();
    client.SendApplicationData("");
    client.ReceiveBytes(
        test::record(kContentHandshake,
                     serverHello(Bytes(32, 'S'), Bytes("\xC0\x2F", 2), true, c.announced) + c.messages));
    const Bytes sent = client.SendApplicationData("");
    EXPECT_TRUE(client.Failed()) << c.what;
    EXPECT_EQ(plainAlerts(sent), std::vector<int>{c.alert}) << c.what;
    EXPECT_FALSE(client.TakeLatestSession12().has_value()) << c.what;
  }
  // An empty ticket is allowed: the server changed its mind.
  TlsConnection client;
  client.SetVersionPolicy(TlsVersionPolicy::kTls12);
  client.SetResumptionSession12(storedSession());
  client.StartClient();
  client.SendApplicationData("");
  client.ReceiveBytes(
      test::record(kContentHandshake, serverHello(Bytes(32, 'S'), Bytes("\xC0\x2F", 2), true, true) +
                                          test::handshakeMessage(4, Bytes("\0\0\0\0\0\0", 6))));
  EXPECT_FALSE(client.Failed());
}

}  // namespace
}  // namespace qv
