// tlsversion picks the hello the encrypted link sends.
#include <gtest/gtest.h>

#include "session/pbx_link.h"
#include "session/settings.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

// The client_version of the ClientHello the link sends first.
std::string helloVersionFor(const std::string& tlsversion) {
  ProviderSettings settings = SettingsSnapshot();
  settings.tlsversion = tlsversion;
  ReplaceSettings(settings);
  test::LoopbackPeer peer;
  PbxLink link;
  link.Attach(peer.TakeClient(), true, "pbx.example.com");
  link.SendRequest("<Probe/>");
  const std::string hello = peer.ReadRaw(11);
  closeSocket(link.Detach());
  settings.tlsversion = "1.0";
  ReplaceSettings(settings);
  // record header (5), handshake header (4), then the version
  return hello.size() >= 11 ? hexEncode(hello.substr(9, 2)) : "none";
}

TEST(PbxLinkTls, TlsVersionSettingChoosesTheHello) {
  const std::size_t mark = test::LogMark();
  EXPECT_EQ(helloVersionFor("1.0"), "0301");
  EXPECT_EQ(helloVersionFor("1.2"), "0303");
  EXPECT_EQ(helloVersionFor("auto"), "0303");
  // TLS 1.3 hellos keep 1.2 in client_version (RFC 8446 4.1.2).
  EXPECT_EQ(helloVersionFor("1.3"), "0303");
  EXPECT_EQ(test::LogSince(mark).find("tlsversion"), std::string::npos);
  EXPECT_EQ(helloVersionFor("1.4"), "0301");
  EXPECT_NE(test::LogSince(mark).find("Unknown tlsversion '1.4', using 1.0"), std::string::npos);
}

}  // namespace
}  // namespace qv
