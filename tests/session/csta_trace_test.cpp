// The trace of outgoing requests never shows the login's password; the
// bytes sent still carry it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/csta_requests.h"
#include "session/csta_trace.h"
#include "session/pbx_link.h"
#include "tests/session/loopback_peer.h"
#include "tests/session/session_test_env.h"

namespace qv {
namespace {

std::string replaced(std::string text, const std::string& what, const std::string& with) {
  std::size_t at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), with);
  return text;
}

TEST(CstaTrace, LoginPasswordIsMaskedAndEverythingElseKept) {
  for (const std::string& password :
       std::vector<std::string>{"s3cr3t", "", "a&b<c", "x</tns:password>leak", "</tns:password>"}) {
    const std::string xml = StartApplicationSessionXml("office", "201", password);
    const std::string masked = StartApplicationSessionXml("office", "201", "********");
    std::string trace = TraceText(xml);
    if (password.find("</tns:password>") == std::string::npos) {
      EXPECT_EQ(trace, masked) << password;
    } else {
      EXPECT_EQ(trace.find("leak"), std::string::npos) << password;
      EXPECT_NE(trace.find("<tns:password>********</tns:password>"), std::string::npos) << trace;
    }
  }
}

TEST(CstaTrace, OtherTextIsUnchangedAndOtherPrefixesAreFound) {
  for (const std::string& xml :
       {MakeCallXml("201@office", "0301234", "doNotPrompt"), ClearConnectionXml("C1", "201"),
        ResetApplicationSessionTimerXml("S"), std::string("<password>p</password>"),
        std::string("<a xmlns:tns=\"other\"><tns:password>p</tns:password></a>")}) {
    EXPECT_EQ(TraceText(xml), xml);
  }
  const std::string login(kLoginNamespace);
  EXPECT_EQ(TraceText("<l:Info xmlns:l=\"" + login + "\"><l:password>pw</l:password></l:Info>"),
            "<l:Info xmlns:l=\"" + login + "\"><l:password>********</l:password></l:Info>");
  EXPECT_EQ(TraceText("<Info xmlns=\"" + login + "\"><password>pw</password></Info>"),
            "<Info xmlns=\"" + login + "\"><password>********</password></Info>");
  EXPECT_EQ(TraceText("<Info xmlns=\"" + login + "\"><password>unclosed"),
            "<Info xmlns=\"" + login + "\"><password>********");
}

TEST(CstaTrace, SentLoginCarriesThePasswordAndTheLogDoesNot) {
  test::LoopbackPeer peer;
  ASSERT_TRUE(peer.Ok());
  pbxLink().Attach(peer.TakeClient(), false, "office");
  std::size_t mark = test::LogMark();
  SendStartApplicationSession("office", "201", "Top-Secret-9");
  auto frame = peer.NextFrame();
  closeSocket(pbxLink().Detach());
  ASSERT_TRUE(frame);
  const std::string xml = StartApplicationSessionXml("office", "201", "Top-Secret-9");
  EXPECT_EQ(frame->xml, xml) << "the bytes sent are unchanged";
  std::string log = test::LogSince(mark);
  EXPECT_EQ(log.find("Top-Secret-9"), std::string::npos);
  EXPECT_NE(log.find("]:5 CSTA Tx: " + replaced(xml, "Top-Secret-9", "********")), std::string::npos) << log;
}

}  // namespace
}  // namespace qv
