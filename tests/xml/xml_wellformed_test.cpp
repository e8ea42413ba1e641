// The strict check the event path uses: what it refuses, and that it names
// the fault.
#include <gtest/gtest.h>

#include <string>

#include "xml/xml_wellformed.h"

namespace qv {
namespace {

TEST(XmlWellFormed, RefusesWhatIsNoDocumentAndNamesTheFault) {
  struct Case {
    const char* doc;
    const char* problem;  // empty: well-formed
  };
  const Case cases[] = {
      {"<?xml version=\"1.0\"?>\r\n<a x='1' y=\"&amp;&#x41;&#65;\"><b/><!-- c --><![CDATA[<>]]>&lt;</a>\r\n",
       ""},
      {"<csta:DeliveredEvent xmlns:csta=\"urn:x\"><csta:connection/></csta:DeliveredEvent>", ""},
      {"<DeliveredEvent><connection><callID>1</callID><deviceID>201</deviceID>",
       "ends inside element <connection>"},
      {"<DeliveredEvent><connection><callID>BAD-2</deviceID></connection></DeliveredEvent>",
       "end tag </deviceID> does not match <callID>"},
      {"<DeliveredEvent><callingDevice>&bogus;</callingDevice></DeliveredEvent>",
       "undeclared entity &bogus;"},
      {"<a/><b/>", "a second root element"},
      {"<a>", "ends inside element <a>"},
      {"<a", "ends inside a start tag"},
      {"<a x=1/>", "unquoted value of attribute x"},
      {"<a x='1' x='2'/>", "attribute x given twice"},
      {"<a x='<'/>", "\"<\" in an attribute value"},
      {"<a>&#0;</a>", "character reference to no XML character"},
      {"<a>&amp</a>", "\"&\" that starts no reference"},
      {"<a>]]></a>", "\"]]>\" in character data"},
      {"<!DOCTYPE a [<!ENTITY bogus \"x\">]><a>&bogus;</a>", "document type declarations are not accepted"},
      {"text<a/>", "text outside the root element"},
      {"<a/>text", "text outside the root element"},
      {"", "no root element"},
      {"<a><!-- x -- y --></a>", "\"--\" inside a comment"},
      {"<a>\x01</a>", "a byte that is no XML character"},
      {"<:/>", "name : is no qualified name"},
      {"<a b:c:d='1'/>", "name b:c:d is no qualified name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    std::optional<std::string> problem = CheckWellFormedXml(c.doc);
    if (std::string(c.problem).empty()) {
      EXPECT_FALSE(problem) << *problem;
    } else {
      ASSERT_TRUE(problem);
      EXPECT_NE(problem->find(c.problem), std::string::npos) << *problem;
      EXPECT_NE(problem->find(" at byte "), std::string::npos);
    }
  }
}

TEST(XmlWellFormed, DeepNestingCostsNoRecursion) {
  std::string doc;
  for (int i = 0; i < 20000; ++i) doc += "<a>";
  for (int i = 0; i < 20000; ++i) doc += "</a>";
  EXPECT_FALSE(CheckWellFormedXml(doc));
}

}  // namespace
}  // namespace qv
