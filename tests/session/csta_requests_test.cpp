// Request templates byte for byte, and the frame around them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/csta_frame.h"
#include "session/csta_requests.h"

namespace qv {
namespace {

std::string lines(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += item + "\r\n";
  return out;
}

TEST(CstaRequests, LoginIsTheFixedTemplateWithArgumentsEscaped) {
  const std::string expected = lines({
      "<?xml version=\"1.0\"?>",
      "<StartApplicationSession xmlns=\"http://www.ecma-international.org/standards/ecma-354/appl_session/\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">",
      " <applicationInfo>",
      "  <applicationID>Quorvel ONE TAPI service provider</applicationID>",
      "  <applicationSpecificInfo>",
      "   <tns:SessionLoginInfo xmlns:tns=\"http://www.quorvel.com/schemas/csta/login\">",
      "    <tns:userName>201</tns:userName>",
      "    <tns:password>a&amp;b&lt;c</tns:password>",
      "    <tns:domain>office</tns:domain>",
      "    <tns:sessionCleanupDelay>60</tns:sessionCleanupDelay>",
      "   </tns:SessionLoginInfo>",
      "  </applicationSpecificInfo>",
      " </applicationInfo>",
      " <requestedProtocolVersions>",
      "  <protocolVersion>http://www.ecma-international.org/standards/ecma-323/csta/ed3</protocolVersion>",
      "  <protocolVersion>http://www.ecma-international.org/standards/ecma-323/csta/ed4</protocolVersion>",
      "  <protocolVersion>http://www.ecma-international.org/standards/ecma-323/csta/ed5</protocolVersion>",
      " </requestedProtocolVersions>",
      " <requestedSessionDuration>1800</requestedSessionDuration>",
      "</StartApplicationSession>",
  });
  EXPECT_EQ(StartApplicationSessionXml("office", "201", "a&b<c"), expected);
}

TEST(CstaRequests, KeepAliveTemplate) {
  EXPECT_EQ(
      ResetApplicationSessionTimerXml(" s-1 "),
      lines({"<?xml version=\"1.0\"?>",
             "<ResetApplicationSessionTimer "
             "xmlns=\"http://www.ecma-international.org/standards/ecma-354/appl_session/\" "
             "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">",
             " <sessionID> s-1 </sessionID>", " <requestedSessionDuration>1800</requestedSessionDuration>",
             "</ResetApplicationSessionTimer>"}));
}

TEST(CstaRequests, MakeCallHasSixLinesWithoutAutoOriginateAndSevenWithIt) {
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<MakeCall xmlns=\"http://www.ecma-international.org/standards/ecma-323/csta/ed6\">\r\n"
      "<callingDevice>201@office</callingDevice>\r\n"
      "<calledDirectoryNumber>*97#</calledDirectoryNumber>\r\n";
  EXPECT_EQ(MakeCallXml("201@office", "*97#", ""), head + "</MakeCall>\r\n");
  EXPECT_EQ(MakeCallXml("201@office", "*97#", "doNotPrompt"),
            head + "<autoOriginate>doNotPrompt</autoOriginate>\r\n</MakeCall>\r\n");
}

TEST(CstaRequests, ClearConnectionAndMonitorStartTemplates) {
  EXPECT_EQ(
      ClearConnectionXml("", "201@office"),
      lines({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
             "<ClearConnection xmlns=\"http://www.ecma-international.org/standards/ecma-323/csta/ed6\">",
             "<connectionToBeCleared>", "<callID></callID>", "<deviceID>201@office</deviceID>",
             "</connectionToBeCleared>", "</ClearConnection>"}));
  EXPECT_EQ(MonitorStartXml("201@office"),
            lines({"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                   "<MonitorStart xmlns=\"http://www.ecma-international.org/standards/ecma-323/csta/ed6\">",
                   "<monitorObject>", "<deviceObject>201@office</deviceObject>", "</monitorObject>",
                   "<monitorType>device</monitorType>", "<requestedMonitorMediaClass>", "<voice>true</voice>",
                   "<im>true</im>", "</requestedMonitorMediaClass>", "</MonitorStart>"}));
}

TEST(CstaFrameBuild, HeaderCarriesLengthAndInvokeIdBigEndian) {
  struct Case {
    std::size_t xmlSize;
    std::uint32_t invokeId;
    std::string header;
  };
  const Case cases[] = {
      {0, 1, std::string("\x00\x00\x00\x08\x00\x00\x00\x01", 8)},
      {300, 2, std::string("\x00\x00\x01\x34\x00\x00\x00\x02", 8)},
      {65527, 0xA1B2C3D4u, std::string("\x00\x00\xFF\xFF\xA1\xB2\xC3\xD4", 8)},
  };
  for (const Case& c : cases) {
    std::string xml(c.xmlSize, 'x');
    auto frame = BuildCstaFrame(c.invokeId, xml);
    ASSERT_TRUE(frame) << c.xmlSize;
    EXPECT_EQ(frame->substr(0, 8), c.header) << c.xmlSize;
    EXPECT_EQ(frame->substr(8), xml);
  }
}

TEST(CstaFrameBuild, MessageBeyondTheLengthFieldIsRefused) {
  EXPECT_FALSE(BuildCstaFrame(1, std::string(65528, 'x')));
  EXPECT_FALSE(BuildCstaFrame(1, std::string(70000, 'x')));
}

}  // namespace
}  // namespace qv
