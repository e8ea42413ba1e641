#include "platform/reg_file.h"

#include <cctype>

namespace qv {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isStringType(std::uint32_t type) { return type == 1 || type == 2 || type == 7; }

// Reads a quoted string with \\ and \" escapes starting at s[pos] == '"'.
bool readQuoted(std::string_view s, std::size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  ++pos;
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) c = s[pos++];
    out += c;
  }
  return false;
}

// "hex(N):" data: comma-separated two-digit bytes.
bool readHexBytes(std::string_view s, std::string& out) {
  s = trim(s);
  while (!s.empty()) {
    std::size_t comma = s.find(',');
    std::string_view item = trim(s.substr(0, comma));
    if (item.size() != 2 || hexDigit(item[0]) < 0 || hexDigit(item[1]) < 0) return false;
    out += static_cast<char>(hexDigit(item[0]) * 16 + hexDigit(item[1]));
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
    if (trim(s).empty()) return false;
  }
  return true;
}

// UTF-16LE units to 8-bit text; units above 0xFF cannot be represented.
std::string narrowFromUtf16(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    unsigned unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += unit <= 0xFF ? static_cast<char>(unit) : '?';
  }
  return out;
}

std::string utf16FromNarrow(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

// One value line ("name"=value or @=value); deleted is set for "name"=-.
bool parseValueLine(std::string_view line, RegEntry& entry, bool& deleted, std::string& problem) {
  deleted = false;
  std::size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (!readQuoted(line, pos, entry.name)) {
    problem = "unterminated value name";
    return false;
  }
  std::string_view rest = trim(line.substr(pos));
  if (rest.empty() || rest[0] != '=') {
    problem = "missing '=' after value name";
    return false;
  }
  rest = trim(rest.substr(1));
  if (rest == "-") {
    deleted = true;
    return true;
  }
  if (!rest.empty() && rest[0] == '"') {
    std::size_t p = 0;
    std::string text;
    if (!readQuoted(rest, p, text) || !trim(rest.substr(p)).empty()) {
      problem = "malformed string value";
      return false;
    }
    entry.type = 1;
    entry.data = text + '\0';
    return true;
  }
  if (rest.substr(0, 6) == "dword:") {
    std::string_view digits = trim(rest.substr(6));
    if (digits.empty() || digits.size() > 8) {
      problem = "malformed dword value";
      return false;
    }
    std::uint32_t v = 0;
    for (char c : digits) {
      if (hexDigit(c) < 0) {
        problem = "malformed dword value";
        return false;
      }
      v = v * 16 + static_cast<std::uint32_t>(hexDigit(c));
    }
    entry.type = 4;
    entry.data.clear();
    for (int i = 0; i < 4; ++i) entry.data += static_cast<char>((v >> (8 * i)) & 0xFF);
    return true;
  }
  std::size_t colon = rest.find(':');
  if (colon == std::string_view::npos || rest.substr(0, 3) != "hex") {
    problem = "unknown value format";
    return false;
  }
  std::string_view kind = rest.substr(3, colon - 3);
  std::uint32_t type = 3;
  if (!kind.empty()) {
    if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' || kind.size() > 10) {
      problem = "malformed hex type";
      return false;
    }
    type = 0;
    for (char c : kind.substr(1, kind.size() - 2)) {
      if (hexDigit(c) < 0) {
        problem = "malformed hex type";
        return false;
      }
      type = type * 16 + static_cast<std::uint32_t>(hexDigit(c));
    }
  }
  std::string bytes;
  if (!readHexBytes(rest.substr(colon + 1), bytes)) {
    problem = "malformed hex data";
    return false;
  }
  entry.type = type;
  entry.data = isStringType(type) ? narrowFromUtf16(bytes) : bytes;
  return true;
}

std::string escapeQuoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string hexList(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ',';
    auto b = static_cast<unsigned char>(bytes[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string renderEntry(const RegEntry& entry) {
  std::string line = entry.name.empty() ? std::string("@") : escapeQuoted(entry.name);
  line += '=';
  const std::string& d = entry.data;
  bool plainString = entry.type == 1 && !d.empty() && d.back() == '\0' &&
                     d.find_first_of(std::string_view("\0\r\n", 3)) == d.size() - 1;
  if (plainString) {
    line += escapeQuoted(std::string_view(d).substr(0, d.size() - 1));
  } else if (entry.type == 4 && d.size() == 4) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(d[static_cast<std::size_t>(i)]);
    static const char digits[] = "0123456789abcdef";
    line += "dword:";
    for (int shift = 28; shift >= 0; shift -= 4) line += digits[(v >> shift) & 15];
  } else if (entry.type == 3) {
    line += "hex:" + hexList(d);
  } else {
    static const char digits[] = "0123456789abcdef";
    std::string kind;
    std::uint32_t t = entry.type;
    do {
      kind.insert(kind.begin(), digits[t & 15]);
      t >>= 4;
    } while (t != 0);
    line += "hex(" + kind + "):" + hexList(isStringType(entry.type) ? utf16FromNarrow(d) : d);
  }
  return line;
}

bool isKeyLine(std::string_view line, std::string_view key) {
  line = trim(line);
  return line.size() == key.size() + 2 && line.front() == '[' && line.back() == ']' &&
         equalsIgnoreCase(line.substr(1, key.size()), key);
}

}  // namespace

bool parseRegDocument(std::string_view text, std::string_view key, RegDocument& document,
                      std::string& problem) {
  document = RegDocument{};
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    problem = "UTF-16 text; the store must be 8-bit text";
    return false;
  }
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    document.lines.emplace_back(line);
    start = end + 1;
  }
  std::size_t first = 0;
  while (first < document.lines.size() && trim(document.lines[first]).empty()) ++first;
  if (first == document.lines.size()) return true;  // an empty store
  std::string_view header = trim(document.lines[first]);
  if (header != kHeader5 && header != kHeader4) {
    problem = "not a registry export file (first line \"" + std::string(header.substr(0, 60)) + "\")";
    return false;
  }
  for (std::size_t i = first + 1; i < document.lines.size(); ++i) {
    if (!isKeyLine(document.lines[i], key)) continue;
    std::size_t j = i + 1;
    while (j < document.lines.size() && trim(document.lines[j]).substr(0, 1) != "[") {
      std::string logical = std::string(trim(document.lines[j]));
      std::size_t lineNo = j;
      while (!logical.empty() && logical.back() == '\\' && j + 1 < document.lines.size()) {
        logical.pop_back();
        logical += trim(document.lines[++j]);
      }
      ++j;
      if (logical.empty() || logical[0] == ';') continue;
      RegEntry entry;
      bool deleted = false;
      if (!parseValueLine(logical, entry, deleted, problem)) {
        problem += " in line " + std::to_string(lineNo + 1);
        return false;
      }
      if (deleted) {
        for (auto it = document.entries.begin(); it != document.entries.end(); ++it) {
          if (equalsIgnoreCase(it->name, entry.name)) {
            document.entries.erase(it);
            break;
          }
        }
      } else {
        setRegEntry(document, entry);
      }
    }
    document.keyRanges.emplace_back(i, j);
    i = j - 1;
  }
  return true;
}

void setRegEntry(RegDocument& document, const RegEntry& entry) {
  for (auto& existing : document.entries) {
    if (equalsIgnoreCase(existing.name, entry.name)) {
      existing.type = entry.type;
      existing.data = entry.data;
      return;
    }
  }
  document.entries.push_back(entry);
}

const RegEntry* findRegEntry(const RegDocument& document, std::string_view name) {
  for (const auto& entry : document.entries) {
    if (equalsIgnoreCase(entry.name, name)) return &entry;
  }
  return nullptr;
}

std::string renderRegDocument(const RegDocument& document, std::string_view key) {
  std::string section = "[" + std::string(key) + "]\r\n";
  for (const auto& entry : document.entries) section += renderEntry(entry) + "\r\n";
  section += "\r\n";

  std::string out;
  bool anyContent = false;
  for (const auto& line : document.lines) anyContent = anyContent || !trim(line).empty();
  if (!anyContent) return std::string(kHeader5) + "\r\n\r\n" + section;

  std::size_t range = 0;
  std::size_t count = document.lines.size();
  // A final empty line is the end of the last line end, not a line.
  if (count > 0 && document.lines.back().empty()) --count;
  for (std::size_t i = 0; i < count;) {
    if (range < document.keyRanges.size() && i == document.keyRanges[range].first) {
      if (range == 0) out += section;
      i = document.keyRanges[range].second;
      ++range;
      continue;
    }
    out += document.lines[i];
    out += "\r\n";
    ++i;
  }
  if (document.keyRanges.empty()) {
    if (count > 0 && !trim(document.lines[count - 1]).empty()) out += "\r\n";
    out += section;
  }
  return out;
}

}  // namespace qv
