#include <gtest/gtest.h>

#include "tests/tls/tls_test_util.h"
#include "tls/session_cache.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

using test::handshakeMessage;
using test::hexDecode;
using test::record;
using test::splitRecords;

Bytes clientHello(std::string_view version, std::string_view suites, std::string_view sessionId = {}) {
  Bytes body =
      Bytes(version) + Bytes(32, 'C') + Bytes(1, static_cast<char>(sessionId.size())) + Bytes(sessionId);
  body += uintToBytes(static_cast<std::uint32_t>(suites.size()), 2) + Bytes(suites) + Bytes("\x01\x00", 2);
  return record(kContentHandshake, handshakeMessage(kHandshakeClientHello, body));
}

// Body of the first handshake message the server sent (its ServerHello).
Bytes serverHelloBody(TlsConnection& server) {
  const auto records = splitRecords(server.SendApplicationData(""));
  if (records.empty() || records[0].type != kContentHandshake) return {};
  return records[0].fragment.substr(4);
}

std::int64_t fakeNow = 1000000;
std::int64_t fakeClock() { return fakeNow; }

class ServerRole : public ::testing::Test {
 protected:
  void SetUp() override {
    test::loadServerIdentity();
    ClearSessionCache();
    SetSessionClock(&fakeClock);
  }
  void TearDown() override {
    SetSessionClock(nullptr);
    ClearSessionCache();
    ClearOwnIdentity();
  }
};

TEST_F(ServerRole, VersionAndSuiteChoice) {
  struct Case {
    const char* name;
    Bytes version;
    Bytes suites;
    Bytes answeredVersion;
    Bytes suite;
  };
  const Case cases[] = {
      {"TLS 1.1 offer", hexDecode("0302"), hexDecode("002f"), hexDecode("0301"), hexDecode("002f")},
      {"SSL 3.0 offer", hexDecode("0300"), hexDecode("0035"), hexDecode("0300"), hexDecode("0035")},
      {"client order decides", hexDecode("0301"), hexDecode("c02f00050004002f"), hexDecode("0301"),
       hexDecode("0005")},
      {"odd-length suite list", hexDecode("0301"), hexDecode("00040a"), hexDecode("0301"), hexDecode("0004")},
  };
  for (const Case& c : cases) {
    TlsConnection server(test::testLog());
    server.StartServer(false);
    TlsConnectionTestPeer peer(server);
    server.ReceiveBytes(clientHello(c.version, c.suites));
    const Bytes body = serverHelloBody(server);
    ASSERT_GE(body.size(), 38u) << c.name;
    EXPECT_EQ(body.substr(0, 2), c.answeredVersion) << c.name;
    EXPECT_EQ(body.substr(2, 32), peer.Handshake().serverRandom) << c.name;
    // Without caching the id field is empty though an id is kept.
    EXPECT_EQ(body[34], '\0') << c.name;
    EXPECT_EQ(peer.Handshake().sessionId.size(), 32u) << c.name;
    EXPECT_EQ(body.substr(35, 2), c.suite) << c.name;
    EXPECT_EQ(versionBytes(peer.Version()), c.answeredVersion) << c.name;
  }
}

TEST_F(ServerRole, RefusalsAreFatal) {
  struct Case {
    const char* name;
    Bytes hello;
    Bytes alert;
    const char* logLine;
  };
  const Case cases[] = {
      {"SSL 2 version", clientHello(hexDecode("0200"), hexDecode("002f")), hexDecode("0246"),
       "S: SSL version 2.0 is not supported"},
      {"no common suite", clientHello(hexDecode("0301"), hexDecode("000a0033")), hexDecode("0228"),
       "S: No common cipher suite in client hello"},
  };
  for (const Case& c : cases) {
    test::LogCapture log;
    TlsConnection server(test::testLog("S: "));
    server.StartServer(false);
    server.ReceiveBytes(c.hello);
    const auto records = splitRecords(server.SendApplicationData(""));
    ASSERT_EQ(records.size(), 1u) << c.name;
    EXPECT_EQ(records[0].type, kContentAlert) << c.name;
    EXPECT_EQ(records[0].fragment, c.alert) << c.name;
    EXPECT_TRUE(log.contains(c.logLine)) << c.name;
  }
}

TEST_F(ServerRole, KeyExchangeBeforeHelloIsUnknownCipher) {
  test::LogCapture log;
  TlsConnection server(test::testLog());
  server.StartServer(false);
  server.ReceiveBytes(
      record(kContentHandshake, handshakeMessage(kHandshakeClientKeyExchange, "\x00\x01\x05")));
  EXPECT_TRUE(log.contains("Unknown Cipher"));
  EXPECT_TRUE(test::handshakeOf(server).masterSecret.empty());
  // Nor can the peer switch to keys from nothing.
  server.ReceiveBytes(record(kContentChangeCipherSpec, "\x01"));
  EXPECT_TRUE(server.Failed());
  EXPECT_FALSE(TlsConnectionTestPeer(server).Read().active);
}

TEST_F(ServerRole, UndecryptableKeyExchangeGivesUnknownSecret) {
  // Without an identity there is no private key at all.
  ClearOwnIdentity();
  TlsConnection first(test::testLog());
  TlsConnection second(test::testLog());
  for (TlsConnection* server : {&first, &second}) {
    server->StartServer(false);
    server->ReceiveBytes(clientHello(hexDecode("0301"), hexDecode("0005")));
    server->ReceiveBytes(
        record(kContentHandshake, handshakeMessage(kHandshakeClientKeyExchange, "\x00\x01\x01")));
    EXPECT_EQ(test::handshakeOf(*server).masterSecret.size(), 48u);
  }
  EXPECT_NE(test::handshakeOf(first).masterSecret, test::handshakeOf(second).masterSecret);
}

TEST_F(ServerRole, CacheLifetimeShrinksAsItGrows) {
  StoreSession("a", hexDecode("002f"), Bytes(48, 'm'));
  // 1095 s for the first entry; at its expiry it is no longer resumable.
  fakeNow += 1094;
  EXPECT_TRUE(ResumeSession("a").has_value());
  // Renewed on resumption: 1095 s again from now.
  fakeNow += 1094;
  EXPECT_TRUE(ResumeSession("a").has_value());
  for (int k = 0; k < 89; ++k) StoreSession("s" + std::to_string(k), hexDecode("002f"), Bytes(48, 'm'));
  EXPECT_EQ(CachedSessionCount(), 90u);
  // The 90th entry lives 125 s.
  fakeNow += 124;
  EXPECT_TRUE(ResumeSession("s88").has_value());
  fakeNow += 125;
  EXPECT_FALSE(ResumeSession("s88").has_value());
  EXPECT_EQ(CachedSessionCount(), 89u);
}

TEST_F(ServerRole, ExpiredSessionIsRemovedAndReportedNotFound) {
  test::LogCapture log;
  StoreSession(Bytes(32, 'i'), hexDecode("002f"), Bytes(48, 'm'));
  fakeNow += 2000;
  TlsConnection server(test::testLog());
  server.StartServer(true);
  server.ReceiveBytes(clientHello(hexDecode("0301"), hexDecode("002f"), Bytes(32, 'i')));
  EXPECT_TRUE(log.contains("Session " + hexEncode(Bytes(32, 'i')) + " not found"));
  EXPECT_EQ(CachedSessionCount(), 0u);
  const Bytes body = serverHelloBody(server);
  ASSERT_GE(body.size(), 35u + 32);
  EXPECT_EQ(body[34], '\x20');
  EXPECT_NE(body.substr(35, 32), Bytes(32, 'i'));
}

TEST_F(ServerRole, CacheSizeIsBounded) {
  for (std::size_t k = 0; k < kMaxCachedSessions + 10; ++k) {
    StoreSession(uintToBytes(static_cast<std::uint32_t>(k), 4), hexDecode("002f"), Bytes(48, 'm'));
  }
  EXPECT_EQ(CachedSessionCount(), kMaxCachedSessions);
  // The newest entry is kept.
  EXPECT_TRUE(ResumeSession(uintToBytes(static_cast<std::uint32_t>(kMaxCachedSessions + 9), 4)).has_value());
}

// SSL 3.0 formulas, checked against values computed independently from
// RFC 6101 (MD5/SHA-1 of the labelled inputs).
TEST(Ssl3Formulas, MasterSecretKeyBlockAndFinished) {
  test::LogCapture log;
  TlsConnection server(test::testLog());
  TlsConnectionTestPeer peer(server);
  HandshakeState& handshake = peer.Handshake();
  peer.Version() = kVersionSsl30;
  handshake.clientRandom = Bytes(32, '\x02');
  handshake.serverRandom = Bytes(32, '\x03');
  peer.ComputeMasterSecret(Bytes(48, '\x01'));
  EXPECT_EQ(
      hexEncode(handshake.masterSecret),
      "84c061916f628503a7923af9a8a922ce02157184557c74586560502b00a2f5418a24931805ab1ef45299b38f160d20c0");
  handshake.cipherSuite = hexDecode("002f");
  peer.PerformChangeCipherSpec();
  // AES-128-SHA needs 104 bytes of key block, more than five rounds give.
  EXPECT_TRUE(log.contains(
      "Key "
      "Block("
      "8f2e916318683e67eee9d180577171e8f228582c740cb36694a0cb65644b917cd94b88ea1e76d464934093ec13c9f39241"
      "032fb2ecf24f74de2c84ce106b62ed28b1104ea9b24b0727a74d7bf05440101b8710e71eecfc63ceee48a5b143825c1f7496c9"
      "752e"
      "cb94)"));
  // A server reads with the client's write MAC secret.
  EXPECT_EQ(peer.Read().macSecret, hexDecode("8f2e916318683e67eee9d180577171e8f228582c"));
  handshake.transcript = "handshake";
  // A server verifying the client's Finished uses the client's sender.
  EXPECT_EQ(hexEncode(peer.ComputeFinished(false)),
            "5eef2a0e3ff179b35fcc673256c7ea6027e6114514c26e13c112156e6f79fabf417ccf3c");
}

}  // namespace
}  // namespace qv
