// Our server role against OpenSSL's and GnuTLS's clients on loopback.
#include <gtest/gtest.h>

#include <future>

#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/peer_files.h"
#include "tests/tls_interop/peer_process.h"
#include "tests/tls_interop/socket_driver.h"
#include "tls/certificate.h"
#include "tls/session_cache.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

using test::PeerProcess;
using test::SocketDriver;

struct Served {
  Bytes received;
  Bytes suite;
  bool handshakeDone = false;
  bool failed = false;
  bool closureAnswered = false;
};

// Accepts one connection, answers "ping" with "pong", closes with a closure
// alert and waits for the peer to go.
Served serveOne(SocketHandle listener, bool caching, const std::string& recordAs = {}) {
  Served served;
  if (!waitReadable(listener, 20000)) return served;
  const SocketHandle socket = acceptConnection(listener);
  TlsConnection tls(test::testLog("SERVER: "));
  tls.StartServer(caching);
  SocketDriver link(tls, socket);
  if (!recordAs.empty()) link.RecordAs(recordAs);
  served.received = link.PumpUntilContains("ping");
  if (served.received.find("ping") != Bytes::npos) {
    link.Send("pong\n");
    tls.SendCloseNotify();
    link.Send("");
    link.PumpUntilClosed(std::chrono::seconds(5));
  }
  served.suite = tls.CipherSuite();
  served.handshakeDone = tls.HandshakeDone();
  served.failed = tls.Failed();
  served.closureAnswered = tls.CloseNotifySent();
  return served;
}

class ServerInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    startNetworking();
    test::loadServerIdentity();
    ClearSessionCache();
    files_ = test::writePeerFiles(dir_);
    listener_ = listenTcp("127.0.0.1", 0, port_);
    ASSERT_NE(listener_, kInvalidSocket);
  }
  void TearDown() override {
    closeSocket(listener_);
    ClearOwnIdentity();
    ClearSessionCache();
    stopNetworking();
  }

  // Runs the client command against one served connection.
  Served Exchange(const std::string& command, std::string& output, bool caching = false,
                  const std::string& recordAs = {}) {
    auto server = std::async(std::launch::async, serveOne, listener_, caching, recordAs);
    const std::string file = (dir_ / ("client-" + std::to_string(runs_++) + ".txt")).string();
    {
      PeerProcess client(command, file, 20);
      client.Write("ping\n");
      const Served served = server.get();
      client.Wait();
      output = client.Output();
      return served;
    }
  }

  std::string OpenSslClient(const std::string& cipher, const std::string& extra = "") const {
    return "openssl s_client -tls1 -cipher " + cipher +
           "@SECLEVEL=0 -legacy_server_connect -connect 127.0.0.1:" + std::to_string(port_) + " " + extra;
  }
  std::string GnuTlsClient(const std::string& priority, const std::string& extra = "") const {
    return "gnutls-cli --insecure --priority NONE:+VERS-TLS1.0:+RSA:+COMP-NULL:+SIGN-ALL:" + priority +
           " -p " + std::to_string(port_) + " " + extra + " 127.0.0.1";
  }

  test::ScratchDir dir_;
  test::PeerFiles files_;
  std::uint16_t port_ = 0;
  SocketHandle listener_ = kInvalidSocket;
  int runs_ = 0;
};

TEST_F(ServerInterop, OpenSslClientBothAesSuites) {
  if (!test::commandExists("openssl")) GTEST_SKIP() << "no openssl";
  for (const std::string& cipher : {std::string("AES128-SHA"), std::string("AES256-SHA")}) {
    std::string output;
    const Served served = Exchange(OpenSslClient(cipher), output, false, "openssl-" + cipher + ".bin");
    EXPECT_TRUE(served.handshakeDone) << output;
    EXPECT_FALSE(served.failed);
    EXPECT_NE(served.received.find("ping"), Bytes::npos);
    EXPECT_NE(output.find("pong"), std::string::npos) << output;
    EXPECT_NE(output.find("Cipher is " + cipher), std::string::npos) << output;
  }
}

TEST_F(ServerInterop, OpenSslClientResumesWithSessionCaching) {
  if (!test::commandExists("openssl")) GTEST_SKIP() << "no openssl";
  const std::string session = (dir_ / "session.pem").string();
  std::string first;
  std::string second;
  test::LogCapture log;
  ASSERT_TRUE(Exchange(OpenSslClient("AES128-SHA", "-sess_out " + session), first, true).handshakeDone)
      << first;
  const Served resumed =
      Exchange(OpenSslClient("AES128-SHA", "-sess_in " + session), second, true, "openssl-resumption.bin");
  EXPECT_TRUE(resumed.handshakeDone);
  EXPECT_NE(second.find("Reused, "), std::string::npos) << second;
  EXPECT_NE(second.find("pong"), std::string::npos) << second;
  EXPECT_TRUE(log.contains("SERVER: Resuming session "));
}

TEST_F(ServerInterop, OpenSslClientClosureAnsweredOnce) {
  if (!test::commandExists("openssl")) GTEST_SKIP() << "no openssl";
  // The client's closure alert after ours is the answer; ours is not repeated.
  test::LogCapture log;
  std::string output;
  const Served served = Exchange(OpenSslClient("AES128-SHA"), output);
  EXPECT_TRUE(served.closureAnswered);
  EXPECT_EQ(log.count("SendAlert(0100)"), 1u);
}

TEST_F(ServerInterop, GnuTlsClientEverySuite) {
  if (!test::commandExists("gnutls-cli")) GTEST_SKIP() << "no gnutls-cli";
  struct Case {
    const char* priority;
    Bytes suite;
  };
  const Case cases[] = {
      {"+AES-128-CBC:+SHA1", Bytes("\x00\x2F", 2)},
      {"+AES-256-CBC:+SHA1", Bytes("\x00\x35", 2)},
      {"+ARCFOUR-128:+MD5", Bytes("\x00\x04", 2)},
      {"+ARCFOUR-128:+SHA1", Bytes("\x00\x05", 2)},
  };
  for (const Case& c : cases) {
    std::string output;
    const Served served =
        Exchange(GnuTlsClient(c.priority), output, false, "gnutls-" + hexEncode(c.suite) + ".bin");
    EXPECT_TRUE(served.handshakeDone) << c.priority << "\n" << output;
    EXPECT_EQ(served.suite, c.suite) << c.priority;
    EXPECT_NE(output.find("pong"), std::string::npos) << output;
  }
}

TEST_F(ServerInterop, GnuTlsClientResumes) {
  if (!test::commandExists("gnutls-cli")) GTEST_SKIP() << "no gnutls-cli";
  test::LogCapture log;
  // --resume connects, disconnects and resumes on a second connection.
  auto first = std::async(std::launch::async, [this] {
    if (!waitReadable(listener_, 20000)) return false;
    const SocketHandle socket = acceptConnection(listener_);
    TlsConnection tls(test::testLog());
    tls.StartServer(true);
    SocketDriver link(tls, socket);
    // Ends with the client's closure alert, which we answer.
    link.PumpUntil([&](const Bytes&) { return tls.CloseNotifySent() || tls.Failed(); });
    return tls.HandshakeDone();
  });
  PeerProcess client(GnuTlsClient("+AES-128-CBC:+SHA1", "--resume"), dir_ / "gnutls-resume.txt", 20);
  EXPECT_TRUE(first.get());
  client.Write("ping\n");
  const Served resumed = serveOne(listener_, true);
  client.Wait();
  EXPECT_TRUE(resumed.handshakeDone);
  EXPECT_NE(client.Output().find("This is a resumed session"), std::string::npos) << client.Output();
  EXPECT_TRUE(log.contains("Resuming session "));
}

}  // namespace
}  // namespace qv
