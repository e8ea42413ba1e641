// TLS 1.2 through TlsConnection without a peer library (so it also runs
// under wine): the hellos of each policy, and records of GCM and
// explicit-IV CBC suites between two keyed ends.
#include <gtest/gtest.h>

#include <vector>

#include "tests/tls/tls_connection_test_peer.h"
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

const char* const kSuites12[] = {"\xC0\x2F", "\xC0\x30", "\x00\x9C", "\x00\x9D",
                                 "\xC0\x13", "\xC0\x14", "\x00\x2F", "\x00\x35"};

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
  }
}

}  // namespace
}  // namespace qv
