#pragma once
// A TLS 1.3 client brought to the state in which the simple 1-RTT handshake
// of RFC 8448 has its ServerHello read, so that a harness holding the
// server's keys (read back from the client) can send it any encrypted
// flight, including the trace's own valid one.
#include "fuzz/tls/fuzz_identity.h"
#include "tests/tls/tls_connection_test_peer.h"
#include "tls/tls13_messages.h"
#include "tls/tls13_record.h"
#include "tls/tls_connection.h"

namespace qv::fuzz {

// From RFC 8448's simple 1-RTT handshake: the client's hello and key, and
// the server's hello record.
inline constexpr const char* kTraceClientHelloHex =
    "010000c00303cb34ecb1e78163ba1c38c6dacb196a6dffa21a8d9912ec18a2ef6283024dece700000613011303130201"
    "0000910000000b0009000006736572766572ff01000100000a00140012001d0017001800190100010101020103010400"
    "230000003300260024001d002099381de560e4bd43d23d8e435a7dbafeb3c06e51c13cae4d5413691e529aaf2c002b00"
    "03020304000d0020001e040305030603020308040805080604010501060102010402050206020202002d00020101001c"
    "00024001";
inline constexpr const char* kTraceServerHelloRecordHex =
    "160303005a020000560303a6af06a4121860dc5e6e60249cd34c95930c8ac5cb1434dac155772ed3e269280013010000"
    "2e00330024001d0020c9828876112095fe66762bdbf7c672e156d6cc253b833df1dd69b1b04e751f0f002b00020304";
inline constexpr const char* kTraceClientPrivateHex =
    "49af42ba7f7994852d713ef2784bcbcaa7911de26adc5642cb634540e7ea5005";
inline constexpr const char* kTraceClientPublicHex =
    "99381de560e4bd43d23d8e435a7dbafeb3c06e51c13cae4d5413691e529aaf2c";

inline TlsConnection tls13ClientAfterServerHello() {
  TlsConnection client(fuzzLog("CSTA: "));
  client.SetVerifyCertificates(false);
  client.SetVersionPolicy(TlsVersionPolicy::kTls13);
  TlsConnectionTestPeer peer(client);
  peer.Role() = TlsRole::kClient;
  peer.Version() = kVersionTls10;
  const Bytes hello = fromHex(kTraceClientHelloHex);
  peer.Handshake().transcript = hello;
  peer.Handshake().clientRandom = hello.substr(6, 32);
  Tls13Handshake& state = peer.Tls13();
  state.offered = true;
  state.step = Tls13Step::kWaitServerHello;
  state.firstHelloLength = hello.size();
  state.shares.push_back({kGroupX25519, fromHex(kTraceClientPrivateHex), fromHex(kTraceClientPublicHex)});
  state.answerableExtensions = {0x001C};
  client.ReceiveBytes(fromHex(kTraceServerHelloRecordHex));
  return client;
}

// Seals records as the server would: with its handshake key until the
// client took the server's Finished, then with its current application key.
class Tls13Forger {
 public:
  Bytes Seal(TlsConnection& client, std::uint8_t type, std::string_view content) {
    TlsConnectionTestPeer peer(client);
    const Tls13Handshake& state = peer.Tls13();
    const Bytes& secret =
        state.step == Tls13Step::kConnected ? state.serverTraffic : state.secrets.serverHandshakeTraffic;
    if (secret.empty()) return {};
    if (secret != secret_) {
      secret_ = secret;
      const Tls13TrafficKeys keys = Tls13TrafficKeysOf(HashAlgorithm::kSha256, secret, 16);
      cipher_.SetKey(Tls13Aead::kAes128Gcm, keys.key, keys.iv);
    }
    const Bytes sealed = cipher_.Seal(type, content);
    return Bytes("\x17\x03\x03", 3) + uintToBytes(static_cast<std::uint32_t>(sealed.size()), 2) + sealed;
  }

 private:
  Bytes secret_;
  Tls13RecordCipher cipher_;
};

}  // namespace qv::fuzz
