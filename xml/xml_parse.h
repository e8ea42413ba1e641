#pragma once
// Building blocks of the XML reader. Each takes the remaining input from the
// current position and says how many bytes it consumed.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_node.h"

namespace qv {

struct Utf8Char {
  char32_t codePoint = 0;
  std::size_t length = 0;  // 0: the input does not start with a complete sequence
};

Utf8Char decodeUtf8Char(std::string_view input);
bool isNameStartChar(char32_t c);
bool isNameChar(char32_t c);
// Length of the XML name at the start of input (0 when there is none).
std::size_t readName(std::string_view input);

void splitQualifiedName(std::string_view qname, bool caseSensitive, std::string& prefix, std::string& name);

// Appends the entity-decoded form of text to out.
void appendDecodedEntities(std::string& out, std::string_view text);

// One attribute; appended to attributes unless that is null (end tags).
std::size_t parseAttribute(std::string_view input, bool caseSensitive, std::vector<XmlAttribute>* attributes);

struct TagResult {
  std::size_t consumed = 0;
  std::string_view closing;    // "/>", ">" or empty when the input ended inside the tag
  std::size_t nameLength = 0;  // bytes of the qualified name as written
};

// Name, attributes and the tag's end. With a null node (end tags, dropped
// elements) everything is read and thrown away.
TagResult parseTag(std::string_view input, bool caseSensitive, XmlNode* node);

// Content of an element at nesting level depth (root = 1) up to and including
// its end tag. A null text drops the element's own character data.
std::size_t parseContent(std::string_view input, bool caseSensitive, std::size_t depth, std::string* text,
                         std::vector<XmlNode>& children, XmlParseInfo* info);

// Path segments; a '/' only separates after a non-empty segment.
std::vector<std::string_view> splitPath(std::string_view path);

}  // namespace qv
