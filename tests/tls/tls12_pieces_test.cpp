// The TLS 1.2 building blocks on their own: hello extensions, the
// ServerKeyExchange parser, record protection, key schedule shapes.
#include <gtest/gtest.h>

#include "crypto/aes.h"
#include "tests/tls/tls_test_util.h"
#include "tls/cbc_record.h"
#include "tls/gcm_record.h"
#include "tls/hello_extensions.h"
#include "tls/server_key_exchange.h"
#include "tls/signature_schemes.h"
#include "tls/tls12_key_schedule.h"
#include "tls/tls12_suites.h"

namespace qv {
namespace {

using test::hexDecode;

Bytes extension(std::uint16_t type, std::string_view body) {
  return uintToBytes(type, 2) + uintToBytes(static_cast<std::uint32_t>(body.size()), 2) + Bytes(body);
}

Bytes block(std::string_view extensions) {
  return uintToBytes(static_cast<std::uint32_t>(extensions.size()), 2) + Bytes(extensions);
}

// The block pins the TLS 1.2 hello; session_ticket (empty: asking for one)
// was added for resumption, the rest is as before.
TEST(HelloExtensions, ClientBlockIsExactlyWhatIsOffered) {
  const Bytes expected = hexDecode(
      "0053"
      "0000001400120000"
      "0f7062782e6578616d706c652e636f6d"  // "pbx.example.com"
      "000a00080006001d00170018"
      "000b00020100"
      "000d0018001604010501060108040805080604030503"
      "0809080a080b"
      "00170000"
      "00230000"
      "ff01000100");
  EXPECT_EQ(hexEncode(BuildClientHelloExtensions("pbx.example.com")), hexEncode(expected));
  // Without a name there is no server_name and the length shrinks by its 24 bytes.
  const Bytes bare = BuildClientHelloExtensions("");
  EXPECT_EQ(bytesToUInt(bare.substr(0, 2)), 0x53u - 24);
  EXPECT_EQ(bare.substr(2, 2), Bytes("\x00\x0a", 2));
  // A ticket offered goes in session_ticket's body, nothing else changes.
  const Bytes offered = BuildClientHelloExtensions("pbx.example.com", "TICKET");
  EXPECT_EQ(hexEncode(offered), hexEncode(Bytes("\x00\x59", 2) + expected.substr(2, 0x53 - 9) +
                                          hexDecode("00230006") + "TICKET" + hexDecode("ff01000100")));
}

TEST(HelloExtensions, AcceptedServerAnswers) {
  EXPECT_EQ(ParseServerHelloExtensions("").alert, 0);
  const ExtensionCheck all = ParseServerHelloExtensions(block(
      extension(kExtensionRenegotiationInfo, Bytes(1, '\0')) + extension(kExtensionExtendedMasterSecret, "") +
      extension(kExtensionEcPointFormats, Bytes("\x03\x00\x01\x02", 4)) +
      extension(kExtensionServerName, "") + extension(kExtensionSessionTicket, "")));
  EXPECT_EQ(all.alert, 0) << all.error;
  EXPECT_TRUE(all.extensions.extendedMasterSecret);
  EXPECT_TRUE(all.extensions.renegotiationInfo);
  EXPECT_TRUE(all.extensions.sessionTicket);
  EXPECT_EQ(ParseServerHelloExtensions(block("")).alert, 0);
  const ExtensionCheck none = ParseServerHelloExtensions(block(extension(kExtensionServerName, "")));
  EXPECT_FALSE(none.extensions.extendedMasterSecret);
}

TEST(HelloExtensions, HostileBlocksAreRefusedWithTheirAlert) {
  const struct {
    const char* what;
    Bytes rest;
    std::uint8_t alert;
  } cases[] = {
      {"one byte", Bytes(1, '\0'), 50},
      {"block length one too long", Bytes("\x00\x05", 2) + extension(kExtensionExtendedMasterSecret, ""), 50},
      {"block length one too short", Bytes("\x00\x03", 2) + extension(kExtensionExtendedMasterSecret, ""),
       50},
      {"block length 0xffff", Bytes("\xff\xff\x00\x17\x00\x00", 6), 50},
      {"truncated header", block(Bytes("\x00\x17\x00", 3)), 50},
      {"extension length past the end", block(Bytes("\x00\x17\xff\xff\x00", 5)), 50},
      {"extension length one past the end", block(Bytes("\xff\x01\x00\x02\x00", 5)), 50},
      {"renegotiation_info with data",
       block(extension(kExtensionRenegotiationInfo, Bytes("\x02\xaa\xbb", 3))), 40},
      {"renegotiation_info empty body", block(extension(kExtensionRenegotiationInfo, "")), 40},
      {"extended_master_secret with data", block(extension(kExtensionExtendedMasterSecret, "x")), 50},
      {"repeated",
       block(extension(kExtensionExtendedMasterSecret, "") + extension(kExtensionExtendedMasterSecret, "")),
       47},
      {"ec_point_formats without uncompressed",
       block(extension(kExtensionEcPointFormats, Bytes("\x01\x01", 2))), 47},
      {"ec_point_formats list overrun", block(extension(kExtensionEcPointFormats, Bytes("\x05\x00", 2))), 50},
      {"ec_point_formats empty list", block(extension(kExtensionEcPointFormats, Bytes("\x00", 1))), 50},
      {"session_ticket with data", block(extension(kExtensionSessionTicket, "T")), 50},
      {"signature_algorithms echoed",
       block(extension(kExtensionSignatureAlgorithms, Bytes("\x00\x02\x04\x01", 4))), 110},
      {"server_name with data", block(extension(kExtensionServerName, "abc")), 50},
  };
  for (const auto& c : cases) {
    const ExtensionCheck check = ParseServerHelloExtensions(c.rest);
    EXPECT_EQ(check.alert, c.alert) << c.what;
    EXPECT_FALSE(check.error.empty()) << c.what;
  }
}

Bytes skeBody(std::string_view point, std::uint16_t scheme, std::string_view signature) {
  Bytes body("\x03\x00\x1d", 3);
  body += static_cast<char>(point.size());
  body.append(point);
  body += uintToBytes(scheme, 2);
  body += uintToBytes(static_cast<std::uint32_t>(signature.size()), 2);
  body.append(signature);
  return body;
}

TEST(ServerKeyExchange, ParsesNamedX25519) {
  const Bytes point(32, '\x42');
  const ServerKeyExchangeCheck check = ParseServerKeyExchange(skeBody(point, kSchemeRsaPssRsaeSha384, "SIG"));
  ASSERT_EQ(check.alert, 0) << check.error;
  EXPECT_EQ(check.params.group, kGroupX25519);
  EXPECT_EQ(check.params.publicKey, point);
  EXPECT_EQ(check.params.params, Bytes("\x03\x00\x1d\x20", 4) + point);
  EXPECT_EQ(check.params.signatureScheme, kSchemeRsaPssRsaeSha384);
  EXPECT_EQ(check.params.signature, "SIG");
}

TEST(ServerKeyExchange, EveryOfferedSchemeIsTaken) {
  const Bytes point(32, '\x42');
  for (const std::uint16_t scheme : OfferedSignatureSchemes(false)) {
    const ServerKeyExchangeCheck check = ParseServerKeyExchange(skeBody(point, scheme, "SIG"));
    EXPECT_EQ(check.alert, 0) << SignatureSchemeName(scheme) << ": " << check.error;
  }
}

TEST(ServerKeyExchange, HostileBodiesAreRefused) {
  const Bytes point(32, '\x42');
  const Bytes good = skeBody(point, kSchemeRsaPkcs1Sha256, "SIG");
  const struct {
    const char* what;
    Bytes body;
    std::uint8_t alert;
  } cases[] = {
      {"empty", "", 50},
      {"three bytes", good.substr(0, 3), 50},
      {"explicit curve", Bytes("\x01", 1) + good.substr(1), 47},
      {"P-256 never offered", Bytes("\x03\x00\x17", 3) + good.substr(3), 47},
      {"point of 65 bytes", skeBody(Bytes(65, '\x04'), kSchemeRsaPkcs1Sha256, "SIG"), 47},
      {"point of 31 bytes", skeBody(Bytes(31, '\x01'), kSchemeRsaPkcs1Sha256, "SIG"), 47},
      {"cut inside the point", good.substr(0, 20), 50},
      {"no signature header", good.substr(0, 36), 50},
      {"signature length past the end", good.substr(0, good.size() - 1), 50},
      {"trailing byte", good + "x", 50},
      {"empty signature", skeBody(point, kSchemeRsaPkcs1Sha256, ""), 50},
      {"SHA-1 scheme never offered", skeBody(point, 0x0201, "SIG"), 47},
      {"ECDSA P-521 scheme never offered", skeBody(point, 0x0603, "SIG"), 47},
      {"ECDSA with SHA-1 never offered", skeBody(point, 0x0203, "SIG"), 47},
      {"P-256 share of the X25519 size", Bytes("\x03\x00\x17\x20", 4) + good.substr(4), 47},
      {"P-384 share of the P-256 size",
       skeBody(Bytes(65, '\x04'), kSchemeRsaPkcs1Sha256, "SIG").replace(1, 2, "\x00\x18"), 47},
      {"P-256 share compressed",
       skeBody(Bytes(33, '\x02'), kSchemeRsaPkcs1Sha256, "SIG").replace(1, 2, "\x00\x17"), 47},
      {"P-256 share not on the curve",
       skeBody(Bytes(65, '\x04'), kSchemeRsaPkcs1Sha256, "SIG").replace(1, 2, "\x00\x17"), 47},
      {"secp521r1 never offered", Bytes("\x03\x00\x19", 3) + good.substr(3), 47},
  };
  for (const auto& c : cases) {
    const ServerKeyExchangeCheck check = ParseServerKeyExchange(c.body);
    EXPECT_EQ(check.alert, c.alert) << c.what << ": " << check.error;
    EXPECT_FALSE(check.error.empty()) << c.what;
  }
}

TEST(Tls12Suites, TableMatchesTheOfferedList) {
  for (std::size_t k = 0; k < kTls12OfferedSuites.size(); k += 2) {
    const Tls12Suite* suite = FindTls12Suite(kTls12OfferedSuites.substr(k, 2));
    ASSERT_NE(suite, nullptr) << k;
    EXPECT_EQ(suite->cipher != RecordCipher::kAesCbc, suite->macLength == 0) << suite->name;
    EXPECT_EQ(suite->cipher == RecordCipher::kAesGcm, suite->fixedIvLength == 4) << suite->name;
    EXPECT_EQ(suite->cipher == RecordCipher::kChaCha20Poly1305, suite->fixedIvLength == 12) << suite->name;
  }
  EXPECT_EQ(FindTls12Suite(Bytes("\x00\x05", 2)), nullptr);  // RC4 never under TLS 1.2
  EXPECT_EQ(FindTls12Suite(Bytes("\xc0", 1)), nullptr);
  EXPECT_EQ(FindTls12Suite(Bytes("\xc0\x30", 2))->prfHash, HashAlgorithm::kSha384);
}

TEST(Tls12KeySchedule, KeyBlockIsSplitInRfcOrder) {
  const Bytes master(48, '\x11');
  const Bytes clientRandom(32, '\x22');
  const Bytes serverRandom(32, '\x33');
  const Tls12KeyBlock gcm =
      Tls12DeriveKeys(HashAlgorithm::kSha256, master, clientRandom, serverRandom, 0, 16, 4);
  const Bytes whole = gcm.clientKey + gcm.serverKey + gcm.clientIv + gcm.serverIv;
  EXPECT_EQ(whole.size(), 40u);
  EXPECT_TRUE(gcm.clientMacKey.empty());
  const Tls12KeyBlock cbc =
      Tls12DeriveKeys(HashAlgorithm::kSha256, master, clientRandom, serverRandom, 20, 32, 0);
  EXPECT_EQ(cbc.clientMacKey.size(), 20u);
  EXPECT_EQ(cbc.serverKey.size(), 32u);
  EXPECT_TRUE(cbc.clientIv.empty());
  // The key block is one PRF stream: a longer block starts with a shorter one.
  EXPECT_EQ(cbc.clientMacKey.substr(0, 16), gcm.clientKey);
  EXPECT_EQ(Tls12Finished(HashAlgorithm::kSha256, master, true, Bytes(32, 'h')).size(), 12u);
  EXPECT_NE(Tls12Finished(HashAlgorithm::kSha256, master, true, Bytes(32, 'h')),
            Tls12Finished(HashAlgorithm::kSha256, master, false, Bytes(32, 'h')));
}

TEST(GcmRecord, RoundTripBindsSequenceTypeAndVersion) {
  GcmRecordCipher writer;
  GcmRecordCipher reader;
  ASSERT_TRUE(writer.SetKey(Bytes(16, 'k'), "salt"));
  ASSERT_TRUE(reader.SetKey(Bytes(16, 'k'), "salt"));
  const std::string_view v12{"\x03\x03", 2};
  for (const std::size_t length : {0u, 1u, 15u, 16u, 17u, 16384u}) {
    const Bytes plain(length, 'p');
    const Bytes sealed = writer.Seal(7, 23, v12, plain);
    ASSERT_EQ(sealed.size(), length + kGcmRecordOverhead);
    EXPECT_EQ(sealed.substr(0, 8), Bytes("\0\0\0\0\0\0\0\x07", 8));
    EXPECT_EQ(reader.Open(7, 23, v12, sealed), plain) << length;
    EXPECT_FALSE(reader.Open(8, 23, v12, sealed)) << "sequence";
    EXPECT_FALSE(reader.Open(7, 22, v12, sealed)) << "type";
    EXPECT_FALSE(reader.Open(7, 23, "\x03\x01", sealed)) << "version";
    for (const std::size_t at : {std::size_t{0}, std::size_t{8}, sealed.size() - 1}) {
      Bytes damaged = sealed;
      damaged[at] ^= 0x01;
      EXPECT_FALSE(reader.Open(7, 23, v12, damaged)) << length << " at " << at;
    }
  }
  for (std::size_t length = 0; length < kGcmRecordOverhead; ++length) {
    EXPECT_FALSE(reader.Open(0, 23, v12, Bytes(length, '\0'))) << length;
  }
  GcmRecordCipher unkeyed;
  EXPECT_FALSE(unkeyed.SetKey(Bytes(24, 'k'), "salt"));
  EXPECT_FALSE(unkeyed.SetKey(Bytes(16, 'k'), "salty"));
  EXPECT_EQ(unkeyed.Seal(0, 23, v12, "x"), "");
}

TEST(CbcRecord, ExplicitIvRoundTripOnContinuingChains) {
  AesContext writer;
  AesContext reader;
  writer.configure(256);
  reader.configure(256);
  writer.setEncryptKey(Bytes(32, 'K'), Bytes(16, '\0'));
  reader.setDecryptKey(Bytes(32, 'K'), Bytes(16, '\x55'));  // chains need not agree
  const Bytes macKey(20, 'm');
  const std::string_view v12{"\x03\x03", 2};
  for (std::uint64_t sequence = 0; sequence < 40; ++sequence) {
    const Bytes plain(sequence * 7, static_cast<char>('a' + sequence % 26));
    const Bytes sealed = SealCbcRecord(writer, macKey, sequence, 23, v12, plain, randomBytes(16));
    ASSERT_EQ(sealed.size() % 16, 0u);
    ASSERT_GE(sealed.size(), 16 + plain.size() + 21);
    EXPECT_EQ(OpenCbcRecord(reader, macKey, sequence, 23, v12, sealed), plain) << sequence;
  }
  // Damage anywhere, a wrong sequence, or a bad length is refused.
  Bytes sealed = SealCbcRecord(writer, macKey, 40, 23, v12, "hello", randomBytes(16));
  for (const std::size_t at : {std::size_t{3}, std::size_t{20}, sealed.size() - 1}) {
    AesContext copy = reader;
    Bytes damaged = sealed;
    damaged[at] ^= 0x80;
    EXPECT_FALSE(OpenCbcRecord(copy, macKey, 40, 23, v12, damaged)) << at;
  }
  AesContext copy = reader;
  EXPECT_FALSE(OpenCbcRecord(copy, macKey, 41, 23, v12, sealed));
  for (const std::size_t length : {0u, 16u, 32u, 47u, 49u}) {
    AesContext fresh = reader;
    EXPECT_FALSE(OpenCbcRecord(fresh, macKey, 0, 23, v12, Bytes(length, '\x10'))) << length;
  }
  EXPECT_EQ(OpenCbcRecord(reader, macKey, 40, 23, v12, sealed), "hello");
}

}  // namespace
}  // namespace qv
