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

}  // namespace
}  // namespace qv
