// The TLS 1.3 client against the RFC 8448 traces (key schedule, and the
// simple 1-RTT handshake byte for byte), against crafted hostile servers
// (out-of-order, forged and malformed messages, downgrades), and the
// record protection on its own.
#include <gtest/gtest.h>

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
  return Bytes(1, static_cast<char>(type)) + uintToBytes(static_cast<std::uint32_t>(body.size()), 3) + Bytes(body);
}

Bytes extension(std::uint16_t type, std::string_view body) {
  return uintToBytes(type, 2) + uintToBytes(static_cast<std::uint32_t>(body.size()), 2) + Bytes(body);
}

Bytes vector16(std::string_view body) { return uintToBytes(static_cast<std::uint32_t>(body.size()), 2) + Bytes(body); }

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
  EXPECT_EQ(hexEncode(secrets.handshakeSecret), hexEncode(t.Value("server", "extract secret \"handshake\"", "secret")));
  EXPECT_EQ(hexEncode(secrets.clientHandshakeTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 c hs traffic\"", "expanded")));
  EXPECT_EQ(hexEncode(secrets.serverHandshakeTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 s hs traffic\"", "expanded")));
  const Tls13TrafficKeys keys = Tls13TrafficKeysOf(h, secrets.serverHandshakeTraffic, 16);
  EXPECT_EQ(hexEncode(keys.key), hexEncode(t.Value("server", "derive write traffic keys for handshake", "key expanded")));
  EXPECT_EQ(hexEncode(keys.iv), hexEncode(t.Value("server", "derive write traffic keys for handshake", "iv expanded")));

  const Bytes upToVerify = hello + t.Value("server", "construct an EncryptedExtensions", "EncryptedExtensions") +
                           t.Value("server", "construct a Certificate handshake", "Certificate") +
                           t.Value("server", "construct a CertificateVerify", "CertificateVerify");
  const Bytes serverFinished = Tls13FinishedData(h, secrets.serverHandshakeTraffic, digestOf(h, upToVerify));
  EXPECT_EQ(hexEncode(serverFinished), hexEncode(t.Value("server", "calculate finished", "finished")));
  const Bytes upToFinished = upToVerify + handshakeMessage(kHandshakeFinished, serverFinished);
  EXPECT_EQ(hexEncode(upToFinished.substr(upToVerify.size())),
            hexEncode(t.Value("server", "construct a Finished", "Finished")));
  Tls13DeriveApplicationSecrets(h, digestOf(h, upToFinished), secrets);
  EXPECT_EQ(hexEncode(secrets.masterSecret), hexEncode(t.Value("server", "extract secret \"master\"", "secret")));
  EXPECT_EQ(hexEncode(secrets.clientApplicationTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 c ap traffic\"", "expanded")));
  EXPECT_EQ(hexEncode(secrets.serverApplicationTraffic),
            hexEncode(t.Value("server", "derive secret \"tls13 s ap traffic\"", "expanded")));
  EXPECT_EQ(hexEncode(Tls13FinishedData(h, secrets.clientHandshakeTraffic, digestOf(h, upToFinished))),
            hexEncode(t.Value("client", "calculate finished", "finished")));
  const Tls13TrafficKeys app = Tls13TrafficKeysOf(h, secrets.clientApplicationTraffic, 16);
  EXPECT_EQ(hexEncode(app.key), hexEncode(t.Value("client", "derive write traffic keys for application", "key expanded")));
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
          HashAlgorithm::kSha256, simpleTrace().Value("server", "derive secret \"tls13 s hs traffic\"", "expanded"), 16);
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
  EXPECT_TRUE(lines.Contains("Ignoring NewSessionTicket (lifetime 30 s")) << lines.text;
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
      {"no certificate", {ee, finished}, 10, "Unexpected TLS 1.3 handshake type 20 (waiting for Certificate)"},
      {"second EncryptedExtensions", {ee, ee}, 10, "Unexpected TLS 1.3 handshake type 8"},
      {"unrequested extension", {handshakeMessage(8, vector16(extension(0x0010, Bytes("\x00\x03\x02h2", 5))))},
       110, "Unrequested EncryptedExtensions extension 0010"},
      {"ticket before Finished", {ee, certificate, handshakeMessage(4, Bytes(13, '\x01'))}, 10,
       "Unexpected TLS 1.3 handshake type 4"},
      {"forged signature", {ee, certificate, flipLast(verify)}, 51, "CertificateVerify (scheme 0804) refused"},
      {"scheme not offered", {ee, certificate, Bytes("\x0f\x00\x00\x05\x02\x01\x00\x01\x00", 9)}, 47,
       "CertificateVerify with scheme 0201, which was not offered"},
      {"forged Finished", {ee, certificate, verify, flipLast(finished)}, 51,
       "Server Finished does not match the handshake"},
      {"empty Certificate", {ee, Bytes("\x0b\x00\x00\x04\x00\x00\x00\x00", 8)}, 50, "Server sent an empty Certificate"},
      {"KeyUpdate during the handshake", {ee, Bytes("\x18\x00\x00\x01\x01", 5)}, 10,
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
    EXPECT_NE(caseLines.text.find(std::string("1 ") + c.line), std::string::npos) << c.what << "\n" << caseLines.text;
  }
}

}  // namespace
}  // namespace qv
