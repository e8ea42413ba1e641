#include <cstdint>

#include "xml/xml_parse.h"

namespace qv {

namespace {

void appendUtf8(std::string& out, std::uint32_t v) {
  if (v < 0x80) {
    out += static_cast<char>(v);
  } else if (v <= 0x7FF) {
    out += static_cast<char>(0xC0 | (v >> 6));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else if (v <= 0xFFFF) {
    out += static_cast<char>(0xE0 | (v >> 12));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  } else if (v < 0x200000) {
    out += static_cast<char>(0xF0 | (v >> 18));
    out += static_cast<char>(0x80 | ((v >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (v & 0x3F));
  }
  // Larger values have no encoding and vanish.
}

std::uint32_t digitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint32_t>(c - 'A' + 10);
  return 0;
}

// Character reference without its '&' and ';' ("#65", "#x41"). Only a lower-case
// 'x' selects hexadecimal; every byte counts, letters even in decimal, others as 0.
void appendCharReference(std::string& out, std::string_view name) {
  std::uint32_t radix = 10;
  std::size_t start = 1;
  if (name.size() >= 2 && name[1] == 'x') {
    radix = 16;
    start = 2;
  }
  std::uint32_t value = 0;
  for (std::size_t k = start; k < name.size(); ++k) value = value * radix + digitValue(name[k]);
  appendUtf8(out, value);
}

// Replacement for a predefined entity name, or null.
const char* predefined(std::string_view name) {
  switch (name.size()) {
    case 2:
      if (name == "lt") return "<";
      if (name == "gt") return ">";
      break;
    case 3:
      if (name == "amp") return "&";
      break;
    case 4:
      if (name == "apos") return "'";
      if (name == "quot") return "\"";
      break;
    default:
      break;
  }
  return nullptr;
}

}  // namespace

// One forward pass: text between references is copied in blocks, each
// reference is replaced once and never decoded again, and the position of
// the next ';' is remembered so runs of '&' without one stay linear.
void appendDecodedEntities(std::string& out, std::string_view text) {
  const std::size_t n = text.size();
  std::size_t copied = 0;  // text[copied, i) still has to be copied out
  std::size_t i = 0;
  std::size_t semi = 0;
  bool semiSearched = false;
  // No reserve here: an element collects many runs, and exact reserves would defeat growth.
  while (i < n) {
    std::size_t amp = text.find('&', i);
    if (amp == std::string_view::npos || amp + 1 >= n) break;
    if (!semiSearched || (semi != std::string_view::npos && semi <= amp)) {
      semi = text.find(';', amp + 1);
      semiSearched = true;
    }
    if (semi == std::string_view::npos) break;  // no ';' anywhere after: nothing more to replace
    std::string_view name = text.substr(amp + 1, semi - amp - 1);
    const char* replacement = predefined(name);
    if (replacement == nullptr && (name.empty() || name[0] != '#')) {
      i = amp + 1;  // unknown entity stays as written
      continue;
    }
    out.append(text.substr(copied, amp - copied));
    if (replacement != nullptr)
      out += replacement;
    else
      appendCharReference(out, name);
    copied = i = semi + 1;
  }
  out.append(text.substr(copied));
}

std::string decodeEntities(std::string_view text) {
  std::string out;
  appendDecodedEntities(out, text);
  return out;
}

std::string escapeXml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace qv
