#pragma once
// The forgiving XML reader: a whole document in memory becomes a tree of
// element nodes, and a slash-separated path finds an element's text.
// Nothing is ever rejected; malformed input yields whatever could be read.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct XmlAttribute {
  std::string name;   // local name; the prefix is dropped ("xmlns:tns" -> "tns")
  std::string value;  // entity-decoded
};

// One element, held by value: copying a node copies its subtree.
struct XmlNode {
  std::string prefix;  // part of the qualified name before the first ':'
  std::string name;    // local name (the whole name when it has no ':')
  std::vector<XmlAttribute> attributes;
  std::vector<XmlNode> children;
  std::string text;  // own character data, untrimmed; always empty on the root
  bool caseSensitive = true;
};

// Levels of elements kept in a tree, the root counting as level 1. Deeper
// elements are still scanned (so their end tags balance) but are not stored,
// and neither is their text: a hostile document cannot exhaust the stack.
inline constexpr std::size_t kXmlMaxDepth = 256;

// What a parse had to leave out; for callers that want to log it.
struct XmlParseInfo {
  std::size_t skippedElements = 0;  // elements below kXmlMaxDepth that were dropped
};

// Parses a whole document; the result is the root element itself.
XmlNode parseXml(std::string_view text, bool caseSensitive, XmlParseInfo* info = nullptr);

// Text of the element reached from node's children by a path such as
// "callingDevice/deviceID"; empty when nothing matches.
std::string findText(const XmlNode& node, std::string_view path);
std::string findText(const XmlNode& node, const char* path);  // null is an empty path

// Resolves the five predefined entities and character references; anything
// else is left as written.
std::string decodeEntities(std::string_view text);

// The text with &, <, >, " and ' written as the predefined entities, for a
// value put into element content or an attribute.
std::string escapeXml(std::string_view text);

}  // namespace qv
