// The first encrypted connect of the process says which AES path it runs on;
// later ones do not repeat it. Its own process, so no other connect came first.
#include <gtest/gtest.h>

#include "crypto/cpu_features.h"
#include "session/pbx_link.h"
#include "session/settings.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(CipherPathLog, FirstTlsConnectLogsTheAesPathOnce) {
  ProviderSettings settings = SettingsSnapshot();
  settings.loglevel = 9;
  ReplaceSettings(settings);
  const std::size_t mark = test::LogMark();
  for (int connect = 0; connect < 2; ++connect) {
    test::LoopbackPeer peer;
    PbxLink link;
    link.Attach(peer.TakeClient(), true, "pbx.example.com");
    link.SendRequest("<Probe/>");
    EXPECT_GE(peer.ReadRaw(5).size(), 5u);  // the ClientHello went out
    closeSocket(link.Detach());
  }
  const std::string log = test::LogSince(mark);
  const std::string expected = aesHardwareActive() ? "AES-NI on" : "AES-NI off";
  EXPECT_EQ(count(log, "AES-NI o"), 1u) << log;
  EXPECT_EQ(count(log, expected), 1u) << log;
}

}  // namespace
}  // namespace qv
