// The call-control requests: exact text in the layout of the other CSTA
// templates, and well-formed for an independent reader.
#include <gtest/gtest.h>

#include "session/csta_call_control.h"
#include "session/csta_requests.h"
#include "xml/xml_node.h"

namespace qv {
namespace {

TEST(CallControlXmlTest, AnswerCallText) {
  EXPECT_EQ(AnswerCallXml("1001", "201"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<AnswerCall xmlns=\"http://www.ecma-international.org/standards/ecma-323/csta/ed6\">\r\n"
            "<callToBeAnswered>\r\n<callID>1001</callID>\r\n<deviceID>201</deviceID>\r\n"
            "</callToBeAnswered>\r\n</AnswerCall>\r\n");
}

TEST(CallControlXmlTest, EveryRequestNamesItsConnectionAndTarget) {
  struct Case {
    std::string xml, root, connection, extra, extraValue;
  };
  const Case cases[] = {
      {HoldCallXml("1", "201"), "HoldCall", "callToBeHeld", "", ""},
      {RetrieveCallXml("1", "201"), "RetrieveCall", "callToBeRetrieved", "", ""},
      {SingleStepTransferCallXml("1", "201", "305"), "SingleStepTransferCall", "activeCall", "transferredTo",
       "305"},
      {DeflectCallXml("1", "201", "400"), "DeflectCall", "callToBeDiverted", "newDestination", "400"},
      {ClearConnectionXml("1", "201"), "ClearConnection", "connectionToBeCleared", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    XmlNode root = parseXml(c.xml, true);
    EXPECT_EQ(root.name, c.root);
    ASSERT_FALSE(root.attributes.empty());
    EXPECT_EQ(root.attributes[0].value, kCstaNamespace);
    EXPECT_EQ(findText(root, c.connection + "/callID"), "1");
    EXPECT_EQ(findText(root, c.connection + "/deviceID"), "201");
    if (!c.extra.empty()) {
      EXPECT_EQ(findText(root, c.extra), c.extraValue);
    }
    EXPECT_EQ(c.xml.substr(c.xml.size() - 2), "\r\n");
  }
}

// The requests about a held and an active call name both, in that order.
TEST(CallControlXmlTest, TwoCallRequestsNameTheHeldAndTheActiveCall) {
  struct Case {
    std::string xml, root;
  };
  const Case cases[] = {
      {TransferCallXml("1", "2", "201"), "TransferCall"},
      {ConferenceCallXml("1", "2", "201"), "ConferenceCall"},
      {AlternateCallXml("1", "2", "201"), "AlternateCall"},
      {ReconnectCallXml("1", "2", "201"), "ReconnectCall"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    XmlNode root = parseXml(c.xml, true);
    EXPECT_EQ(root.name, c.root);
    EXPECT_EQ(findText(root, "heldCall/callID"), "1");
    EXPECT_EQ(findText(root, "activeCall/callID"), "2");
    EXPECT_EQ(findText(root, "heldCall/deviceID"), "201");
    EXPECT_EQ(findText(root, "activeCall/deviceID"), "201");
    EXPECT_LT(c.xml.find("<heldCall>"), c.xml.find("<activeCall>"));
  }
}

// Values from the PBX and the store come back out of every document as they
// went in, and cannot add elements to it.
TEST(CallControlXmlTest, ValuesWithMarkupCharactersAreEscapedEverywhere) {
  const std::string v = "K&7<1>\"x'";
  const std::string injected = "1</callID><deviceID>999</deviceID><callID>";
  struct Case {
    std::string xml;
    std::string path;
  };
  const Case cases[] = {
      {AnswerCallXml(v, "201"), "callToBeAnswered/callID"},
      {AnswerCallXml(injected, "201"), "callToBeAnswered/callID"},
      {HoldCallXml("1", v), "callToBeHeld/deviceID"},
      {RetrieveCallXml(v, "201"), "callToBeRetrieved/callID"},
      {SingleStepTransferCallXml("1", "201", v), "transferredTo"},
      {DeflectCallXml("1", "201", v), "newDestination"},
      {ClearConnectionXml(injected, "201"), "connectionToBeCleared/callID"},
      {ClearConnectionXml("1", v), "connectionToBeCleared/deviceID"},
      {MakeCallXml(v, "1", ""), "callingDevice"},
      {MakeCallXml("201@office", v, ""), "calledDirectoryNumber"},
      {MonitorStartXml(v), "monitorObject/deviceObject"},
      {StartApplicationSessionXml(v, "u", "p"),
       "applicationInfo/applicationSpecificInfo/SessionLoginInfo/domain"},
      {StartApplicationSessionXml("d", v, "p"),
       "applicationInfo/applicationSpecificInfo/SessionLoginInfo/userName"},
      {StartApplicationSessionXml("d", "u", injected),
       "applicationInfo/applicationSpecificInfo/SessionLoginInfo/password"},
      {ResetApplicationSessionTimerXml(v), "sessionID"},
      {TransferCallXml(injected, "2", "201"), "heldCall/callID"},
      {ConferenceCallXml("1", v, "201"), "activeCall/callID"},
      {AlternateCallXml("1", "2", v), "activeCall/deviceID"},
      {ReconnectCallXml(injected, "2", "201"), "heldCall/callID"},
      {DirectedPickupCallXml(v, "201"), "callToBePickedUp/deviceID"},
      {GroupPickupCallXml(injected, "201"), "pickupGroup"},
      {GroupPickupCallXml("7", v), "newDestination"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    EXPECT_EQ(c.xml.find("<1>"), std::string::npos);
    EXPECT_EQ(c.xml.find("<deviceID>999"), std::string::npos);
    const std::string text = findText(parseXml(c.xml, true), c.path);
    EXPECT_TRUE(text == v || text == injected) << text;
  }
  EXPECT_EQ(escapeXml("201@office +49 (30) 1234-5678"), "201@office +49 (30) 1234-5678");
}

}  // namespace
}  // namespace qv
