// The TLS 1.3 client against the RFC 8448 traces (key schedule, and the
// simple 1-RTT handshake byte for byte), against crafted hostile servers
// (out-of-order, forged and malformed messages, downgrades), and the
// record protection on its own.
#include <gtest/gtest.h>

#include <functional>

#include "crypto/aes_gcm.h"
#include "crypto/x25519.h"
#include "tests/tls/rfc8448_trace.h"
#include "tests/tls/tls_connection_test_peer.h"
#include "tls/tls13_key_schedule.h"
#include "tls/tls13_messages.h"
#include "tls/tls13_record.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

const test::Rfc8448Trace& simpleTrace() {
  static const test::Rfc8448Trace trace("onertt");
  return trace;
}

Bytes record(std::uint8_t type, std::string_view body) {
  return Bytes(1, static_cast<char>(type)) + Bytes("\x03\x03", 2) +
         uintToBytes(static_cast<std::uint32_t>(body.size()), 2) + Bytes(body);
}

Bytes handshakeMessage(std::uint8_t type, std::string_view body) {
  return Bytes(1, static_cast<char>(type)) + uintToBytes(static_cast<std::uint32_t>(body.size()), 3) +
         Bytes(body);
}

Bytes extension(std::uint16_t type, std::string_view body) {
  return uintToBytes(type, 2) + uintToBytes(static_cast<std::uint32_t>(body.size()), 2) + Bytes(body);
}

Bytes vector16(std::string_view body) {
  return uintToBytes(static_cast<std::uint32_t>(body.size()), 2) + Bytes(body);
}

// A client's log lines in memory.
struct Lines {
  std::string text;
  TlsLog Log() {
    TlsLog log;
    log.enabled = [](int) { return true; };
    log.write = [this](int level, std::string_view line) {
      text += std::to_string(level) + " " + std::string(line) + "\n";
    };
    return log;
  }
  bool Contains(std::string_view needle) const { return text.find(needle) != std::string::npos; }
};

TEST(Tls13Rfc8448, KeyScheduleOfTheSimpleHandshake) {
  const test::Rfc8448Trace& t = simpleTrace();
  const HashAlgorithm h = HashAlgorithm::kSha256;
  const Bytes shared = x25519(t.Value("client", "create an ephemeral x25519", "private key"),
                              t.Value("server", "create an ephemeral x25519", "public key"));
  EXPECT_EQ(hexEncode(shared), hexEncode(t.Value("server", "extract secret \"handshake\"", "IKM")));
  const Bytes hello = t.Value("client", "construct a ClientHello", "ClientHello") +
                      t.Value("server", "construct a ServerHello", "ServerHello");
  Tls13Secrets secrets;
  Tls13DeriveHandshakeSecrets(h, shared, digestOf(h, hello), secrets);
  EXPECT_EQ(hexEncode(secrets.handshakeSecret),
            hexEncode(t.Value("server", "extract secret \"handshake\"", "secret")));
  EXPECT_EQ(hexEncode(secrets.clientHandshakeTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 c hs traffic\"", "expanded")));
  EXPECT_EQ(hexEncode(secrets.serverHandshakeTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 s hs traffic\"", "expanded")));
  const Tls13TrafficKeys keys = Tls13TrafficKeysOf(h, secrets.serverHandshakeTraffic, 16);
  EXPECT_EQ(hexEncode(keys.key),
            hexEncode(t.Value("server", "derive write traffic keys for handshake", "key expanded")));
  EXPECT_EQ(hexEncode(keys.iv),
            hexEncode(t.Value("server", "derive write traffic keys for handshake", "iv expanded")));

  const Bytes upToVerify = hello +
                           t.Value("server", "construct an EncryptedExtensions", "EncryptedExtensions") +
                           t.Value("server", "construct a Certificate handshake", "Certificate") +
                           t.Value("server", "construct a CertificateVerify", "CertificateVerify");
  const Bytes serverFinished = Tls13FinishedData(h, secrets.serverHandshakeTraffic, digestOf(h, upToVerify));
  EXPECT_EQ(hexEncode(serverFinished), hexEncode(t.Value("server", "calculate finished", "finished")));
  const Bytes upToFinished = upToVerify + handshakeMessage(kHandshakeFinished, serverFinished);
  EXPECT_EQ(hexEncode(upToFinished.substr(upToVerify.size())),
            hexEncode(t.Value("server", "construct a Finished", "Finished")));
  Tls13DeriveApplicationSecrets(h, digestOf(h, upToFinished), secrets);
  EXPECT_EQ(hexEncode(secrets.masterSecret),
            hexEncode(t.Value("server", "extract secret \"master\"", "secret")));
  EXPECT_EQ(hexEncode(secrets.clientApplicationTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 c ap traffic\"", "expanded")));
  EXPECT_EQ(hexEncode(secrets.serverApplicationTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 s ap traffic\"", "expanded")));
  EXPECT_EQ(hexEncode(Tls13FinishedData(h, secrets.clientHandshakeTraffic, digestOf(h, upToFinished))),
            hexEncode(t.Value("client", "calculate finished", "finished")));
  const Tls13TrafficKeys app = Tls13TrafficKeysOf(h, secrets.clientApplicationTraffic, 16);
  EXPECT_EQ(hexEncode(app.key),
            hexEncode(t.Value("client", "derive write traffic keys for application", "key expanded")));
}

// A client in the state the trace's ClientHello left it in: our engine
// then reads the trace's server records and must answer with its bytes.
class Rfc8448Client : public ::testing::Test {
 protected:
  void SetUp() override { PrepareAsTrace(client); }

  static void PrepareAsTrace(TlsConnection& client) {
    const test::Rfc8448Trace& t = simpleTrace();
    client.SetVerifyCertificates(false);
    client.SetVersionPolicy(TlsVersionPolicy::kTls13);
    TlsConnectionTestPeer peer(client);
    peer.Role() = TlsRole::kClient;
    peer.Version() = kVersionTls10;
    const Bytes hello = t.Value("client", "construct a ClientHello", "ClientHello");
    HandshakeState& handshake = peer.Handshake();
    handshake.transcript = hello;
    handshake.clientRandom = hello.substr(6, 32);
    handshake.sessionId.clear();
    Tls13Handshake& state = peer.Tls13();
    state.offered = true;
    state.step = Tls13Step::kWaitServerHello;
    state.firstHelloLength = hello.size();
    state.shares.push_back({kGroupX25519, t.Value("client", "create an ephemeral x25519", "private key"),
                            t.Value("client", "create an ephemeral x25519", "public key")});
    // The trace's client offered record_size_limit, which its server answers.
    state.answerableExtensions = {0x001C};
  }

  Bytes ServerRecord(std::string_view description, int nth) const {
    return simpleTrace().Value("server", description, "complete record", nth);
  }
  // The trace's server messages protected with its handshake key, one per
  // record, as a forger holding that key would send them.
  static Bytes SealedByServer(Tls13RecordCipher& serverCipher, std::string_view message,
                              std::uint8_t type = kContentHandshake) {
    if (!serverCipher.HasKey()) {
      const Tls13TrafficKeys keys = Tls13TrafficKeysOf(
          HashAlgorithm::kSha256,
          simpleTrace().Value("server", "derive secret \"tls13 s hs traffic\"", "expanded"), 16);
      serverCipher.SetKey(Tls13Aead::kAes128Gcm, keys.key, keys.iv);
    }
    return record(kContentApplicationData, serverCipher.Seal(type, message));
  }
  Bytes Message(std::string_view description, std::string_view label) const {
    return simpleTrace().Value("server", description, label);
  }

  Lines lines;
  TlsConnection client{lines.Log()};
};

TEST_F(Rfc8448Client, RunsTheSimpleHandshakeByteForByte) {
  const test::Rfc8448Trace& t = simpleTrace();
  EXPECT_TRUE(client.ReceiveBytes(ServerRecord("send handshake record", 0)).empty());
  EXPECT_TRUE(client.ReceiveBytes(ServerRecord("send handshake record", 1)).empty()) << lines.text;
  ASSERT_TRUE(client.HandshakeDone()) << lines.text;
  EXPECT_FALSE(client.Failed()) << lines.text;
  EXPECT_EQ(client.NegotiatedVersion(), kVersionTls13);
  EXPECT_EQ(hexEncode(client.CipherSuite()), "1301");
  // Our flight: the compatibility ChangeCipherSpec, then the trace's Finished record.
  EXPECT_EQ(hexEncode(client.SendApplicationData("")),
            "140303000101" + hexEncode(t.Value("client", "send handshake record", "complete record", 1)));
  EXPECT_TRUE(client.ReceiveBytes(ServerRecord("send handshake record", 2)).empty());
  EXPECT_TRUE(lines.Contains("NewSessionTicket (lifetime 30 s")) << lines.text;
  const Bytes payload = t.Value("client", "send application_data record", "payload");
  EXPECT_EQ(hexEncode(client.SendApplicationData(payload)),
            hexEncode(t.Value("client", "send application_data record", "complete record")));
  EXPECT_EQ(hexEncode(client.ReceiveBytes(ServerRecord("send application_data record", 0))),
            hexEncode(t.Value("server", "send application_data record", "payload")));
  client.SendCloseNotify();
  EXPECT_EQ(hexEncode(client.SendApplicationData("")),
            hexEncode(t.Value("client", "send alert record", "complete record")));
  client.ReceiveBytes(ServerRecord("send alert record", 0));
  EXPECT_TRUE(client.PeerClosed());
  EXPECT_FALSE(client.Failed());
}

TEST_F(Rfc8448Client, ChangesItsKeyBeforeTheRecordLimit) {
  client.ReceiveBytes(ServerRecord("send handshake record", 0));
  client.ReceiveBytes(ServerRecord("send handshake record", 1));
  ASSERT_TRUE(client.HandshakeDone());
  client.SendApplicationData("");
  TlsConnectionTestPeer peer(client);
  peer.SetWriteSequence13(kTls13RecordsPerKey);
  // A KeyUpdate under the old key, then the data under the next one.
  const Bytes out = client.SendApplicationData("after the limit");
  ASSERT_GE(out.size(), 5u);
  const std::size_t first = 5 + bytesToUInt(out.substr(3, 2));
  EXPECT_EQ(first, 5u + 5 + 1 + 16) << "one KeyUpdate record first";
  EXPECT_EQ(out.size(), first + 5 + 15 + 1 + 16);
  EXPECT_EQ(hexEncode(peer.Tls13().clientTraffic),
            hexEncode(Tls13NextTrafficSecret(
                HashAlgorithm::kSha256,
                simpleTrace().Value("server", "derive secret \"tls13 c ap traffic\"", "expanded"))));
  EXPECT_EQ(peer.Write().tls13.Sequence(), 1u);
}

TEST_F(Rfc8448Client, TheCertificateCheckDecidesAsUnderTls12) {
  // Accepted: the check saw the server's chain, which the connection keeps.
  std::vector<Bytes> seen;
  client.SetCertificateCheck([&](const std::vector<Bytes>& chain) {
    seen = chain;
    return CertificateVerdict{};
  });
  client.ReceiveBytes(ServerRecord("send handshake record", 0));
  client.ReceiveBytes(ServerRecord("send handshake record", 1));
  ASSERT_TRUE(client.HandshakeDone()) << lines.text;
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(client.PeerCertificates(), seen);
  // Refused: its alert and line, and no Finished of ours.
  Lines refusedLines;
  TlsConnection refused{refusedLines.Log()};
  PrepareAsTrace(refused);
  refused.SetCertificateCheck([](const std::vector<Bytes>&) {
    return CertificateVerdict{false, 42, "Pinned fingerprint does not match"};
  });
  refused.ReceiveBytes(ServerRecord("send handshake record", 0));
  refused.ReceiveBytes(ServerRecord("send handshake record", 1));
  EXPECT_TRUE(refused.Failed());
  EXPECT_FALSE(refused.HandshakeDone());
  EXPECT_EQ(hexEncode(refused.SendApplicationData("")),
            "15030300020"
            "22a");
  EXPECT_TRUE(refusedLines.Contains("1 Pinned fingerprint does not match")) << refusedLines.text;
}

TEST_F(Rfc8448Client, RefusesWhatTheServerMayNotSend) {
  const Bytes ee = Message("construct an EncryptedExtensions", "EncryptedExtensions");
  const Bytes certificate = Message("construct a Certificate handshake", "Certificate");
  const Bytes verify = Message("construct a CertificateVerify", "CertificateVerify");
  const Bytes finished = Message("construct a Finished", "Finished");
  const auto flipLast = [](Bytes bytes) {
    bytes.back() = static_cast<char>(bytes.back() ^ 1);
    return bytes;
  };
  const struct {
    const char* what;
    std::vector<Bytes> messages;
    int alert;
    const char* line;
  } cases[] = {
      {"no certificate",
       {ee, finished},
       10,
       "Unexpected TLS 1.3 handshake type 20 (waiting for Certificate)"},
      {"second EncryptedExtensions", {ee, ee}, 10, "Unexpected TLS 1.3 handshake type 8"},
      {"unrequested extension",
       {handshakeMessage(8, vector16(extension(0x0010, Bytes("\x00\x03\x02h2", 5))))},
       110,
       "Unrequested EncryptedExtensions extension 0010"},
      {"ticket before Finished",
       {ee, certificate, handshakeMessage(4, Bytes(13, '\x01'))},
       10,
       "Unexpected TLS 1.3 handshake type 4"},
      {"forged signature",
       {ee, certificate, flipLast(verify)},
       51,
       "CertificateVerify (scheme 0804) refused"},
      {"scheme not offered",
       {ee, certificate, Bytes("\x0f\x00\x00\x05\x02\x01\x00\x01\x00", 9)},
       47,
       "CertificateVerify with scheme 0201, which was not offered"},
      {"forged Finished",
       {ee, certificate, verify, flipLast(finished)},
       51,
       "Server Finished does not match the handshake"},
      {"empty Certificate",
       {ee, Bytes("\x0b\x00\x00\x04\x00\x00\x00\x00", 8)},
       50,
       "Server sent an empty Certificate"},
      {"KeyUpdate during the handshake",
       {ee, Bytes("\x18\x00\x00\x01\x01", 5)},
       10,
       "Unexpected TLS 1.3 handshake type 24"},
  };
  for (const auto& c : cases) {
    Lines caseLines;
    TlsConnection victim{caseLines.Log()};
    PrepareAsTrace(victim);
    Tls13RecordCipher forger;
    victim.ReceiveBytes(ServerRecord("send handshake record", 0));
    for (const Bytes& message : c.messages) victim.ReceiveBytes(SealedByServer(forger, message));
    EXPECT_TRUE(victim.Failed()) << c.what << "\n" << caseLines.text;
    EXPECT_FALSE(victim.HandshakeDone()) << c.what;
    // The alert leaves in the clear: no client key is in place before Finished.
    EXPECT_EQ(hexEncode(victim.SendApplicationData("")).substr(0, 14),
              "150303000202" + hexEncode(Bytes(1, static_cast<char>(c.alert))))
        << c.what;
    EXPECT_NE(caseLines.text.find(std::string("1 ") + c.line), std::string::npos) << c.what << "\n"
                                                                                  << caseLines.text;
  }
}

// The trace with a HelloRetryRequest for secp256r1: our client in the state
// after its second hello reads the server's answer and must end with the
// trace's Finished (the first hello is only its hash in the transcript).
TEST(Tls13Rfc8448, RetriedHandshakeEndsWithTheTracesFinished) {
  const test::Rfc8448Trace t("helloretryrequest");
  Lines lines;
  TlsConnection client(lines.Log());
  client.SetVerifyCertificates(false);
  client.SetVersionPolicy(TlsVersionPolicy::kTls13);
  TlsConnectionTestPeer peer(client);
  peer.Role() = TlsRole::kClient;
  peer.Version() = kVersionTls12;
  const Bytes first = t.Value("client", "construct a ClientHello", "ClientHello", 0);
  const Bytes retry = t.Value("server", "construct a ServerHello", "ServerHello", 0);
  const Bytes second = t.Value("client", "construct a ClientHello", "ClientHello", 1);
  peer.Handshake().transcript = Tls13MessageHash(HashAlgorithm::kSha256, first) + retry + second;
  peer.Handshake().clientRandom = second.substr(6, 32);
  Tls13Handshake& state = peer.Tls13();
  state.offered = true;
  state.retried = true;
  state.compatibilityCcsSent = true;
  state.retrySuite = 0x1301;
  state.retryGroup = kGroupSecp256r1;
  state.step = Tls13Step::kWaitServerHello;
  state.shares.push_back({kGroupSecp256r1, t.Value("client", "create an ephemeral P-256", "private key"),
                          t.Value("client", "create an ephemeral P-256", "public key")});
  state.answerableExtensions = {0x001C};
  client.ReceiveBytes(t.Value("server", "send handshake record", "complete record", 1));
  client.ReceiveBytes(t.Value("server", "send handshake record", "complete record", 2));
  ASSERT_TRUE(client.HandshakeDone()) << lines.text;
  EXPECT_EQ(hexEncode(client.SendApplicationData("")),
            hexEncode(t.Value("client", "send handshake record", "complete record", 2)));
  EXPECT_TRUE(lines.Contains("group 0017")) << lines.text;
}

// A ServerHello (or retry request) body with these extensions.
Bytes serverHelloBody(std::string_view random, std::string_view sessionId, std::string_view extensions,
                      std::uint16_t suite = 0x1301) {
  return Bytes("\x03\x03", 2) + Bytes(random) + Bytes(1, static_cast<char>(sessionId.size())) +
         Bytes(sessionId) + uintToBytes(suite, 2) + Bytes(1, '\0') + vector16(extensions);
}

const Bytes kSupportedTls13 = extension(0x002B, Bytes("\x03\x04", 2));

// The session id a fresh client's first hello carries.
Bytes sessionIdOf(std::string_view helloRecord) { return Bytes(helloRecord.substr(5 + 4 + 2 + 32 + 1, 32)); }

TEST(Tls13Client, HelloRetryRequestBringsASecp384r1ShareAndTheCookie) {
  Lines lines;
  TlsConnection client(lines.Log());
  client.SetServerName("pbx");
  client.SetVersionPolicy(TlsVersionPolicy::kTls13);
  client.StartClient();
  const Bytes first = client.SendApplicationData("");
  const Bytes firstHello = first.substr(5);
  const Bytes retry = serverHelloBody(
      kHelloRetryRandom, sessionIdOf(first),
      kSupportedTls13 + extension(0x0033, Bytes("\x00\x18", 2)) + extension(0x002C, vector16("cookie!")));
  client.ReceiveBytes(record(kContentHandshake, handshakeMessage(2, retry)));
  ASSERT_FALSE(client.Failed()) << lines.text;
  const Bytes out = client.SendApplicationData("");
  ASSERT_EQ(hexEncode(out.substr(0, 6)), "140303000101");
  const Bytes secondHello = out.substr(6 + 5);
  // Same random and session id; one key share, a P-384 point; the cookie back.
  EXPECT_EQ(secondHello.substr(6, 33 + 32), firstHello.substr(6, 33 + 32));
  EXPECT_NE(secondHello.find(extension(0x002C, vector16("cookie!"))), Bytes::npos);
  EXPECT_NE(secondHello.find(Bytes("\x00\x33\x00\x67\x00\x65\x00\x18\x00\x61\x04", 11)), Bytes::npos);
  EXPECT_EQ(secondHello.find(Bytes("\x00\x1D\x00\x20", 4)), Bytes::npos);
  // The transcript starts with message_hash over the first hello.
  const Bytes& transcript = TlsConnectionTestPeer(client).Handshake().transcript;
  EXPECT_EQ(hexEncode(transcript.substr(0, 36)),
            "fe000020" + hexEncode(digestOf(HashAlgorithm::kSha256, firstHello)));
  // A second retry request is refused.
  client.ReceiveBytes(record(kContentHandshake, handshakeMessage(2, retry)));
  EXPECT_TRUE(client.Failed());
  EXPECT_TRUE(lines.Contains("1 Second HelloRetryRequest")) << lines.text;
}

// A ticket goes last in the hello with a binder over everything before the
// binders; the server may select only that identity with a suite of its
// hash; an expired ticket is not offered.
TEST(Tls13Client, OffersItsTicketLastWithItsBinder) {
  Tls13Ticket ticket;
  ticket.suite = 0x1301;
  ticket.identity = "ticket-1";
  ticket.psk = Bytes(32, '\x42');
  ticket.ageAdd = 1000;
  ticket.lifetimeSeconds = 3600;
  ticket.received = std::chrono::steady_clock::now();
  const auto helloWith = [](const Tls13Ticket& offered, TlsConnection& client) {
    client.SetVersionPolicy(TlsVersionPolicy::kTls13);
    client.SetResumptionTicket13(offered);
    client.StartClient();
    return client.SendApplicationData("");
  };
  {
    Lines lines;
    TlsConnection client(lines.Log());
    const Bytes hello = helloWith(ticket, client);
    const Bytes message = hello.substr(5);
    const std::size_t tail = 4 + 2 + 2 + 8 + 4 + 2 + 1 + 32;
    ASSERT_GT(message.size(), tail);
    const Bytes psk = message.substr(message.size() - tail);
    EXPECT_EQ(hexEncode(psk.substr(0, 16)), "00290033000e0008" + hexEncode("ticket-1"));
    const std::uint32_t age = static_cast<std::uint32_t>(bytesToUInt(psk.substr(16, 4)));
    EXPECT_GE(age, 1000u);
    EXPECT_LT(age, 1000u + 60000u);
    EXPECT_EQ(hexEncode(psk.substr(20, 3)), "002120");
    const Bytes truncated = message.substr(0, message.size() - 35);
    EXPECT_EQ(psk.substr(23), Tls13ResumptionBinder(HashAlgorithm::kSha256, ticket.psk,
                                                    digestOf(HashAlgorithm::kSha256, truncated)));
    EXPECT_NE(message.find(Bytes("\x00\x2D\x00\x02\x01\x01", 6)), Bytes::npos);
  }
  const Bytes shareX25519 = extension(0x0033, Bytes("\x00\x1D\x00\x20", 4) + Bytes(32, '\x09'));
  const struct {
    const char* what;
    Bytes selected;
    std::uint16_t suite;
  } refused[] = {
      {"second identity", Bytes("\x00\x01", 2), 0x1301},
      {"suite of another hash", Bytes("\x00\x00", 2), 0x1302},
  };
  for (const auto& c : refused) {
    Lines lines;
    TlsConnection client(lines.Log());
    const Bytes hello = helloWith(ticket, client);
    const Bytes body =
        serverHelloBody(Bytes(32, 'r'), sessionIdOf(hello),
                        kSupportedTls13 + shareX25519 + extension(0x0029, c.selected), c.suite);
    client.ReceiveBytes(record(kContentHandshake, handshakeMessage(2, body)));
    EXPECT_TRUE(client.Failed()) << c.what;
    EXPECT_TRUE(lines.Contains("which was not offered with its suite")) << c.what << lines.text;
  }
  Tls13Ticket expired = ticket;
  expired.received -= std::chrono::seconds(3601);
  Lines lines;
  TlsConnection client(lines.Log());
  const Bytes hello = helloWith(expired, client);
  EXPECT_EQ(hello.find(Bytes("\x00\x29\x00", 3)), Bytes::npos);
  EXPECT_EQ(hello.find(Bytes("\x00\x2D\x00\x02", 4)), Bytes::npos);
  EXPECT_TRUE(lines.Contains("TLS resumption ticket expired")) << lines.text;
}

TEST(Tls13Client, RefusesServerHellosItCannotTake) {
  const Bytes shareX25519 = extension(0x0033, Bytes("\x00\x1D\x00\x20", 4) + Bytes(32, '\x09'));
  const Bytes random(32, 'r');
  const Bytes downgraded12 = Bytes(24, 'r') + Bytes("DOWNGRD\x01", 8);
  const Bytes downgraded11 = Bytes(24, 'r') + Bytes("DOWNGRD\x00", 8);
  const struct {
    const char* what;
    TlsVersionPolicy policy;
    Bytes random;
    bool echoId;
    Bytes extensions;
    std::uint16_t suite;
    int alert;  // 0: accepted
    const char* line;
  } cases[] = {
      {"retry for a group already shared", TlsVersionPolicy::kTls13, Bytes(kHelloRetryRandom), true,
       kSupportedTls13 + extension(0x0033, Bytes("\x00\x1D", 2)), 0x1301, 47, "whose share was sent"},
      {"retry that changes nothing", TlsVersionPolicy::kTls13, Bytes(kHelloRetryRandom), true,
       kSupportedTls13, 0x1301, 47, "HelloRetryRequest that would change nothing"},
      {"session id not echoed", TlsVersionPolicy::kTls13, random, false, kSupportedTls13 + shareX25519,
       0x1301, 47, "does not echo the session id"},
      {"suite not offered", TlsVersionPolicy::kTls13, random, true, kSupportedTls13 + shareX25519, 0x1304, 47,
       "chose cipher suite 1304"},
      {"TLS 1.2 suite under TLS 1.3", TlsVersionPolicy::kAuto, random, true, kSupportedTls13 + shareX25519,
       0xC02F, 47, "chose cipher suite c02f"},
      {"pre_shared_key never offered", TlsVersionPolicy::kTls13, random, true,
       kSupportedTls13 + shareX25519 + extension(0x0029, Bytes("\x00\x00", 2)), 0x1301, 47,
       "ServerHello selects PSK identity 0, which was not offered"},
      {"share for a group not sent", TlsVersionPolicy::kTls13, random, true,
       kSupportedTls13 + extension(0x0033, Bytes("\x00\x18\x00\x01\x04", 5)), 0x1301, 47,
       "key share for group 0018, which was not sent"},
      {"all-zero X25519 share", TlsVersionPolicy::kTls13, random, true,
       kSupportedTls13 + extension(0x0033, Bytes("\x00\x1D\x00\x20", 4) + Bytes(32, '\0')), 0x1301, 47,
       "is not usable"},
      {"invalid P-256 point", TlsVersionPolicy::kTls13, random, true,
       kSupportedTls13 + extension(0x0033, Bytes("\x00\x17\x00\x41\x04", 5) + Bytes(64, '\x01')), 0x1301, 47,
       "is not usable"},
      {"supported_versions names TLS 1.2", TlsVersionPolicy::kAuto, random, true,
       extension(0x002B, Bytes("\x03\x03", 2)) + shareX25519, 0x1301, 47, "selects version 0303"},
      {"repeated extension", TlsVersionPolicy::kTls13, random, true,
       kSupportedTls13 + shareX25519 + shareX25519, 0x1301, 47, "Repeated ServerHello extension 0033"},
      {"TLS 1.2 answer with the 1.2 sentinel", TlsVersionPolicy::kAuto, downgraded12, true, Bytes(), 0xC02F,
       47, "downgrade sentinel"},
      {"TLS 1.2 answer with the 1.1 sentinel", TlsVersionPolicy::kAuto, downgraded11, true, Bytes(), 0xC02F,
       47, "downgrade sentinel"},
      {"TLS 1.2 answer under 1.3 only", TlsVersionPolicy::kTls13, random, true, Bytes(), 0xC02F, 70,
       "Server chose TLS version 3.3, which tlsversion 1.3 does not allow"},
      {"TLS 1.2 answer under auto", TlsVersionPolicy::kAuto, random, true, Bytes(), 0xC02F, 0, ""},
      // Without TLS 1.3 offered the sentinel is not ours to check.
      {"sentinel under 1.2 only", TlsVersionPolicy::kTls12, downgraded12, true, Bytes(), 0xC02F, 0, ""},
  };
  for (const auto& c : cases) {
    Lines lines;
    TlsConnection client(lines.Log());
    client.SetVersionPolicy(c.policy);
    client.StartClient();
    const Bytes hello = client.SendApplicationData("");
    const Bytes id = c.echoId && c.policy != TlsVersionPolicy::kTls12 ? sessionIdOf(hello) : Bytes();
    Bytes body = serverHelloBody(c.random, id, c.extensions, c.suite);
    if (c.extensions.empty()) body.resize(body.size() - 2);  // no extensions block at all
    client.ReceiveBytes(record(kContentHandshake, handshakeMessage(2, body)));
    const Bytes out = client.SendApplicationData("");
    if (c.alert == 0) {
      EXPECT_FALSE(client.Failed()) << c.what << "\n" << lines.text;
      continue;
    }
    EXPECT_TRUE(client.Failed()) << c.what;
    EXPECT_NE(hexEncode(out).find("0202" + hexEncode(Bytes(1, static_cast<char>(c.alert)))),
              std::string::npos)
        << c.what << " " << hexEncode(out);
    EXPECT_NE(lines.text.find(c.line), std::string::npos) << c.what << "\n" << lines.text;
    EXPECT_NE(lines.text.find("\n1 "), std::string::npos) << c.what << ": refusals are logged at level 1";
  }
}

TEST(Tls13Record, TypeInsidePaddingStrippedAndTamperingRefused) {
  const Bytes key(16, 'k');
  const Bytes iv(12, 'i');
  Tls13RecordCipher sender;
  Tls13RecordCipher receiver;
  ASSERT_TRUE(sender.SetKey(Tls13Aead::kAes128Gcm, key, iv));
  ASSERT_TRUE(receiver.SetKey(Tls13Aead::kAes128Gcm, key, iv));
  EXPECT_FALSE(sender.SetKey(Tls13Aead::kAes128Gcm, key, Bytes(8, 'i')));
  ASSERT_TRUE(sender.SetKey(Tls13Aead::kAes128Gcm, key, iv));
  const auto header = [](std::size_t length) {
    return Bytes("\x17\x03\x03", 3) + uintToBytes(static_cast<std::uint32_t>(length), 2);
  };
  // Two records: the nonce moves with the sequence number.
  const Bytes one = sender.Seal(kContentHandshake, "same");
  const Bytes two = sender.Seal(kContentHandshake, "same");
  EXPECT_NE(one, two);
  auto opened = receiver.Open(header(one.size()), one);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->type, kContentHandshake);
  EXPECT_EQ(opened->content, "same");
  Bytes tampered = two;
  tampered[0] = static_cast<char>(tampered[0] ^ 1);
  EXPECT_FALSE(receiver.Open(header(two.size()), tampered));
  EXPECT_FALSE(receiver.Open(header(two.size() + 1), two)) << "the header is authenticated";
  // A peer's record with zero padding after the type, and one of zeros only.
  AesGcm gcm;
  gcm.setKey(key);
  const auto sealRaw = [&](std::uint64_t sequence, std::string_view inner) {
    Bytes nonce = iv;
    for (int k = 0; k < 8; ++k)
      nonce[11 - k] = static_cast<char>(nonce[11 - k] ^ ((sequence >> (8 * k)) & 0xFF));
    return gcm.seal(nonce, header(inner.size() + 16), inner);
  };
  const Bytes padded = sealRaw(1, Bytes("data\x17", 5) + Bytes(100, '\0'));
  opened = receiver.Open(header(padded.size()), padded);
  ASSERT_TRUE(opened);
  EXPECT_EQ(opened->type, kContentApplicationData);
  EXPECT_EQ(opened->content, "data");
  const Bytes zeros = sealRaw(2, Bytes(20, '\0'));
  EXPECT_FALSE(receiver.Open(header(zeros.size()), zeros));
}

TEST(Tls13Messages, ParsersRefuseMalformedBodies) {
  const struct {
    const char* what;
    std::function<Tls13Check()> parse;
    int alert;
  } cases[] = {
      {"EncryptedExtensions with a short block",
       [] { return ParseEncryptedExtensions(Bytes("\x00\x05\x00", 3), {}); }, 50},
      {"EncryptedExtensions with server_name data",
       [] { return ParseEncryptedExtensions(vector16(extension(0, "x")), {}); }, 50},
      {"Certificate with an entry extension",
       [] {
         Certificate13 out;
         return ParseCertificate13(Bytes("\x00\x00\x00\x08\x00\x00\x01\x30\x00\x02\x00\x05", 12), out);
       },
       110},
      {"Certificate entry past the end",
       [] {
         Certificate13 out;
         return ParseCertificate13(Bytes("\x00\x00\x00\x06\x00\x00\x09\x30\x00\x00", 10), out);
       },
       50},
      {"Certificate list length off by one",
       [] {
         Certificate13 out;
         return ParseCertificate13(Bytes("\x00\x00\x00\x07\x00\x00\x01\x30\x00\x00", 10), out);
       },
       50},
      {"CertificateVerify signature length",
       [] {
         CertificateVerify13 out;
         return ParseCertificateVerify13(Bytes("\x08\x04\x00\x09\x01", 5), out);
       },
       50},
      {"NewSessionTicket without a ticket",
       [] {
         NewSessionTicket13 out;
         return ParseNewSessionTicket13(Bytes("\x00\x00\x00\x1e\x00\x00\x00\x00\x00\x00\x00\x00\x00", 13),
                                        out);
       },
       50},
      {"KeyUpdate request 2",
       [] {
         bool requested = false;
         return ParseKeyUpdate(Bytes(1, '\x02'), requested);
       },
       47},
      {"CertificateRequest without signature_algorithms",
       [] {
         CertificateRequest13 out;
         return ParseCertificateRequest13(Bytes("\x00\x00\x00", 3), out);
       },
       109},
  };
  for (const auto& c : cases) EXPECT_EQ(c.parse().alert, c.alert) << c.what;
  NewSessionTicket13 ticket;
  EXPECT_TRUE(ParseNewSessionTicket13(Bytes("\x00\x00\x00\x1e\x00\x00\x00\x00\x01"
                                            "n\x00\x01"
                                            "t\x00\x00",
                                            15),
                                      ticket)
                  .ok());
  EXPECT_EQ(ticket.lifetime, 30u);
  CertificateRequest13 request;
  ASSERT_TRUE(ParseCertificateRequest13(Bytes("\x01"
                                              "c\x00\x08\x00\x0d\x00\x04\x00\x02\x08\x04",
                                              12),
                                        request)
                  .ok());
  EXPECT_EQ(request.context, "c");
  EXPECT_EQ(request.schemes, std::vector<std::uint16_t>{0x0804});
}

}  // namespace
}  // namespace qv
