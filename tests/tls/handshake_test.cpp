#include <gtest/gtest.h>

#include "crypto/md5.h"
#include "crypto/rsa.h"
#include "crypto/sha1.h"
#include "tests/tls/tls_test_util.h"
#include "tls/certificate.h"
#include "tls/der_reader.h"
#include "tls/session_cache.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

using test::derOf;
using test::handshakeMessage;
using test::hexDecode;
using test::record;
using test::splitRecords;

const std::string_view kSuites[] = {{"\x00\x2F", 2}, {"\x00\x35", 2}, {"\x00\x04", 2}, {"\x00\x05", 2}};

class Handshake : public ::testing::Test {
 protected:
  void SetUp() override {
    test::loadServerIdentity();
    ClearTrustRoots();
    ClearSessionCache();
  }
  void TearDown() override {
    ClearOwnIdentity();
    ClearTrustRoots();
    ClearSessionCache();
  }

  // Narrows the client's offer to one suite (so our server must pick it),
  // in the record and in the client's own transcript alike.
  static Bytes onlySuite(TlsConnection& client, Bytes clientHelloRecord, std::string_view suite) {
    const Bytes offer("\x00\x08\x00\x2F\x00\x35\x00\x04\x00\x05", 10);
    const Bytes narrowed = Bytes("\x00\x08", 2) + Bytes(suite) + Bytes(suite) + Bytes(suite) + Bytes(suite);
    clientHelloRecord.replace(clientHelloRecord.find(offer), offer.size(), narrowed);
    test::handshakeOf(client).transcript.replace(test::handshakeOf(client).transcript.find(offer),
                                                 offer.size(), narrowed);
    return clientHelloRecord;
  }
};

// --- ClientHello -------------------------------------------------------------

TEST_F(Handshake, ClientHelloCarriesServerNameExtension) {
  TlsConnection client(test::testLog());
  client.SetServerName("pbx");
  client.StartClient();
  const auto records = splitRecords(client.SendApplicationData(""));
  ASSERT_EQ(records.size(), 1u);
  const Bytes& message = records[0].fragment;
  EXPECT_EQ(message.substr(0, 1), "\x01");
  const Bytes body = message.substr(4);
  EXPECT_EQ(bytesToUInt(message.substr(1, 3)), body.size());
  EXPECT_EQ(body.substr(0, 2), Bytes("\x03\x01", 2));
  EXPECT_EQ(body.substr(2, 32), test::handshakeOf(client).clientRandom);
  EXPECT_EQ(body.substr(34), hexDecode("00"
                                       "0008002f003500040005"
                                       "0100"
                                       "000c"
                                       "0000000800060000"
                                       "03") +
                                 "pbx");
  EXPECT_EQ(test::handshakeOf(client).transcript, message);
}

TEST_F(Handshake, ClientHelloWithoutServerNameEndsAfterCompression) {
  TlsConnection client(test::testLog());
  client.StartClient();
  const Bytes body = splitRecords(client.SendApplicationData(""))[0].fragment.substr(4);
  EXPECT_EQ(body.size(), 2u + 32 + 1 + 10 + 2);
  EXPECT_EQ(body.substr(body.size() - 2), Bytes("\x01\x00", 2));
}

// --- Client against our server -------------------------------------------------

TEST_F(Handshake, OurClientAndServerAgreeOnEverySuite) {
  for (std::string_view suite : kSuites) {
    TlsConnection client(test::testLog());
    TlsConnection server(test::testLog());
    client.SetServerName("pbx.example.com");
    client.SetVerifyCertificates(false);
    client.StartClient();
    server.ReceiveBytes(onlySuite(client, client.SendApplicationData("login"), suite));
    const test::PumpResult result = test::pump(client, server, "", "welcome");
    EXPECT_EQ(client.CipherSuite(), suite);
    EXPECT_TRUE(client.HandshakeDone() && server.HandshakeDone()) << hexEncode(suite);
    EXPECT_FALSE(client.Failed() || server.Failed()) << hexEncode(suite);
    EXPECT_EQ(result.serverReceived, "login");
    EXPECT_EQ(result.clientReceived, "welcome");
    EXPECT_EQ(test::handshakeOf(client).masterSecret, test::handshakeOf(server).masterSecret);
    EXPECT_EQ(test::handshakeOf(client).transcript, test::handshakeOf(server).transcript);
  }
}

TEST_F(Handshake, AbbreviatedHandshakeResumesCachedSession) {
  for (std::string_view suite : kSuites) {
    ClearSessionCache();
    TlsConnection client(test::testLog());
    client.SetVerifyCertificates(false);
    client.StartClient();
    TlsConnection first(test::testLog());
    first.StartServer(true);
    first.ReceiveBytes(onlySuite(client, client.SendApplicationData(""), suite));
    test::pump(client, first);
    ASSERT_TRUE(client.HandshakeDone());
    ASSERT_EQ(test::handshakeOf(client).sessionId.size(), 32u);
    const Bytes id = test::handshakeOf(client).sessionId;
    const Bytes master = test::handshakeOf(client).masterSecret;

    test::LogCapture log;
    client.PrepareResumption();
    EXPECT_FALSE(client.HandshakeDone());
    client.StartClient();
    TlsConnection second(test::testLog());
    second.StartServer(true);
    second.ReceiveBytes(client.SendApplicationData("again"));
    const test::PumpResult result = test::pump(client, second, "", "back");
    EXPECT_TRUE(log.contains("Resuming session " + hexEncode(id)));
    EXPECT_FALSE(log.contains("ProcessCertificate("));
    EXPECT_EQ(test::handshakeOf(client).sessionId, id);
    EXPECT_EQ(test::handshakeOf(client).masterSecret, master);
    EXPECT_EQ(client.CipherSuite(), suite);
    EXPECT_EQ(result.serverReceived, "again");
    EXPECT_EQ(result.clientReceived, "back");
    EXPECT_FALSE(client.Failed() || second.Failed());
  }
}

TEST_F(Handshake, UnknownSessionIdGetsFullHandshakeWithFreshId) {
  test::LogCapture log;
  TlsConnection client(test::testLog());
  client.SetVerifyCertificates(false);
  test::handshakeOf(client).sessionId = Bytes(32, '\x42');
  test::handshakeOf(client).masterSecret = Bytes(48, '\x01');
  client.StartClient();
  TlsConnection server(test::testLog());
  server.StartServer(true);
  server.ReceiveBytes(client.SendApplicationData(""));
  test::pump(client, server);
  EXPECT_TRUE(log.contains("Session " + hexEncode(Bytes(32, '\x42')) + " not found"));
  EXPECT_TRUE(client.HandshakeDone());
  EXPECT_FALSE(client.Failed() || server.Failed());
  EXPECT_NE(test::handshakeOf(client).sessionId, Bytes(32, '\x42'));
  EXPECT_EQ(CachedSessionCount(), 1u);
}

// --- Verification ------------------------------------------------------------------

TEST_F(Handshake, CertificateChecksWhenVerifying) {
  struct Case {
    const char* name;
    bool verify;
    bool trustCa;
    const char* serverName;
    bool accepted;
    const char* logLine;
  };
  const Case cases[] = {
      {"verify off, other domain", false, false, "other.example.com", true, "Don't verify certificates"},
      {"no trust roots", true, false, "pbx.example.com", false,
       "Certificate for Quorvel Test CA not available"},
      {"trusted, right domain", true, true, "PBX.example.com", true, "Received 2 certificates"},
      {"trusted, other domain", true, true, "other.example.com", false,
       "Expecting domain other.example.com, but received pbx.example.com in certificate"},
  };
  for (const Case& c : cases) {
    ClearTrustRoots();
    if (c.trustCa) AddTrustRoot(ParseCertificateChain({derOf(test::kCaHex)}, " ", test::testLog()));
    test::LogCapture log;
    TlsConnection client(test::testLog("CSTA: "));
    TlsConnection server(test::testLog());
    client.SetServerName(c.serverName);
    client.SetVerifyCertificates(c.verify);
    client.StartClient();
    test::pump(client, server);
    EXPECT_EQ(client.HandshakeDone(), c.accepted) << c.name;
    EXPECT_EQ(client.Failed(), !c.accepted) << c.name;
    EXPECT_TRUE(log.contains(c.logLine)) << c.name;
    if (!c.accepted) {
      EXPECT_TRUE(server.AlertReceived()) << c.name;
    }
  }
}

TEST_F(Handshake, CertificateCheckSeesChainAndItsRefusalEndsTheHandshake) {
  for (const bool accept : {true, false}) {
    test::LogCapture log;
    TlsConnection client(test::testLog("CSTA: "));
    TlsConnection server(test::testLog());
    std::vector<Bytes> seen;
    client.SetVerifyCertificates(false);
    client.SetCertificateCheck([&](const std::vector<Bytes>& chain) {
      seen = chain;
      CertificateVerdict verdict;
      verdict.accepted = accept;
      verdict.alert = kAlertUnknownCa;
      verdict.logLine = "Policy refuses the PBX certificate";
      return verdict;
    });
    client.StartClient();
    server.ReceiveBytes(client.SendApplicationData(""));
    client.ReceiveBytes(server.SendApplicationData(""));
    const Bytes wire = client.SendApplicationData("");
    const auto fromClient = splitRecords(wire);
    ASSERT_EQ(seen.size(), 2u) << accept;
    EXPECT_EQ(seen[0], derOf(test::kServerHex));
    EXPECT_EQ(seen[1], derOf(test::kCaHex));
    if (accept) {
      server.ReceiveBytes(wire);
      test::pump(client, server);
      EXPECT_TRUE(client.HandshakeDone());
      EXPECT_FALSE(client.Failed());
      EXPECT_EQ(client.PeerCertificates(), seen);
      EXPECT_FALSE(log.contains("Policy refuses"));
    } else {
      // Nothing of the key exchange left: only the alert.
      ASSERT_EQ(fromClient.size(), 1u);
      EXPECT_EQ(fromClient[0].type, kContentAlert);
      EXPECT_EQ(fromClient[0].fragment, Bytes("\x02\x30", 2));
      EXPECT_TRUE(client.Failed());
      EXPECT_TRUE(client.PeerCertificates().empty());
      EXPECT_TRUE(log.contains("]:1 CSTA: Policy refuses the PBX certificate"));
    }
  }
}

// --- Hand-made server flights ------------------------------------------------------

Bytes derLength(std::size_t n) {
  if (n < 0x80) return Bytes(1, static_cast<char>(n));
  return Bytes("\x82", 1) + uintToBytes(static_cast<std::uint32_t>(n), 2);
}
Bytes derWrap(std::uint8_t tag, std::string_view content) {
  return Bytes(1, static_cast<char>(tag)) + derLength(content.size()) + Bytes(content);
}
// A structurally complete certificate around the given RSA key.
Bytes fakeCertificate(const Bytes& modulus, const Bytes& exponent) {
  const Bytes name = derWrap(0x31, derWrap(0x30, derWrap(0x06, "\x55\x04\x03") + derWrap(0x0C, "fake")));
  const Bytes key = derWrap(0x30, derWrap(0x02, Bytes(1, '\0') + modulus) + derWrap(0x02, exponent));
  const Bytes keyInfo = derWrap(0x30, derWrap(0x30, "") + derWrap(0x03, Bytes(1, '\0') + key));
  const Bytes tbs =
      derWrap(0x30, derWrap(0xA0, derWrap(0x02, "\x02")) + derWrap(0x02, "\x01") + derWrap(0x30, "") +
                        derWrap(0x30, name) + derWrap(0x30, "") + derWrap(0x30, name) + keyInfo);
  return derWrap(0x30, tbs + derWrap(0x30, "") + derWrap(0x03, Bytes(1, '\0')));
}

Bytes serverHello(std::string_view version, std::string_view suite, std::string_view sessionId = {}) {
  return handshakeMessage(kHandshakeServerHello, Bytes(version) + Bytes(32, 'R') +
                                                     Bytes(1, static_cast<char>(sessionId.size())) +
                                                     Bytes(sessionId) + Bytes(suite) + Bytes(1, '\0'));
}
Bytes certificateMessage(const std::vector<Bytes>& chain) {
  Bytes list;
  for (const Bytes& der : chain) list += uintToBytes(static_cast<std::uint32_t>(der.size()), 3) + der;
  return handshakeMessage(kHandshakeCertificate,
                          uintToBytes(static_cast<std::uint32_t>(list.size()), 3) + list);
}
const Bytes kHelloDone = handshakeMessage(kHandshakeServerHelloDone, "");

struct Client {
  TlsConnection tls{test::testLog()};
  Client() {
    tls.SetVerifyCertificates(false);
    tls.StartClient();
    tls.SendApplicationData("");
  }
  std::vector<test::ParsedRecord> feed(const Bytes& wire) {
    tls.ReceiveBytes(wire);
    return splitRecords(tls.SendApplicationData(""));
  }
};

// Handshake records by message type; other records as 100 + content type;
// anything after our ChangeCipherSpec as kSentProtected.
constexpr std::uint8_t kSentCcs = 100 + kContentChangeCipherSpec;
constexpr std::uint8_t kSentProtected = 200;
std::vector<std::uint8_t> typesOf(const std::vector<test::ParsedRecord>& records) {
  std::vector<std::uint8_t> types;
  bool protectedFromHere = false;
  for (const auto& r : records) {
    if (protectedFromHere) {
      types.push_back(kSentProtected);
    } else if (r.type == kContentHandshake && !r.fragment.empty()) {
      types.push_back(static_cast<std::uint8_t>(r.fragment[0]));
    } else {
      types.push_back(static_cast<std::uint8_t>(100 + r.type));
    }
    protectedFromHere = protectedFromHere || r.type == kContentChangeCipherSpec;
  }
  return types;
}

TEST_F(Handshake, WholeServerFlightInOneRecordOrSplitAcrossRecords) {
  const Bytes flight = serverHello({"\x03\x02", 2}, {"\x00\x2F", 2}) +
                       certificateMessage({derOf(test::kServerHex)}) + kHelloDone;
  Client together;
  const auto records = together.feed(record(kContentHandshake, flight));
  // The flight goes out under 03 01 even though the server named 03 02.
  EXPECT_EQ(typesOf(records),
            (std::vector<std::uint8_t>{kHandshakeClientKeyExchange, kSentCcs, kSentProtected}));
  for (const auto& r : records) EXPECT_EQ(r.version, Bytes("\x03\x01", 2));
  EXPECT_FALSE(together.tls.Failed());

  Client split;
  const std::size_t cut = flight.size() / 2;
  EXPECT_TRUE(split.feed(record(kContentHandshake, flight.substr(0, cut))).empty());
  EXPECT_EQ(split.feed(record(kContentHandshake, flight.substr(cut))).size(), 3u);
}

TEST_F(Handshake, CertificateRequestWithoutMatchGetsEmptyCertificate) {
  test::LogCapture log;
  const Bytes authority =
      derWrap(0x30, derWrap(0x31, derWrap(0x30, derWrap(0x06, "\x55\x04\x03") + derWrap(0x0C, "Other CA"))));
  const Bytes request =
      handshakeMessage(kHandshakeCertificateRequest,
                       hexDecode("0101") + uintToBytes(static_cast<std::uint32_t>(authority.size() + 2), 2) +
                           uintToBytes(static_cast<std::uint32_t>(authority.size()), 2) + authority);
  Client client;
  const auto records = client.feed(
      record(kContentHandshake, serverHello({"\x03\x01", 2}, {"\x00\x05", 2}) +
                                    certificateMessage({derOf(test::kServerHex)}) + request + kHelloDone));
  ASSERT_EQ(typesOf(records), (std::vector<std::uint8_t>{kHandshakeCertificate, kHandshakeClientKeyExchange,
                                                         kSentCcs, kSentProtected}));
  EXPECT_EQ(records[0].fragment, handshakeMessage(kHandshakeCertificate, Bytes(3, '\0')));
  EXPECT_TRUE(log.contains("Certificate request from Other CA could not be answered"));
  EXPECT_TRUE(test::handshakeOf(client.tls).certificateRequest.empty());
}

TEST_F(Handshake, CertificateRequestNamingOurIssuerGetsChainAndVerify) {
  const Certificate identity = OwnIdentity();
  const Bytes authority = derWrap(0x30, identity.issuerName);
  const Bytes request =
      handshakeMessage(kHandshakeCertificateRequest,
                       hexDecode("0101") + uintToBytes(static_cast<std::uint32_t>(authority.size() + 2), 2) +
                           uintToBytes(static_cast<std::uint32_t>(authority.size()), 2) + authority);
  Client client;
  const auto records = client.feed(
      record(kContentHandshake, serverHello({"\x03\x01", 2}, {"\x00\x2F", 2}) +
                                    certificateMessage({derOf(test::kServerHex)}) + request + kHelloDone));
  const auto types = typesOf(records);
  ASSERT_GE(types.size(), 3u);
  EXPECT_EQ(types[0], kHandshakeCertificate);
  EXPECT_EQ(types[1], kHandshakeClientKeyExchange);
  EXPECT_EQ(types[2], kHandshakeCertificateVerify);
  EXPECT_GT(records[0].fragment.size(), 1000u);
  // The signature covers MD5 + SHA-1 of everything before it.
  const Bytes transcript =
      test::handshakeOf(client.tls)
          .transcript.substr(0, test::handshakeOf(client.tls).transcript.find(records[2].fragment));
  const Bytes signature = records[2].fragment.substr(6);
  const Bytes recovered = rsaRawPublicOp(identity.exponent, identity.modulus, signature);
  const Bytes hashes = md5Digest(transcript) + sha1Digest(transcript);
  ASSERT_GE(recovered.size(), hashes.size());
  EXPECT_EQ(recovered.substr(recovered.size() - hashes.size()), hashes);
}

TEST_F(Handshake, ServerKeysMustSuitTheKeyExchange) {
  const Bytes usable = derOf(test::kServerHex);
  struct Case {
    const char* name;
    std::size_t modulusBytes;
    Bytes exponent;
    bool accepted;
  };
  const Case cases[] = {
      {"58-byte modulus", 58, hexDecode("03"), false},
      {"59-byte modulus", 59, hexDecode("03"), true},
      {"512-byte modulus", 512, hexDecode("010001"), true},
      {"513-byte modulus", 513, hexDecode("03"), false},
      {"5-byte exponent", 128, hexDecode("0100000001"), false},
      {"empty exponent", 128, Bytes(), false},
  };
  for (const Case& c : cases) {
    Bytes modulus(c.modulusBytes, '\xC3');
    modulus.back() = '\x01';
    Client client;
    const auto records = client.feed(
        record(kContentHandshake, serverHello({"\x03\x01", 2}, {"\x00\x04", 2}) +
                                      certificateMessage({fakeCertificate(modulus, c.exponent)})));
    EXPECT_EQ(client.tls.Failed(), !c.accepted) << c.name;
    if (!c.accepted) {
      ASSERT_EQ(records.size(), 1u) << c.name;
      EXPECT_EQ(records[0].fragment, Bytes("\x02\x2B", 2)) << c.name;
    } else {
      EXPECT_EQ(test::handshakeOf(client.tls).peerCertificate.modulus, modulus) << c.name;
    }
  }
}

TEST_F(Handshake, MessagesOutOfPlaceNeverLeadToUnkeyedProtection) {
  struct Case {
    const char* name;
    Bytes wire;
    std::uint8_t alert;
  };
  const Bytes hello = serverHello({"\x03\x01", 2}, {"\x00\x2F", 2}, Bytes(32, 'S'));
  const Bytes ccs = record(kContentChangeCipherSpec, "\x01");
  const Bytes certificate = certificateMessage({derOf(test::kServerHex)});
  const Case cases[] = {
      {"ChangeCipherSpec right after ServerHello", record(kContentHandshake, hello) + ccs,
       kAlertUnexpectedMessage},
      {"Finished in the clear",
       record(kContentHandshake, hello + handshakeMessage(kHandshakeFinished, Bytes(12, 'F'))),
       kAlertUnexpectedMessage},
      {"ServerHelloDone without Certificate", record(kContentHandshake, hello + kHelloDone),
       kAlertUnsupportedCertificate},
      {"unknown suite",
       record(kContentHandshake, serverHello({"\x03\x01", 2}, {"\x00\x0A", 2}) + certificate + kHelloDone),
       kAlertHandshakeFailure},
      {"SSL 3.0 server", record(kContentHandshake, serverHello({"\x03\x00", 2}, {"\x00\x2F", 2})),
       kAlertProtocolVersion},
      {"no certificates", record(kContentHandshake, hello + certificateMessage({})), kAlertUnknownCa},
  };
  for (const Case& c : cases) {
    Client client;
    const auto records = client.feed(c.wire);
    EXPECT_TRUE(client.tls.Failed()) << c.name;
    EXPECT_FALSE(TlsConnectionTestPeer(client.tls).Write().active) << c.name;
    ASSERT_FALSE(records.empty()) << c.name;
    EXPECT_EQ(records.back().type, kContentAlert) << c.name;
    EXPECT_EQ(records.back().fragment, Bytes(1, '\x02') + Bytes(1, static_cast<char>(c.alert))) << c.name;
    for (const auto& r : records) EXPECT_NE(r.type, kContentChangeCipherSpec) << c.name;
    EXPECT_EQ(client.tls.SendApplicationData("secret"), "") << c.name;
  }
}

TEST_F(Handshake, RecordsTheStateCannotTakeAreUnexpected) {
  const Bytes flight = serverHello({"\x03\x01", 2}, {"\x00\x2F", 2}) +
                       certificateMessage({derOf(test::kServerHex)}) + kHelloDone;
  struct Case {
    const char* name;
    Bytes wire;
    const char* logLine;
  };
  const Case cases[] = {
      {"data after ServerHello",
       record(kContentHandshake, serverHello({"\x03\x01", 2}, {"\x00\x2F", 2})) +
           record(kContentApplicationData, "<injected/>"),
       "P: Unexpected application data"},
      {"data before the server's ChangeCipherSpec",
       record(kContentHandshake, flight) + record(kContentApplicationData, "<injected/>"),
       "P: Unexpected application data"},
      {"empty data record first", record(kContentApplicationData, ""), "P: Unexpected application data"},
  };
  for (const Case& c : cases) {
    test::LogCapture log;
    Client client;
    client.tls.SetLog(test::testLog("P: "));
    EXPECT_EQ(client.tls.ReceiveBytes(c.wire), "") << c.name;
    const auto records = splitRecords(client.tls.SendApplicationData("login"));
    EXPECT_TRUE(client.tls.Failed()) << c.name;
    ASSERT_FALSE(records.empty()) << c.name;
    EXPECT_EQ(records.back().type, kContentAlert) << c.name;
    if (!TlsConnectionTestPeer(client.tls).Write().active) {
      EXPECT_EQ(records.back().fragment, Bytes("\x02\x0A", 2)) << c.name;
    }
    EXPECT_TRUE(log.contains("]:1 " + std::string(c.logLine))) << c.name;
    EXPECT_EQ(client.tls.ReceiveBytes(record(kContentApplicationData, "more")), "") << c.name;
  }
}

TEST_F(Handshake, DataInTheFlightOfTheServersFinishedIsDelivered) {
  TlsConnection client(test::testLog());
  TlsConnection server(test::testLog());
  client.SetVerifyCertificates(false);
  client.StartClient();
  server.StartServer(false);
  server.ReceiveBytes(client.SendApplicationData("login"));
  client.ReceiveBytes(server.SendApplicationData(""));
  EXPECT_EQ(server.ReceiveBytes(client.SendApplicationData("")), "");
  ASSERT_TRUE(server.HandshakeDone());
  // ChangeCipherSpec, Finished and data arrive in one read.
  EXPECT_EQ(client.ReceiveBytes(server.SendApplicationData("welcome")), "welcome");
  EXPECT_TRUE(client.HandshakeDone());
  EXPECT_FALSE(client.Failed());
  EXPECT_EQ(server.ReceiveBytes(client.SendApplicationData("")), "login");
}

TEST_F(Handshake, SecondChangeCipherSpecIsUnexpected) {
  test::LogCapture log;
  TlsConnection client(test::testLog("P: "));
  TlsConnection server(test::testLog());
  client.SetVerifyCertificates(false);
  client.StartClient();
  server.StartServer(false);
  test::pump(client, server);
  ASSERT_TRUE(client.HandshakeDone());
  TlsConnectionTestPeer(server).SendRecord(kContentChangeCipherSpec, "\x01");
  EXPECT_EQ(client.ReceiveBytes(server.SendApplicationData("after")), "");
  EXPECT_TRUE(client.Failed());
  EXPECT_TRUE(log.contains("]:1 P: Unexpected ChangeCipherSpec"));
  EXPECT_EQ(splitRecords(client.SendApplicationData("")).size(), 1u);
}

TEST_F(Handshake, SecondServerHelloDoneIsUnexpected) {
  Client client;
  const Bytes flight = serverHello({"\x03\x01", 2}, {"\x00\x2F", 2}) +
                       certificateMessage({derOf(test::kServerHex)}) + kHelloDone;
  client.feed(record(kContentHandshake, flight));
  ASSERT_TRUE(TlsConnectionTestPeer(client.tls).Write().active);
  // The second flight already left under the new keys: no second one.
  const auto records = client.feed(record(kContentHandshake, kHelloDone));
  EXPECT_TRUE(client.tls.Failed());
  for (const auto& r : records) EXPECT_EQ(r.type, kContentAlert);
}

// A server that sends a client's messages (a ClientKeyExchange would make
// the client derive a new master secret) or a client that sends a server's
// gets unexpected_message, and nothing of the message is acted on.
TEST_F(Handshake, EachRoleRefusesTheMessagesOnlyTheOtherRoleReceives) {
  const Bytes hello = serverHello({"\x03\x01", 2}, {"\x00\x2F", 2});
  for (std::uint8_t type :
       {kHandshakeClientHello, kHandshakeCertificateVerify, kHandshakeClientKeyExchange}) {
    test::LogCapture log;
    Client client;
    client.tls.SetLog(test::testLog("P: "));
    const auto records =
        client.feed(record(kContentHandshake, hello + handshakeMessage(type, "\x00\x01\x05")));
    EXPECT_TRUE(client.tls.Failed()) << int(type);
    ASSERT_FALSE(records.empty()) << int(type);
    EXPECT_EQ(records.back().fragment, Bytes("\x02\x0A", 2)) << int(type);
    EXPECT_TRUE(log.contains("P: Unexpected handshake type " + std::to_string(type) + " from the server"));
    EXPECT_TRUE(test::handshakeOf(client.tls).masterSecret.empty()) << int(type);
  }
  for (std::uint8_t type : {kHandshakeServerHello, kHandshakeServerKeyExchange, kHandshakeCertificateRequest,
                            kHandshakeServerHelloDone}) {
    test::LogCapture log;
    TlsConnection server(test::testLog("P: "));
    server.StartServer(false);
    EXPECT_EQ(server.ReceiveBytes(record(kContentHandshake, handshakeMessage(type, hello.substr(4)))), "");
    const auto records = splitRecords(server.SendApplicationData(""));
    EXPECT_TRUE(server.Failed()) << int(type);
    ASSERT_FALSE(records.empty()) << int(type);
    EXPECT_EQ(records.back().fragment, Bytes("\x02\x0A", 2)) << int(type);
    EXPECT_TRUE(log.contains("P: Unexpected handshake type " + std::to_string(type) + " from the client"));
  }
}

TEST_F(Handshake, HandshakeMessageSizeIsBounded) {
  Client waiting;
  waiting.feed(record(kContentHandshake, Bytes("\x0B\x01\x00\x00", 4)));
  EXPECT_FALSE(waiting.tls.Failed());
  Client refused;
  test::LogCapture log;
  const auto records = refused.feed(record(kContentHandshake, Bytes("\x0B\x01\x00\x01", 4)));
  EXPECT_TRUE(refused.tls.Failed());
  EXPECT_TRUE(test::handshakeOf(refused.tls).partial.empty());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].fragment, Bytes("\x02\x2F", 2));
  EXPECT_TRUE(log.contains("Handshake message too long"));
}

TEST_F(Handshake, IgnoredMessagesAreOnlyLogged) {
  test::LogCapture log;
  Client client;
  client.tls.SetLog(test::testLog("P: "));
  const auto records =
      client.feed(record(kContentHandshake, handshakeMessage(kHandshakeHelloRequest, "") +
                                                handshakeMessage(kHandshakeServerKeyExchange, "kx") +
                                                handshakeMessage(99, "odd")));
  EXPECT_TRUE(records.empty());
  EXPECT_FALSE(client.tls.Failed());
  EXPECT_TRUE(log.contains("P: Ignoring handshake type 99"));
  EXPECT_TRUE(log.contains("P: ProcessHelloRequest()"));
  EXPECT_TRUE(log.contains("P: ProcessServerKeyExchange(6b78)"));
}

TEST_F(Handshake, FinishedMismatchIsFatalAndNoDataLeaves) {
  test::LogCapture log;
  TlsConnection client(test::testLog());
  TlsConnection server(test::testLog());
  client.SetVerifyCertificates(false);
  client.StartClient();
  server.ReceiveBytes(client.SendApplicationData("login"));
  client.ReceiveBytes(server.SendApplicationData(""));
  server.ReceiveBytes(client.SendApplicationData(""));
  test::handshakeOf(client).masterSecret[0] ^= 1;  // the server's Finished no longer matches
  client.ReceiveBytes(server.SendApplicationData(""));
  EXPECT_TRUE(client.HandshakeDone());
  EXPECT_TRUE(client.Failed());
  EXPECT_TRUE(log.contains("Finished failed"));
  const auto records = splitRecords(client.SendApplicationData("more"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, kContentAlert);
}

TEST_F(Handshake, LogLinesCarryPrefixAndSessionTag) {
  test::LogCapture log;
  TlsConnection client(test::testLog("CSTA: "));
  TlsConnection server(test::testLog());
  client.SetVerifyCertificates(false);
  client.StartClient();
  server.StartServer(true);
  test::pump(client, server);
  ASSERT_TRUE(client.HandshakeDone());
  const std::string tag = "[" + hexEncode(test::handshakeOf(client).sessionId.substr(0, 4)) + "]";
  EXPECT_TRUE(log.contains("CSTA: SendClientHello(0301"));
  EXPECT_TRUE(log.contains("CSTA: " + tag + "ProcessCertificate("));
  EXPECT_TRUE(log.contains("CSTA: " + tag + "Received 2 certificates"));
  EXPECT_TRUE(log.contains("CSTA: " + tag + "Master Secret(" +
                           hexEncode(test::handshakeOf(client).masterSecret) + ")"));
  EXPECT_TRUE(log.contains("domain1=" + hexEncode("pbx.example.com")));
}

}  // namespace
}  // namespace qv
