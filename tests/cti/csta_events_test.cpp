// Call events as the PBX writes them (prefixed and default namespaces,
// editions 3 to 6) read into typed values; malformed ones are refused.
#include <gtest/gtest.h>

#include <string>

#include "session/csta_events.h"
#include "session/device_identifier.h"

namespace qv {
namespace {

ParsedCallEvent parse(const std::string& xml) { return ParseCallEvent(parseXml(xml, true)); }

constexpr char kEd5[] = "http://www.ecma-international.org/standards/ecma-323/csta/ed5";

TEST(CstaEventsTest, DeliveredWithPrefixCarriesPartiesNamesAndScope) {
  std::string xml =
      std::string("<?xml version=\"1.0\"?>\n<csta:DeliveredEvent xmlns:csta=\"") + kEd5 +
      "\">\n <csta:monitorCrossRefID>7</csta:monitorCrossRefID>\n"
      " <csta:connection><csta:callID> 1001 </csta:callID><csta:deviceID>201</csta:deviceID>"
      "</csta:connection>\n"
      " <csta:alertingDevice><csta:deviceIdentifier>201</csta:deviceIdentifier></csta:alertingDevice>\n"
      " <csta:callingDevice><csta:deviceIdentifier typeOfNumber=\"explicitPublic\">+4930555"
      "</csta:deviceIdentifier><csta:deviceName>Alice &amp; Co</csta:deviceName></csta:callingDevice>\n"
      " <csta:calledDevice><csta:deviceIdentifier>201</csta:deviceIdentifier></csta:calledDevice>\n"
      " <csta:lastRedirectionDevice><csta:notKnown/></csta:lastRedirectionDevice>\n"
      " <csta:localConnectionInfo>alerting</csta:localConnectionInfo>\n"
      " <csta:cause>newCall</csta:cause>\n</csta:DeliveredEvent>\n";
  ParsedCallEvent p = parse(xml);
  ASSERT_TRUE(p.isEvent);
  ASSERT_TRUE(p.valid) << p.problem;
  const CallEvent& e = p.event;
  EXPECT_EQ(e.kind, CallEventKind::kDelivered);
  EXPECT_EQ(e.eventName, "DeliveredEvent");
  EXPECT_EQ(e.callId, "1001");
  EXPECT_EQ(e.deviceId, "201");
  EXPECT_EQ(e.subject.deviceId, "201");
  EXPECT_EQ(e.calling.deviceId, "+4930555");
  EXPECT_EQ(e.calling.name, "Alice & Co");
  EXPECT_EQ(e.calling.scope, PartyScope::kExternal);
  EXPECT_EQ(e.called.deviceId, "201");
  EXPECT_TRUE(e.lastRedirection.notKnown);
  EXPECT_TRUE(e.lastRedirection.Present());
  EXPECT_EQ(e.localConnectionInfo, "alerting");
  EXPECT_EQ(e.cause, "newCall");
}

struct ShapeCase {
  const char* root;
  const char* connection;
  const char* subject;
  CallEventKind kind;
};

// Every event the line acts on, in the default namespace, with its own
// connection and acting-device element names.
TEST(CstaEventsTest, EachEventReadsItsOwnConnectionAndDevice) {
  const ShapeCase cases[] = {
      {"ServiceInitiatedEvent", "initiatedConnection", "initiatingDevice", CallEventKind::kServiceInitiated},
      {"OriginatedEvent", "originatedConnection", "originatingDevice", CallEventKind::kOriginated},
      {"DeliveredEvent", "connection", "alertingDevice", CallEventKind::kDelivered},
      {"EstablishedEvent", "establishedConnection", "answeringDevice", CallEventKind::kEstablished},
      {"HeldEvent", "heldConnection", "holdingDevice", CallEventKind::kHeld},
      {"RetrievedEvent", "retrievedConnection", "retrievingDevice", CallEventKind::kRetrieved},
      {"ConnectionClearedEvent", "droppedConnection", "releasingDevice", CallEventKind::kConnectionCleared},
      {"FailedEvent", "failedConnection", "failingDevice", CallEventKind::kFailed},
      {"DivertedEvent", "connection", "divertingDevice", CallEventKind::kDiverted},
      {"TransferedEvent", "primaryOldCall", "transferringDevice", CallEventKind::kTransferred},
      {"ConferencedEvent", "primaryOldCall", "conferencingDevice", CallEventKind::kConferenced},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.root);
    std::string xml = std::string("<") + c.root + " xmlns=\"" + kEd5 + "\"><" + c.connection +
                      "><callID>42</callID><deviceID>201</deviceID></" + c.connection + "><" + c.subject +
                      "><deviceIdentifier>305</deviceIdentifier></" + c.subject + "><cause>normal</cause></" +
                      c.root + ">";
    ParsedCallEvent p = parse(xml);
    ASSERT_TRUE(p.valid) << p.problem;
    EXPECT_EQ(p.event.kind, c.kind);
    EXPECT_EQ(p.event.callId, "42");
    EXPECT_EQ(p.event.deviceId, "201");
    EXPECT_EQ(p.event.subject.deviceId, "305");
    EXPECT_EQ(p.event.cause, "normal");
  }
}

TEST(CstaEventsTest, TransferNamesBothOldCallsTheTargetAndTheNewCall) {
  std::string xml =
      std::string("<ns2:TransferedEvent xmlns:ns2=\"") + kEd5 +
      "\"><ns2:primaryOldCall><ns2:callID>1</ns2:callID><ns2:deviceID>201</ns2:deviceID>"
      "</ns2:primaryOldCall><ns2:secondaryOldCall><ns2:callID>2</ns2:callID>"
      "<ns2:deviceID><ns2:staticID><ns2:deviceID>201</ns2:deviceID></ns2:staticID></ns2:deviceID>"
      "</ns2:secondaryOldCall>"
      "<ns2:transferringDevice><ns2:deviceIdentifier>201</ns2:deviceIdentifier></ns2:transferringDevice>"
      "<ns2:transferredToDevice><ns2:deviceIdentifier name=\"Bob\">305</ns2:deviceIdentifier>"
      "</ns2:transferredToDevice><ns2:transferredConnections><ns2:connectionListItem>"
      "<ns2:newConnection><ns2:callID>9</ns2:callID><ns2:deviceID>305</ns2:deviceID></ns2:newConnection>"
      "</ns2:connectionListItem></ns2:transferredConnections><ns2:cause>transfer</ns2:cause>"
      "</ns2:TransferedEvent>";
  ParsedCallEvent p = parse(xml);
  ASSERT_TRUE(p.valid) << p.problem;
  EXPECT_EQ(p.event.kind, CallEventKind::kTransferred);
  EXPECT_EQ(p.event.callId, "1");
  EXPECT_EQ(p.event.secondaryCallId, "2");
  EXPECT_EQ(p.event.subject.deviceId, "201");
  EXPECT_EQ(p.event.target.deviceId, "305");
  EXPECT_EQ(p.event.target.name, "Bob");
  EXPECT_EQ(p.event.newCallId, "9");
}

TEST(CstaEventsTest, DevicesWithoutIdentifierElementAndWithheldOnes) {
  ParsedCallEvent p = parse(
      "<EstablishedEvent><establishedConnection><callID>5</callID><deviceID>201</deviceID>"
      "</establishedConnection><answeringDevice> 201 </answeringDevice><callingDevice><restricted/>"
      "</callingDevice><networkCallingDevice><deviceIdentifier>x</deviceIdentifier></networkCallingDevice>"
      "</EstablishedEvent>");
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.event.subject.deviceId, "201");
  EXPECT_TRUE(p.event.calling.restricted);
  EXPECT_EQ(p.event.calling.deviceId, "");
  EXPECT_EQ(p.event.calling.scope, PartyScope::kExternal);
}

TEST(CstaEventsTest, UnknownEventsAreEventsTheLineDoesNotActOn) {
  ParsedCallEvent p =
      parse("<csta:CallInformationEvent xmlns:csta=\"x\"><csta:connection/></csta:CallInformationEvent>");
  EXPECT_TRUE(p.isEvent);
  EXPECT_TRUE(p.valid);
  EXPECT_EQ(p.event.kind, CallEventKind::kOther);
  EXPECT_EQ(p.event.eventName, "CallInformationEvent");
}

TEST(CstaEventsTest, ResponsesAndMalformedEvents) {
  EXPECT_FALSE(parse("<MakeCallResponse><callingDevice/></MakeCallResponse>").isEvent);
  EXPECT_FALSE(parse("<Event/>").isEvent) << "a bare name is no event";
  EXPECT_FALSE(parse("").isEvent);
  EXPECT_FALSE(parse("garbage <<<").isEvent);
  for (const char* xml :
       {"<DeliveredEvent/>", "<DeliveredEvent><connection><deviceID>201</deviceID></connection>",
        "<HeldEvent><connection><callID>1</callID></connection></HeldEvent>",
        "<FailedEvent><failedConnection><callID>   </callID></failedConnection></FailedEvent>"}) {
    SCOPED_TRACE(xml);
    ParsedCallEvent p = parse(xml);
    EXPECT_TRUE(p.isEvent);
    EXPECT_FALSE(p.valid);
    EXPECT_NE(p.problem.find("no callID"), std::string::npos);
  }
}

TEST(CstaEventsTest, DeviceIdentifierDialects) {
  struct Case {
    std::string id, number, name;
  };
  const Case cases[] = {
      {"201", "201", ""},
      {"201@office", "201@office", ""},
      {"SIP/hpbx-00000233", "SIP/hpbx-00000233", ""},
      {"N<201>;noa=nk", "201", ""},
      {"N<201>", "201", ""},
      {"N<+4930123456>Erika Mustermann;displayNumber=+4930123456", "+4930123456", "Erika Mustermann"},
      {"N<+4930123456>Erika Mustermann", "+4930123456", "Erika Mustermann"},
      {"305;noa=nk;x=1", "305", ""},
      {"a;b", "a;b", ""},
      {"N<unclosed", "N<unclosed", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    DeviceIdentifier d = ParseDeviceIdentifier(c.id);
    EXPECT_EQ(d.number, c.number);
    EXPECT_EQ(d.name, c.name);
  }
  // As the PBX writes them, escaped; an element's name wins over the dialect's.
  ParsedCallEvent p = parse(
      "<DeliveredEvent><connection><callID>7</callID><deviceID>N&lt;201&gt;;noa=nk</deviceID></connection>"
      "<alertingDevice><deviceIdentifier>N&lt;201&gt;;noa=nk</deviceIdentifier></alertingDevice>"
      "<callingDevice><deviceIdentifier>N&lt;+4930123456&gt;Erika Mustermann;displayNumber=+4930123456"
      "</deviceIdentifier></callingDevice><calledDevice><deviceIdentifier>N&lt;201&gt;Own</deviceIdentifier>"
      "<deviceName>Desk</deviceName></calledDevice></DeliveredEvent>");
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.event.deviceId, "N<201>;noa=nk") << "the connection keeps the PBX's spelling for requests";
  EXPECT_EQ(p.event.subject.deviceId, "201");
  EXPECT_EQ(p.event.calling.deviceId, "+4930123456");
  EXPECT_EQ(p.event.calling.name, "Erika Mustermann");
  EXPECT_EQ(p.event.called.name, "Desk");
}

TEST(CstaEventsTest, LongFieldsAreCut) {
  std::string id(5000, '7');
  ParsedCallEvent p =
      parse("<DeliveredEvent><connection><callID>" + id + "</callID></connection><callingDevice>" +
            "<deviceIdentifier>" + id + "</deviceIdentifier><name>" + id + "</name></callingDevice>" +
            "</DeliveredEvent>");
  ASSERT_TRUE(p.valid);
  EXPECT_EQ(p.event.callId.size(), kMaxCallEventField);
  EXPECT_EQ(p.event.calling.deviceId.size(), kMaxCallEventField);
  EXPECT_EQ(p.event.calling.name.size(), kMaxCallEventField);
}

}  // namespace
}  // namespace qv
