#include <array>
#include <utility>

#include "xml/byte_string.h"
#include "xml/xml_parse.h"

namespace qv {

namespace {

constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";
constexpr std::string_view kCommentOpen = "<!--";
constexpr std::string_view kCommentClose = "-->";
constexpr std::string_view kPiOpen = "<?";
constexpr std::string_view kPiClose = "?>";
constexpr std::string_view kEndTagOpen = "</";

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Position just after the first `close` at or after `from`, or the end of input.
std::size_t skipPast(std::string_view input, std::size_t from, std::string_view close) {
  std::size_t at = input.find(close, from);
  return at == std::string_view::npos ? input.size() : at + close.size();
}

}  // namespace

std::size_t parseAttribute(std::string_view input, bool caseSensitive,
                           std::vector<XmlAttribute>* attributes) {
  const std::size_t n = input.size();
  const std::size_t nameLength = readName(input);
  // A malformed attribute swallows the rest of the document.
  if (nameLength == 0 || nameLength + 1 >= n || input[nameLength] != '=') return n;
  std::size_t start = nameLength + 1;
  std::string_view value;
  std::size_t consumed = 0;
  const char quote = input[start];
  if (quote == '"' || quote == '\'') {
    std::size_t close = input.find(quote, start + 1);
    if (close == std::string_view::npos) return n;
    value = input.substr(start + 1, close - start - 1);
    consumed = close + 1;
  } else {
    std::size_t end = start;
    while (end < n && !isSpace(input[end])) ++end;
    if (end == n) return n;
    value = input.substr(start, end - start);
    consumed = end + 1;
  }
  if (attributes != nullptr) {
    std::string_view qname = input.substr(0, nameLength);
    std::size_t colon = qname.find(':');
    if (colon != std::string_view::npos) qname.remove_prefix(colon + 1);
    XmlAttribute& attribute = attributes->emplace_back();
    attribute.name = caseSensitive ? std::string(qname) : toLowerAscii(qname);
    appendDecodedEntities(attribute.value, value);
  }
  return consumed;
}

TagResult parseTag(std::string_view input, bool caseSensitive, XmlNode* node) {
  const std::size_t n = input.size();
  const std::size_t nameLength = readName(input);
  std::size_t pos = nameLength;
  if (node != nullptr) splitQualifiedName(input.substr(0, pos), caseSensitive, node->prefix, node->name);
  for (;;) {
    while (pos < n && isSpace(input[pos])) ++pos;
    if (pos >= n) return {n, {}, nameLength};
    if (input[pos] == '/' && pos + 1 < n && input[pos + 1] == '>') return {pos + 2, "/>", nameLength};
    if (input[pos] == '>') return {pos + 1, ">", nameLength};
    pos += parseAttribute(input.substr(pos), caseSensitive, node != nullptr ? &node->attributes : nullptr);
  }
}

// Iterative, with a fixed array of open elements instead of one call frame per
// level. Elements below kXmlMaxDepth are walked with a counter only, so any
// depth of input costs the same small, constant stack.
std::size_t parseContent(std::string_view input, bool caseSensitive, std::size_t depth, std::string* text,
                         std::vector<XmlNode>& children, XmlParseInfo* info) {
  struct Open {
    std::string* text;  // null: text is dropped (the root's)
    std::vector<XmlNode>* children;
    // The start tag's name as written. Plain members keep Open trivial, so
    // the array below costs no initialisation.
    const char* tagName;
    std::size_t tagNameLength;
  };
  // At most kXmlMaxDepth levels are ever open, so a fixed array does.
  std::array<Open, kXmlMaxDepth> open;
  std::size_t openCount = 1;
  open[0] = {text, &children, nullptr, 0};
  std::size_t skippedOpen = 0;  // open elements below the depth limit

  const std::size_t n = input.size();
  std::size_t pos = 0;
  std::size_t runStart = 0;  // pending character data is input[runStart, pos)
  while (pos < n) {
    std::size_t lt = input.find('<', pos);
    if (lt == std::string_view::npos) break;
    pos = lt;
    std::string* current = skippedOpen == 0 ? open[openCount - 1].text : nullptr;
    if (current != nullptr && pos > runStart)
      appendDecodedEntities(*current, input.substr(runStart, pos - runStart));
    std::string_view rest = input.substr(pos);
    const char next = rest.size() > 1 ? rest[1] : '\0';
    if (next == '!' && rest.starts_with(kCdataOpen)) {
      std::size_t close = input.find(kCdataClose, pos + kCdataOpen.size());
      if (close == std::string_view::npos) {
        pos = n;  // an unterminated section adds nothing
      } else {
        if (current != nullptr)
          current->append(rest.substr(kCdataOpen.size(), close - pos - kCdataOpen.size()));
        pos = close + kCdataClose.size();
      }
    } else if (next == '!' && rest.starts_with(kCommentOpen)) {
      pos = skipPast(input, pos + kCommentOpen.size(), kCommentClose);
    } else if (next == '?') {
      pos = skipPast(input, pos + kPiOpen.size(), kPiClose);
    } else if (next == '/') {
      // Any end tag closes the current element; its name is not compared.
      // The usual "</name>" matching the start tag is recognised without
      // reading the name again: the same bytes give the same name.
      std::string_view endTag = rest.substr(kEndTagOpen.size());
      std::string_view expected;
      if (skippedOpen == 0 && open[openCount - 1].tagName != nullptr)
        expected = {open[openCount - 1].tagName, open[openCount - 1].tagNameLength};
      if (endTag.size() > expected.size() && endTag.starts_with(expected) && endTag[expected.size()] == '>')
        pos += kEndTagOpen.size() + expected.size() + 1;
      else
        pos += kEndTagOpen.size() + parseTag(endTag, caseSensitive, nullptr).consumed;
      if (skippedOpen > 0) {
        --skippedOpen;
      } else {
        if (--openCount == 0) return pos;
      }
    } else {
      const std::size_t level = depth + openCount;
      if (skippedOpen > 0 || level > kXmlMaxDepth || openCount == open.size()) {
        TagResult tag = parseTag(rest.substr(1), caseSensitive, nullptr);
        pos += 1 + tag.consumed;
        if (info != nullptr) ++info->skippedElements;
        if (tag.closing != "/>") ++skippedOpen;
      } else {
        std::vector<XmlNode>& siblings = *open[openCount - 1].children;
        // Most elements have a few children; skip the 1-2-4 regrowth.
        if (siblings.empty()) siblings.reserve(4);
        // Default- not value-initialised: emplace_back() would zero the whole node first.
        XmlNode fresh;
        fresh.caseSensitive = caseSensitive;
        XmlNode& child = siblings.emplace_back(std::move(fresh));
        TagResult tag = parseTag(rest.substr(1), caseSensitive, &child);
        if (tag.closing != "/>")
          open[openCount++] = {&child.text, &child.children, rest.data() + 1, tag.nameLength};
        pos += 1 + tag.consumed;
      }
    }
    runStart = pos;
  }
  // The input ended inside the content: every element still open loses its text.
  for (std::size_t k = 0; k < openCount; ++k)
    if (open[k].text != nullptr) open[k].text->clear();
  return n;
}

XmlNode parseXml(std::string_view text, bool caseSensitive, XmlParseInfo* info) {
  XmlNode root;
  root.caseSensitive = caseSensitive;
  const std::size_t n = text.size();
  std::size_t pos = 0;
  while (pos < n) {
    std::size_t lt = text.find('<', pos);  // document-level text is dropped
    if (lt == std::string_view::npos) break;
    pos = lt;
    std::string_view rest = text.substr(pos);
    if (rest.starts_with(kCommentOpen)) {
      pos = skipPast(text, pos + kCommentOpen.size(), kCommentClose);
    } else if (rest.starts_with(kPiOpen)) {
      pos = skipPast(text, pos + kPiOpen.size(), kPiClose);
    } else if (rest.starts_with(kEndTagOpen)) {
      break;
    } else {
      // A further top-level element lands in the same root.
      TagResult tag = parseTag(rest.substr(1), caseSensitive, &root);
      pos += 1 + tag.consumed;
      if (tag.closing != "/>")
        pos += parseContent(text.substr(pos), caseSensitive, 1, nullptr, root.children, info);
    }
  }
  return root;
}

}  // namespace qv
