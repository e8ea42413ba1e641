// Our client against the server configurations a customer's PBX may have
// (run_with_s_server.sh starts them: openssl s_server, gnutls-serv, Python's
// ssl module), in both builds: each TLS version setting logs in, or is
// refused where the server leaves it no way in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "tests/tls/tls_connection_test_peer.h"
#include "tests/tls_interop/s_server_client.h"
#include "tls/signature_schemes.h"

namespace qv {
namespace {

using test::SocketDriver;

std::uint16_t peerPort(const std::string& name) {
  const char* port = std::getenv(("QV_PEER_" + name).c_str());
  return port == nullptr || *port == '\0' ? 0 : static_cast<std::uint16_t>(std::stoi(port));
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The client certificate and key run_with_s_server.sh made as `kind`.
std::shared_ptr<const ClientCredentials> clientCredentials(const std::string& kind) {
  const char* dir = std::getenv("QV_PEER_CLIENT_DIR");
  if (dir == nullptr) return nullptr;
  const std::string base = std::string(dir) + "/" + kind;
  std::string error;
  auto credentials = ClientCredentialsFromPem(readText(base + ".pem") + readText(base + ".key"), &error);
  EXPECT_TRUE(credentials) << kind << ": " << error;
  return credentials ? std::make_shared<const ClientCredentials>(std::move(*credentials)) : nullptr;
}

struct Case {
  const char* peer;
  TlsVersionPolicy policy;
  std::uint16_t version;
  const char* suite;  // hex, or "" for any
  CertificateKey key;
  const char* clientCert;  // "" = none
  bool loggedIn;
};

constexpr auto k12 = TlsVersionPolicy::kTls12;
constexpr auto k13 = TlsVersionPolicy::kTls13;
constexpr auto kAuto = TlsVersionPolicy::kAuto;
using enum CertificateKey;

const Case kCases[] = {
    {"ECDSA256", k12, 0x0303, "c02b", kEcP256, "", true},
    {"ECDSA256", k13, 0x0304, "1301", kEcP256, "", true},
    {"ECDSA256", kAuto, 0x0304, "1301", kEcP256, "", true},
    {"ECDSA384", k12, 0x0303, "", kEcP384, "", true},
    {"ECDSA384", k13, 0x0304, "", kEcP384, "", true},
    {"RSAPSS", k12, 0x0303, "c02f", kRsaPss, "", true},
    {"RSAPSS", k13, 0x0304, "1301", kRsaPss, "", true},
    {"P256", k12, 0x0303, "c02f", kRsa, "", true},
    {"P256", k13, 0x0304, "1301", kRsa, "", true},
    {"CHACHA", k12, 0x0303, "cca8", kRsa, "", true},
    {"CHACHA", kAuto, 0x0304, "1303", kRsa, "", true},
    {"MTLS", k12, 0x0303, "", kRsa, "rsa", true},
    {"MTLS", k13, 0x0304, "", kRsa, "ecdsa256", true},
    {"MTLS", kAuto, 0x0304, "", kRsa, "rsa", true},
    {"MTLS", k13, 0x0304, "", kRsa, "", false},
    {"MTLS", k12, 0x0303, "", kRsa, "", false},
    {"GNUTLS", kAuto, 0x0304, "", kRsa, "", true},
    {"GNUTLS", k12, 0x0303, "", kRsa, "", true},
    {"GNUTLS_ECDSA256", kAuto, 0x0304, "", kEcP256, "", true},
    {"GNUTLS_ECDSA256", k12, 0x0303, "", kEcP256, "", true},
    {"GNUTLS_TLS13", k13, 0x0304, "", kRsa, "", true},
    {"GNUTLS_MTLS", k13, 0x0304, "", kRsa, "ecdsa256", true},
    {"GNUTLS_MTLS", k12, 0x0303, "", kRsa, "rsa", true},
    {"GNUTLS_MTLS", kAuto, 0x0304, "", kRsa, "", false},
    {"PYTHON", kAuto, 0x0304, "", kRsa, "", true},
    {"PYTHON", k12, 0x0303, "", kRsa, "", true},
    {"PYTHON_ECDSA384", kAuto, 0x0304, "", kEcP384, "", true},
};

// s_server (-rev) answers a line reversed; gnutls-serv and the Python server
// answer it as it came.
bool loginEchoed(SocketDriver& link, const std::string& peer) {
  const std::string line = "<StartApplicationSession/>";
  if (peer.starts_with("GNUTLS") || peer.starts_with("PYTHON")) {
    return link.Send(line + "\n") && link.PumpUntilContains(line).find(line) != Bytes::npos;
  }
  return test::echoesReversed(link, line);
}

TEST(ServerConfigurations, EachVersionSettingLogsInOrIsRefused) {
  if (peerPort("ECDSA256") == 0) GTEST_SKIP() << "no openssl s_server (run through run_with_s_server.sh)";
  ASSERT_TRUE(startNetworking());
  std::string absent;
  for (const Case& c : kCases) {
    // gnutls-serv and Python run only where the script has a network of its own.
    if (peerPort(c.peer) == 0) {
      if (absent.find(c.peer) == std::string::npos) absent += std::string(" ") + c.peer;
      continue;
    }
    SCOPED_TRACE(std::string(c.peer) + " policy " + std::to_string(static_cast<int>(c.policy)) + " client " +
                 c.clientCert);
    test::LogCapture log;
    TlsConnection tls;
    if (*c.clientCert != '\0') tls.SetClientCredentials(clientCredentials(c.clientCert));
    test::startInteropClient(tls, c.policy);
    SocketDriver link(tls, SocketDriver::Connect(peerPort(c.peer)));
    ASSERT_TRUE(link.Valid());
    EXPECT_EQ(loginEchoed(link, c.peer), c.loggedIn);
    if (c.loggedIn) {
      EXPECT_FALSE(tls.Failed());
      EXPECT_EQ(tls.NegotiatedVersion(), c.version);
      if (*c.suite != '\0') {
        EXPECT_EQ(hexEncode(tls.CipherSuite()), c.suite);
      }
      EXPECT_EQ(TlsConnectionTestPeer(tls).Handshake().peerCertificate.keyKind, c.key);
      tls.SendCloseNotify();
      link.Send("");
    } else {
      EXPECT_TRUE(tls.AlertReceived()) << log.text();
    }
  }
  stopNetworking();
  if (!absent.empty()) std::cout << "not started:" << absent << "\n";
}

}  // namespace
}  // namespace qv
