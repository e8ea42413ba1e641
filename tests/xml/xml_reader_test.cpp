#include <gtest/gtest.h>

#include <string>

#include "xml/byte_string.h"
#include "xml/xml_node.h"
#include "xml/xml_parse.h"

namespace qv {
namespace {

struct LookupCase {
  const char* document;
  const char* path;
  std::string expected;
  bool caseSensitive = true;
};

// Each row: the text a path finds in a parsed document.
TEST(XmlReaderTest, FindTextTable) {
  const LookupCase cases[] = {
      // Only the first sibling is followed; the path starts below the root.
      {"<r><a>1</a><a>2</a></r>", "a", "1"},
      {"<r><a>1</a><a>2</a></r>", "r", ""},
      {"<r><a><b>x</b></a><a><c>y</c></a></r>", "a/c", ""},  // no backtracking
      {"<csta:MakeCallResponse xmlns:csta='urn:example'><csta:callingDevice><csta:callID>17</csta:callID>"
       "</csta:callingDevice></csta:MakeCallResponse>",
       "callingDevice/callID", "17"},
      {"<r><a> x </a></r>", "a", " x "},
      {"<r><a>\n  <b>v</b>\n</a></r>", "a", "\n  \n"},  // a container keeps its whitespace
      {"<r><a>x &amp;lt; y</a></r>", "a", "x &lt; y"},
      {"<r><a><![CDATA[<b>&amp;</b>]]></a></r>", "a", "<b>&amp;</b>"},
      {"<r><a>1<![CDATA[&amp;]]>&amp;<!-- c -->2<?pi x?>3</a></r>", "a", "1&amp;&23"},
      {"<r><a>x</b></r>", "a", "x"},                      // any end tag closes
      {"<r><a>12", "a", ""},                              // cut short: text dropped
      {"<r><a>12</a", "a", "12"},                         // the end tag itself may be cut short
      {"<r><a>&am<![CDATA[]]>p;</a></r>", "a", "&amp;"},  // runs are decoded one by one
      // Path splitting: '/' separates only after a non-empty segment.
      {"<r><a><b>v</b></a></r>", "a/b", "v"},
      {"<r><a><b>v</b></a></r>", "a/b/", "v"},
      {"<r><a><b>v</b></a></r>", "/a/b", ""},
      {"<r><a><b>v</b></a></r>", "a//b", ""},
      {"<r><a><b>v</b></a></r>", "", ""},
      {"<r><a>v</a></r>", "A", ""},
      // Case folding applies to element names and path segments alike.
      {"<R><Sub>v</Sub></R>", "sub", "v", false},
      {"<R><Sub>v</Sub></R>", "SUB", "v", false},
      {"<R><Sub>v</Sub></R>", "Sub", "v", true},
      {"<R><Sub>v</Sub></R>", "sub", "", true},
      {"<R><Sub>V</Sub></R>", "sub", "V", false},  // text keeps its case
  };
  for (const LookupCase& c : cases) {
    XmlNode root = parseXml(c.document, c.caseSensitive);
    EXPECT_EQ(findText(root, c.path), c.expected) << c.document << " / " << c.path;
  }
  XmlNode folded = parseXml("<r><a><b/></a></r>", false);
  EXPECT_FALSE(folded.children[0].children[0].caseSensitive);  // inherited by every node
  EXPECT_EQ(findText(folded, static_cast<const char*>(nullptr)), "");
}

TEST(XmlReaderTest, QualifiedNamesAndAttributes) {
  XmlNode root = parseXml(
      "<csta:MakeCallResponse xmlns:csta='urn:example' xmlns=\"urn:d\" "
      "a:b:c='q'><x/></csta:MakeCallResponse>",
      true);
  EXPECT_EQ(root.prefix, "csta");
  EXPECT_EQ(root.name, "MakeCallResponse");
  ASSERT_EQ(root.attributes.size(), 3u);
  EXPECT_EQ(root.attributes[0].name, "csta");
  EXPECT_EQ(root.attributes[0].value, "urn:example");
  EXPECT_EQ(root.attributes[1].name, "xmlns");
  EXPECT_EQ(root.attributes[2].name, "b:c");  // cut at the first ':'
  EXPECT_TRUE(root.text.empty());

  XmlNode deep = parseXml("<a:b:c/>", true);
  EXPECT_EQ(deep.prefix, "a");
  EXPECT_EQ(deep.name, "b:c");
}

TEST(XmlReaderTest, AttributeForms) {
  XmlNode root = parseXml("<r><a b='1' c=\"2\" d=3 /><e f=\"it's\" g='say \"hi\"' h='&lt;&#65;'/></r>", true);
  ASSERT_EQ(root.children.size(), 2u);
  const XmlNode& a = root.children[0];
  ASSERT_EQ(a.attributes.size(), 3u);
  EXPECT_EQ(a.attributes[0].name, "b");
  EXPECT_EQ(a.attributes[0].value, "1");
  EXPECT_EQ(a.attributes[1].value, "2");
  EXPECT_EQ(a.attributes[2].name, "d");
  EXPECT_EQ(a.attributes[2].value, "3");  // the space ends an unquoted value; "/>" closes a
  EXPECT_TRUE(a.children.empty());
  const XmlNode& e = root.children[1];
  ASSERT_EQ(e.attributes.size(), 3u);
  EXPECT_EQ(e.attributes[0].value, "it's");
  EXPECT_EQ(e.attributes[1].value, "say \"hi\"");
  EXPECT_EQ(e.attributes[2].value, "<A");

  // Duplicates are kept; an unquoted value swallows markup up to whitespace.
  XmlNode dup = parseXml("<r a='1' a='2'><b c=x/>\n><d/></b></r>", true);
  ASSERT_EQ(dup.attributes.size(), 2u);
  EXPECT_EQ(dup.attributes[1].value, "2");
  ASSERT_EQ(dup.children.size(), 1u);
  ASSERT_EQ(dup.children[0].attributes.size(), 1u);
  EXPECT_EQ(dup.children[0].attributes[0].value, "x/>");
  EXPECT_EQ(dup.children[0].children.size(), 1u);  // so <d/> is b's child

  XmlNode folded = parseXml("<R Xmlns:ABC='V'/>", false);
  ASSERT_EQ(folded.attributes.size(), 1u);
  EXPECT_EQ(folded.attributes[0].name, "abc");
  EXPECT_EQ(folded.attributes[0].value, "V");
  EXPECT_EQ(folded.name, "r");
}

// Malformed attributes swallow the rest of the document.
TEST(XmlReaderTest, MalformedAttributeSwallowsTheRest) {
  const char* cases[] = {
      "<r><a b = '1'>t</a><c/></r>",  // space before '='
      "<r><a b='1>t</a><c/></r>",     // no closing quote
      "<r><a b=1>t</a><c/></r>",      // unquoted value without whitespace
      "<r><a 1='x'>t</a><c/></r>",    // not a name
      "<r><a b>t</a><c/></r>",        // no '='
      "<r><a b=",                     // nothing after '='
  };
  for (const char* doc : cases) {
    XmlNode root = parseXml(doc, true);
    ASSERT_EQ(root.children.size(), 1u) << doc;
    const XmlNode& a = root.children[0];
    EXPECT_EQ(a.name, "a") << doc;
    EXPECT_TRUE(a.attributes.empty()) << doc;
    EXPECT_TRUE(a.text.empty()) << doc;
    EXPECT_TRUE(a.children.empty()) << doc;
  }
}

TEST(XmlReaderTest, DocumentLevel) {
  XmlNode r = parseXml("<?xml version='1.0'?><!-- c --><r/>", true);
  EXPECT_EQ(r.name, "r");
  EXPECT_TRUE(r.children.empty());

  XmlNode empty = parseXml("</r><a/>", true);
  EXPECT_EQ(empty.name, "");
  EXPECT_TRUE(empty.children.empty());

  XmlNode doctype = parseXml("<!DOCTYPE r><r><a/></r>", true);
  EXPECT_EQ(doctype.name, "");
  EXPECT_TRUE(doctype.children.empty());
  EXPECT_TRUE(doctype.attributes.empty());

  // Root text and document-level text are dropped.
  XmlNode text = parseXml("junk<r>own<a>v</a>more</r>tail", true);
  EXPECT_EQ(text.name, "r");
  EXPECT_TRUE(text.text.empty());
  EXPECT_EQ(findText(text, "a"), "v");

  // A second top-level element merges into the root.
  XmlNode two = parseXml("<p:r x='1'><a/></p:r><s y='2'><b/></s>", true);
  EXPECT_EQ(two.prefix, "");
  EXPECT_EQ(two.name, "s");
  ASSERT_EQ(two.attributes.size(), 2u);
  ASSERT_EQ(two.children.size(), 2u);
  EXPECT_EQ(two.children[1].name, "b");

  // "<!-->" does not end itself; "<?>" neither.
  EXPECT_EQ(parseXml("<!--><r/>--><s/>", true).name, "s");
  EXPECT_EQ(parseXml("<?><r/>?><s/>", true).name, "s");
  EXPECT_EQ(parseXml("<!-- open <r/>", true).name, "");
  EXPECT_EQ(parseXml("", true).name, "");
  EXPECT_EQ(parseXml("no markup", true).name, "");
}

TEST(XmlReaderTest, ContentMarkup) {
  XmlNode root = parseXml("<r><a><![CDATA[<b>&amp;</b>]]></a><c>x<!-- <d/> -->y<? <e/> ?>z</c></r>", true);
  ASSERT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.children[0].text, "<b>&amp;</b>");
  EXPECT_TRUE(root.children[0].children.empty());
  EXPECT_EQ(root.children[1].text, "xyz");
  EXPECT_TRUE(root.children[1].children.empty());

  // Unterminated sections consume the rest of the input.
  XmlNode cdata = parseXml("<r><a>x<![CDATA[y</a><b/></r>", true);
  ASSERT_EQ(cdata.children.size(), 1u);
  EXPECT_TRUE(cdata.children[0].text.empty());
  EXPECT_EQ(parseXml("<r><a>x<!-- y</a><b/></r>", true).children.size(), 1u);
  EXPECT_EQ(parseXml("<r><a>x<? y</a><b/></r>", true).children.size(), 1u);

  // Text is bytes: zero bytes and invalid UTF-8 pass through.
  std::string raw("<r><a>\0\xFF\xC3</a></r>", 18);
  EXPECT_EQ(findText(parseXml(raw, true), "a"), std::string("\0\xFF\xC3", 3));
}

TEST(XmlReaderTest, TruncatedDocuments) {
  XmlNode cut = parseXml("<r><a>12", true);
  ASSERT_EQ(cut.children.size(), 1u);
  EXPECT_EQ(cut.children[0].name, "a");
  EXPECT_TRUE(cut.children[0].text.empty());

  // Every element left open loses its text; closed ones keep theirs.
  XmlNode nested = parseXml("<r><a>1<b>2</b>3<c>4", true);
  ASSERT_EQ(nested.children.size(), 1u);
  const XmlNode& a = nested.children[0];
  EXPECT_TRUE(a.text.empty());
  ASSERT_EQ(a.children.size(), 2u);
  EXPECT_EQ(a.children[0].text, "2");
  EXPECT_TRUE(a.children[1].text.empty());

  XmlNode inTag = parseXml("<r><a x='1'", true);
  ASSERT_EQ(inTag.children.size(), 1u);
  EXPECT_EQ(inTag.children[0].attributes.size(), 1u);
  EXPECT_EQ(parseXml("<r", true).name, "r");
  EXPECT_EQ(parseXml("<", true).name, "");
}

struct EntityCase {
  std::string in, out;
};

TEST(XmlReaderTest, DecodeEntitiesTable) {
  using namespace std::string_literals;
  const EntityCase cases[] = {
      {"&apos;&quot;&amp;&lt;&gt;", "'\"&<>"},
      {"&amp;lt;", "&lt;"},  // never decoded twice
      {"&#65;&#x41;", "AA"},
      {"&#X41;", "\x29"},  // upper-case 'X' counts 0 and the rest is decimal: 4*10+1
      {"&#xE9;", "\xC3\xA9"},
      {"&#x20AC;", "\xE2\x82\xAC"},
      {"&#x1F600;", "\xF0\x9F\x98\x80"},
      {"&#x200000;", ""},
      {"&#x1FFFFF;", "\xF7\xBF\xBF\xBF"},
      {"&#xD800;", "\xED\xA0\x80"},  // surrogates are encoded all the same
      {"&#0;", "\0"s},
      {"&#;&#x;", "\0\0"s},
      {"&#1a;", "\x14"},       // 'a' counts 10 in decimal too
      {"&#4294967361;", "A"},  // 2^32 + 65 wraps to 65
      {"&#x7F;&#x80;&#x7FF;&#x800;", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
      {"&nbsp;", "&nbsp;"},
      {"AT&T", "AT&T"},
      {"AT&T;", "AT&T;"},
      {"& b;", "& b;"},
      {"&AMP;", "&AMP;"},
      {"a&", "a&"},
      {"&", "&"},
      {"&&amp;", "&&"},
      {"&a&amp;", "&a&"},                // the first name runs to the ';' and is unknown
      {"&#a&amp;", "\xF0\x98\xAA\x88"},  // "#a&amp" is one reference: 101000
      {"&amp", "&amp"},
      {"x&#x200000;&amp;y", "x&y"},  // a vanished reference does not hide the next one
      {"", ""},
  };
  for (const EntityCase& c : cases) EXPECT_EQ(decodeEntities(c.in), c.out) << c.in;
}

TEST(XmlReaderTest, NameCharacters) {
  struct Case {
    std::string input;
    std::size_t length;
  };
  const Case cases[] = {
      {"abc def", 3},
      {"a-b.c_9:d>", 9},
      {"9abc", 0},
      {"-abc", 0},
      {":a", 2},
      {"\xC3\xA9t\xC3\xA9=", 5},  // U+00E9
      {"\xC3\x97", 0},            // U+00D7 is not a name start
      {"a\xC3\x97", 1},           // nor a name character
      {"a\xC2\xB7", 3},           // U+00B7 only after the first character
      {"\xC2\xB7", 0},
      {"\xE4\xB8\xAD\xE6\x96\x87", 6},  // CJK
      {"\xF0\x90\x80\x80x", 5},         // U+10000
      {"a\xCC\x80", 3},                 // combining U+0300
      {"\xCC\x80", 0},
      {"a\x80", 1},                  // stray continuation byte ends the name
      {"a\xF8\x80\x80\x80\x80", 1},  // 11111xxx lead
      {"a\xE4\xB8", 1},              // cut short by the end
      {"\xE2\x80\x8C", 3},           // U+200C
      {"\xEF\xBF\xBE", 0},           // U+FFFE
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(readName(c.input), c.length) << hexEncode(c.input);

  EXPECT_EQ(decodeUtf8Char("\xF0\x9F\x98\x80").codePoint, 0x1F600u);
  EXPECT_EQ(decodeUtf8Char("\xF0\x9F\x98").length, 0u);
  EXPECT_TRUE(isNameStartChar(0xEFFFF));
  EXPECT_FALSE(isNameStartChar(0xF0000));
  EXPECT_TRUE(isNameChar(0x2040));
  EXPECT_FALSE(isNameStartChar(0x2040));

  XmlNode root = parseXml("<\xC3\xA9l\xC3\xA8ve><n\xC2\xB7x>v</n\xC2\xB7x></\xC3\xA9l\xC3\xA8ve>", true);
  EXPECT_EQ(root.name, "\xC3\xA9l\xC3\xA8ve");
  EXPECT_EQ(findText(root, "n\xC2\xB7x"), "v");
  // No whitespace between '<' and the name.
  EXPECT_EQ(parseXml("< r/>", true).name, "");
}

TEST(XmlReaderTest, SplitPathSegments) {
  struct Case {
    const char* path;
    std::vector<std::string_view> segments;
  };
  const Case cases[] = {
      {"", {}},       {"a", {"a"}},          {"a/b", {"a", "b"}}, {"a/b/", {"a", "b"}},
      {"/a", {"/a"}}, {"a//b", {"a", "/b"}}, {"//", {"/"}},       {"a//", {"a", "/"}},
      {"/", {"/"}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitPath(c.path), c.segments) << c.path;
}

}  // namespace
}  // namespace qv
