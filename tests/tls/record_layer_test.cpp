#include <gtest/gtest.h>

#include <functional>

#include "tests/tls/tls_test_util.h"
#include "tls/cipher_suites.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

using test::record;
using test::splitRecords;

// Two ends keyed for the suite as if a handshake had just finished.
struct KeyedPair {
  TlsConnection client{test::testLog()};
  TlsConnection server{test::testLog()};
};

void keyedPair(KeyedPair& pair, std::string_view suite) {
  TlsConnectionTestPeer(pair.client).InstallKeys(TlsRole::kClient, suite);
  TlsConnectionTestPeer(pair.server).InstallKeys(TlsRole::kServer, suite);
}

const std::string_view kAes128{"\x00\x2F", 2};
const std::string_view kAes256{"\x00\x35", 2};
const std::string_view kRc4Md5{"\x00\x04", 2};
const std::string_view kRc4Sha{"\x00\x05", 2};

TEST(RecordFraming, SplitRecordWaitsForLastByteAndSeveralAreProcessedInOrder) {
  KeyedPair pair;
  keyedPair(pair, kRc4Sha);
  const Bytes one = pair.client.SendApplicationData("hello ");
  const Bytes two = pair.client.SendApplicationData("world");
  const Bytes both = one + two;
  TlsConnection& connection = pair.server;
  for (std::size_t k = 0; k + 1 < one.size(); ++k) {
    EXPECT_EQ(connection.ReceiveBytes(both.substr(k, 1)), "") << k;
  }
  EXPECT_EQ(connection.ReceiveBytes(both.substr(one.size() - 1)), "hello world");
  EXPECT_TRUE(TlsConnectionTestPeer(connection).ReceiveBuffer().empty());
}

TEST(RecordFraming, UnknownTypeIsLoggedAndSkipped) {
  test::LogCapture log;
  TlsConnection connection(test::testLog("T: "));
  connection.ReceiveBytes(record(99, "x") + record(kContentAlert, "\x01\x2A"));
  EXPECT_TRUE(log.contains("T: Received unknown type 99 on record layer"));
  EXPECT_TRUE(log.contains("T: Alert(1, 42)"));
  EXPECT_FALSE(connection.Failed());
}

TEST(RecordFraming, OversizedLengthIsRecordOverflowBeforeBuffering) {
  struct Case {
    std::size_t length;
    bool overflow;
  };
  for (const Case c : {Case{16384 + 2048, false}, Case{16384 + 2049, true}, Case{0xFFFF, true}}) {
    test::LogCapture log;
    TlsConnection connection(test::testLog());
    TlsConnectionTestPeer peer(connection);
    Bytes header = Bytes("\x17\x03\x01", 3) + uintToBytes(static_cast<std::uint32_t>(c.length), 2);
    connection.ReceiveBytes(header + "partial");
    EXPECT_EQ(connection.Failed(), c.overflow) << c.length;
    if (c.overflow) {
      EXPECT_EQ(peer.Outgoing(), record(kContentAlert, "\x02\x16"));
      EXPECT_TRUE(peer.ReceiveBuffer().empty());
      EXPECT_TRUE(log.contains("Record too long"));
      // Nothing more is kept once failed.
      connection.ReceiveBytes(Bytes(100000, 'z'));
      EXPECT_TRUE(peer.ReceiveBuffer().empty());
    } else {
      EXPECT_EQ(peer.ReceiveBuffer().size(), header.size() + 7);
    }
  }
}

TEST(RecordFraming, SendAlertWithoutVersionUsesTls10) {
  TlsConnection connection;
  TlsConnectionTestPeer peer(connection);
  peer.SendAlert(kAlertBadRecordMac, kAlertFatal);
  EXPECT_EQ(peer.Outgoing(), record(kContentAlert, "\x02\x14"));
  EXPECT_EQ(peer.Version(), kVersionTls10);
  EXPECT_TRUE(connection.Failed());
}

TEST(Alerts, ClosureAnsweredOnceOthersOnlyLogged) {
  test::LogCapture log;
  TlsConnection connection(test::testLog("CSTA: "));
  connection.ReceiveBytes(record(kContentAlert, Bytes("\x01\x00", 2)));
  EXPECT_EQ(connection.SendApplicationData(""), record(kContentAlert, Bytes("\x01\x00", 2)));
  EXPECT_TRUE(connection.CloseNotifySent());
  EXPECT_TRUE(connection.PeerClosed());
  EXPECT_FALSE(connection.Failed());
  connection.ReceiveBytes(record(kContentAlert, Bytes("\x01\x00", 2)));
  EXPECT_EQ(connection.SendApplicationData(""), "");
  EXPECT_EQ(log.count("CSTA: Received closure alert"), 2u);

  connection.ReceiveBytes(record(kContentAlert, "\x02\x28") + record(kContentAlert, "\x01") +
                          record(kContentAlert, "\x01\x2A"));
  EXPECT_TRUE(log.contains("CSTA: Alert(2, 40)"));
  EXPECT_TRUE(log.contains("CSTA: Alert(1, 42)"));
  EXPECT_TRUE(connection.AlertReceived());
  EXPECT_FALSE(connection.Failed());
}

TEST(ProtectedRecords, EverySuiteRoundTripsInBothDirections) {
  for (std::string_view suite : {kAes128, kAes256, kRc4Md5, kRc4Sha}) {
    KeyedPair pair;
    keyedPair(pair, suite);
    const Bytes message = "INVOKE" + Bytes(3000, '\x7F') + Bytes(1, '\0');
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(pair.server.ReceiveBytes(pair.client.SendApplicationData(message)), message);
      EXPECT_EQ(pair.client.ReceiveBytes(pair.server.SendApplicationData(message)), message);
    }
    EXPECT_FALSE(pair.client.Failed() || pair.server.Failed()) << hexEncode(suite);
  }
}

TEST(ProtectedRecords, AesOneByteFragmentHasMacAndTenPaddingBytes) {
  KeyedPair pair;
  keyedPair(pair, kAes128);
  const Bytes wire = pair.client.SendApplicationData("x");
  const auto records = splitRecords(wire);
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].fragment.size(), 32u);
  // Decrypt with the server's read state to see the padding.
  Bytes plain = TlsConnectionTestPeer(pair.server).Read().aes.decryptCbc(records[0].fragment);
  EXPECT_EQ(plain.substr(21), Bytes(11, '\x0A'));
  EXPECT_EQ(
      plain.substr(1, 20),
      TlsConnectionTestPeer(pair.client).ComputeRecordMac(true, kContentApplicationData, "\x03\x01", 0, "x"));
}

TEST(ProtectedRecords, LongDataIsFragmentedAt16384WithOwnSequenceNumbers) {
  KeyedPair pair;
  keyedPair(pair, kRc4Sha);
  const Bytes data(16385, 'd');
  const Bytes wire = pair.client.SendApplicationData(data);
  const auto records = splitRecords(wire);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].fragment.size(), 16384u + 20);
  EXPECT_EQ(records[1].fragment.size(), 1u + 20);
  EXPECT_EQ(TlsConnectionTestPeer(pair.client).Write().sequence, 2u);
  EXPECT_EQ(pair.server.ReceiveBytes(wire), data);
}

TEST(ProtectedRecords, NothingLeavesBeforeTheHandshakeIsDone) {
  TlsConnection client;
  client.StartClient();
  const Bytes first = client.SendApplicationData("login");
  const auto records = splitRecords(first);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, kContentHandshake);
  EXPECT_EQ(client.SendApplicationData(""), "");
  EXPECT_EQ(TlsConnectionTestPeer(client).PendingPlaintext(), "login");
}

// A record whose protection is damaged in the given way.
using Damage = std::function<Bytes(Bytes wire)>;

TEST(ProtectedRecords, DamagedRecordsAreBadRecordMacAndStopProcessing) {
  struct Case {
    const char* name;
    std::string_view suite;
    Damage damage;
  };
  const auto flipLast = [](Bytes wire) {
    wire.back() ^= 0x01;
    return wire;
  };
  const auto flipFirstPayload = [](Bytes wire) {
    wire[5] ^= 0x40;
    return wire;
  };
  const auto cutBlock = [](Bytes wire) {
    // Drop 5 bytes of ciphertext and fix the length: not whole blocks.
    wire.resize(wire.size() - 5);
    const Bytes length = uintToBytes(static_cast<std::uint32_t>(wire.size() - 5), 2);
    wire.replace(3, 2, length);
    return wire;
  };
  const auto tooShort = [](Bytes wire) { return record(kContentApplicationData, wire.substr(5, 16)); };
  const auto emptyFragment = [](Bytes) { return record(kContentApplicationData, ""); };
  const Case cases[] = {
      {"aes flipped last byte", kAes128, flipLast}, {"aes flipped first byte", kAes256, flipFirstPayload},
      {"rc4 flipped mac", kRc4Md5, flipLast},       {"rc4 flipped data", kRc4Sha, flipFirstPayload},
      {"aes partial block", kAes128, cutBlock},     {"aes single block", kAes128, tooShort},
      {"rc4 shorter than mac", kRc4Sha, tooShort},  {"aes empty fragment", kAes128, emptyFragment},
  };
  for (const Case& c : cases) {
    test::LogCapture log;
    KeyedPair pair;
    keyedPair(pair, c.suite);
    const Bytes good = pair.client.SendApplicationData("first");
    const Bytes bad = c.damage(pair.client.SendApplicationData("second"));
    const Bytes after = pair.client.SendApplicationData("third");
    EXPECT_EQ(pair.server.ReceiveBytes(good + bad + after), "first") << c.name;
    EXPECT_TRUE(pair.server.Failed()) << c.name;
    const auto sent = splitRecords(pair.server.SendApplicationData(""));
    ASSERT_EQ(sent.size(), 1u) << c.name;
    EXPECT_EQ(sent[0].type, kContentAlert);
    EXPECT_TRUE(log.contains("Bad Record Mac")) << c.name;
    EXPECT_EQ(pair.server.ReceiveBytes(pair.client.SendApplicationData("fourth")), "") << c.name;
  }
}

// Builds an AES record with the padding the test chooses, encrypted and
// MACed correctly so only the padding is wrong.
Bytes recordWithPadding(TlsConnection& sender, std::string_view plain, const Bytes& padding) {
  TlsConnectionTestPeer peer(sender);
  const std::uint64_t number = peer.Write().sequence++;
  Bytes fragment =
      Bytes(plain) + peer.ComputeRecordMac(true, kContentApplicationData, "\x03\x01", number, plain);
  fragment += padding;
  return record(kContentApplicationData, peer.Write().aes.encryptCbc(fragment));
}

TEST(ProtectedRecords, PaddingIsChecked) {
  struct Case {
    const char* name;
    std::size_t plainLength;
    Bytes padding;
    bool accepted;
  };
  const Case cases[] = {
      // 11 + 20 + 1 = 32: no padding bytes, length byte 0.
      {"zero padding", 11, Bytes(1, '\0'), true},
      {"longer legal padding", 11, Bytes(17, '\x10'), true},
      {"padding bytes differ", 11, Bytes(15, '\x10') + Bytes("\x11\x10"), false},
      {"padding length beyond fragment", 11, Bytes(16, '\x01') + Bytes(1, '\xFF'), false},
  };
  for (const Case& c : cases) {
    KeyedPair pair;
    keyedPair(pair, kAes128);
    const Bytes wire = recordWithPadding(pair.client, Bytes(c.plainLength, 'p'), c.padding);
    const Bytes received = pair.server.ReceiveBytes(wire);
    EXPECT_EQ(received == Bytes(c.plainLength, 'p'), c.accepted) << c.name;
    EXPECT_EQ(pair.server.Failed(), !c.accepted) << c.name;
  }
}

TEST(ProtectedRecords, Ssl3MacDependsOnlyOnContentNotVersion) {
  TlsConnection connection;
  TlsConnectionTestPeer peer(connection);
  peer.Version() = kVersionSsl30;
  peer.Read().mac = MacKind::kSha1;
  peer.Read().macSecret = Bytes(20, 'k');
  const Bytes a = peer.ComputeRecordMac(false, 23, Bytes("\x03\x00", 2), 0, "data");
  const Bytes b = peer.ComputeRecordMac(false, 23, Bytes("\x03\x01", 2), 0, "data");
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.size(), 20u);
  peer.Version() = kVersionTls10;
  EXPECT_NE(peer.ComputeRecordMac(false, 23, Bytes("\x03\x00", 2), 0, "data"),
            peer.ComputeRecordMac(false, 23, Bytes("\x03\x01", 2), 0, "data"));
}

}  // namespace
}  // namespace qv
