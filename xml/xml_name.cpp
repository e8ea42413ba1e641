#include <cstdint>

#include "xml/byte_string.h"
#include "xml/xml_parse.h"

namespace qv {

Utf8Char decodeUtf8Char(std::string_view input) {
  if (input.empty()) return {};
  auto lead = static_cast<unsigned char>(input[0]);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = 0;
  char32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else {
    return {};  // continuation byte or 11111xxx
  }
  if (input.size() < length) return {};
  // Following bytes contribute their low six bits; their top bits are not checked.
  for (std::size_t k = 1; k < length; ++k)
    value = (value << 6) | (static_cast<unsigned char>(input[k]) & 0x3F);
  return {value, length};
}

bool isNameStartChar(char32_t c) {
  if (c < 0x80) return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(char32_t c) {
  if (isNameStartChar(c)) return true;
  return c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

namespace {

// Byte classes for the fast path, as bits: any ASCII name character, ASCII
// name start, lead of a multi-byte sequence (decoded the slow way).
enum : std::uint8_t { kAsciiName = 1, kAsciiStart = 2, kMultiByte = 4 };

struct NameByteTable {
  std::uint8_t cls[256] = {};
  constexpr NameByteTable() {
    for (int c = 0; c < 256; ++c) {
      if (c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        cls[c] = kAsciiName | kAsciiStart;
      else if (c == '-' || c == '.' || (c >= '0' && c <= '9'))
        cls[c] = kAsciiName;
      else if (c >= 0x80)
        cls[c] = kMultiByte;
    }
  }
};
constexpr NameByteTable kNameByte;

std::uint8_t byteClass(std::string_view input, std::size_t pos) {
  return kNameByte.cls[static_cast<unsigned char>(input[pos])];
}

}  // namespace

std::size_t readName(std::string_view input) {
  const std::size_t size = input.size();
  if (size == 0) return 0;
  std::size_t pos = 0;
  const std::uint8_t first = byteClass(input, 0);
  if ((first & kAsciiStart) != 0) {
    pos = 1;
  } else if (first == kMultiByte) {
    Utf8Char ch = decodeUtf8Char(input);
    if (ch.length == 0 || !isNameStartChar(ch.codePoint)) return 0;
    pos = ch.length;
  } else {
    return 0;
  }
  for (;;) {
    // Names are mostly ASCII: test four bytes per step.
    while (pos + 4 <= size && (byteClass(input, pos) & byteClass(input, pos + 1) & byteClass(input, pos + 2) &
                               byteClass(input, pos + 3) & kAsciiName) != 0)
      pos += 4;
    while (pos < size && (byteClass(input, pos) & kAsciiName) != 0) ++pos;
    if (pos >= size || byteClass(input, pos) != kMultiByte) return pos;
    Utf8Char ch = decodeUtf8Char(input.substr(pos));
    if (ch.length == 0 || !isNameChar(ch.codePoint)) return pos;
    pos += ch.length;
  }
}

void splitQualifiedName(std::string_view qname, bool caseSensitive, std::string& prefix, std::string& name) {
  std::string lowered;
  if (!caseSensitive) {
    lowered = toLowerAscii(qname);
    qname = lowered;
  }
  std::size_t colon = qname.find(':');
  if (colon == std::string_view::npos) {
    prefix.clear();
    name.assign(qname);
  } else {
    prefix.assign(qname.substr(0, colon));
    name.assign(qname.substr(colon + 1));
  }
}

}  // namespace qv
