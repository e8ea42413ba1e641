#include "xml/xml_wellformed.h"

#include <vector>

#include "xml/xml_parse.h"

namespace qv {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// ASCII, the bytes nearly every document is made of, without decoding.
bool isAsciiXmlChar(unsigned char c) { return c >= 0x20 || c == 0x9 || c == 0xA || c == 0xD; }
bool isAsciiNameStart(unsigned char c) {
  return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isAsciiName(unsigned char c) {
  return isAsciiNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9');
}

// A well-formed UTF-8 sequence (continuation bytes, no overlong forms);
// length 0 when the input does not start with one.
Utf8Char strictUtf8Char(std::string_view input) {
  Utf8Char u = decodeUtf8Char(input);
  for (std::size_t k = 1; k < u.length; ++k) {
    if ((static_cast<unsigned char>(input[k]) & 0xC0) != 0x80) return {};
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (u.length > 1 && u.codePoint < kSmallest[u.length]) return {};
  return u;
}

class Checker {
 public:
  explicit Checker(std::string_view doc) : doc_(doc) {}

  std::optional<std::string> Run() {
    bool rootSeen = false;
    if (Starts("<?xml") && doc_.size() > 5 && isSpace(doc_[5])) Declaration();
    while (!problem_) {
      SkipSpace();
      if (pos_ >= doc_.size()) break;
      if (doc_[pos_] != '<') {
        Fail("text outside the root element");
        break;
      }
      if (Starts("<?")) {
        ProcessingInstruction();
      } else if (Starts("<!--")) {
        Comment();
      } else if (Starts("<!")) {
        Fail("document type declarations are not accepted");
      } else if (rootSeen) {
        Fail("a second root element");
      } else {
        rootSeen = true;
        Element();
      }
    }
    if (!problem_ && !rootSeen) Fail("no root element");
    return problem_;
  }

 private:
  bool Starts(std::string_view s) const { return doc_.substr(pos_, s.size()) == s; }
  void SkipSpace() {
    while (pos_ < doc_.size() && isSpace(doc_[pos_])) ++pos_;
  }
  void Fail(const std::string& what) {
    if (!problem_) problem_ = what + " at byte " + std::to_string(pos_);
  }
  // Every byte of [pos_, end) belongs to a valid XML character.
  bool Chars(std::size_t end) {
    while (pos_ < end) {
      const auto c = static_cast<unsigned char>(doc_[pos_]);
      if (c < 0x80 && isAsciiXmlChar(c)) {
        ++pos_;
        continue;
      }
      Utf8Char u = strictUtf8Char(doc_.substr(pos_, end - pos_));
      if (u.length == 0 || !isXmlChar(u.codePoint)) {
        Fail("a byte that is no XML character");
        return false;
      }
      pos_ += u.length;
    }
    return true;
  }
  void Truncated(std::string_view inside) { Fail("document ends inside " + std::string(inside)); }

  // A name at pos_; empty (and a problem) when there is none.
  // An element or attribute name: a name with at most one colon, and then
  // a non-empty prefix and local part (namespace-well-formed).
  std::string_view QualifiedName(std::string_view what) {
    const std::size_t at = pos_;
    std::string_view name = Name(what);
    if (problem_) return name;
    const std::size_t colon = name.find(':');
    if (colon != std::string_view::npos &&
        (colon == 0 || colon + 1 == name.size() || name.find(':', colon + 1) != std::string_view::npos)) {
      pos_ = at;
      Fail("name " + std::string(name) + " is no qualified name");
    }
    return name;
  }

  std::string_view Name(std::string_view what) {
    std::size_t n = 0;
    for (;;) {
      if (pos_ + n < doc_.size()) {
        const auto c = static_cast<unsigned char>(doc_[pos_ + n]);
        if (c < 0x80) {
          if (!(n == 0 ? isAsciiNameStart(c) : isAsciiName(c))) break;
          ++n;
          continue;
        }
      }
      Utf8Char u = strictUtf8Char(doc_.substr(pos_ + n));
      if (u.length == 0 || !(n == 0 ? isNameStartChar(u.codePoint) : isNameChar(u.codePoint))) break;
      n += u.length;
    }
    if (n == 0) {
      Fail("expected " + std::string(what));
      return {};
    }
    std::string_view name = doc_.substr(pos_, n);
    pos_ += n;
    return name;
  }

  // <?xml version="1.0" [encoding=".."] [standalone="yes|no"]?>, in that order.
  void Declaration() {
    pos_ += 5;
    struct Pseudo {
      std::string_view name;
      bool required;
    };
    for (Pseudo p : {Pseudo{"version", true}, Pseudo{"encoding", false}, Pseudo{"standalone", false}}) {
      const std::size_t before = pos_;
      SkipSpace();
      if (!Starts(p.name)) {
        pos_ = before;
        if (p.required) return Fail("XML declaration without a version");
        continue;
      }
      if (pos_ == before) return Fail("expected white space in the XML declaration");
      pos_ += p.name.size();
      SkipSpace();
      if (!Starts("=")) return Fail("expected \"=\" in the XML declaration");
      ++pos_;
      SkipSpace();
      if (pos_ >= doc_.size() || (doc_[pos_] != '"' && doc_[pos_] != '\''))
        return Fail("bad XML declaration");
      const std::size_t close = doc_.find(doc_[pos_], pos_ + 1);
      if (close == std::string_view::npos) return Truncated("the XML declaration");
      std::string_view value = doc_.substr(pos_ + 1, close - pos_ - 1);
      bool ok = !value.empty();
      if (p.name == "version") ok = value.size() >= 3 && value.substr(0, 2) == "1.";
      if (p.name == "standalone") ok = value == "yes" || value == "no";
      for (char c : value) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        ok = ok && (letter || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_');
        if (p.name == "version") ok = ok && (c == '.' || (c >= '0' && c <= '9'));
      }
      if (p.name == "encoding" && !value.empty()) {
        const char c = value[0];
        ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
      }
      if (!ok) return Fail("bad " + std::string(p.name) + " in the XML declaration");
      pos_ = close + 1;
    }
    SkipSpace();
    if (!Starts("?>")) return Fail("expected \"?>\" closing the XML declaration");
    pos_ += 2;
  }

  void ProcessingInstruction() {
    pos_ += 2;
    std::string_view target = Name("a processing instruction target");
    if (problem_) return;
    if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
        (target[2] | 0x20) == 'l')
      return Fail("processing instruction named xml");
    if (!Starts("?>") && (pos_ >= doc_.size() || !isSpace(doc_[pos_])))
      return Fail("expected white space after a processing instruction target");
    std::size_t end = doc_.find("?>", pos_);
    if (end == std::string_view::npos) return Truncated("a processing instruction");
    if (Chars(end)) pos_ = end + 2;
  }

  void Comment() {
    std::size_t end = doc_.find("--", pos_ + 4);
    if (end == std::string_view::npos) return Truncated("a comment");
    pos_ += 4;
    if (!Chars(end)) return;
    if (doc_.substr(end, 3) != "-->") return Fail("\"--\" inside a comment");
    pos_ = end + 3;
  }

  // Character data or an attribute value up to a delimiter: references must
  // be predefined entities or valid character references.
  void Characters(char stop, std::string_view where) {
    while (pos_ < doc_.size() && doc_[pos_] != stop && !problem_) {
      const char c = doc_[pos_];
      if (c == '<') return Fail("\"<\" in " + std::string(where));
      if (c == '&') {
        Reference();
        continue;
      }
      if (stop == '<' && Starts("]]>")) return Fail("\"]]>\" in character data");
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        if (!isAsciiXmlChar(byte)) return Fail("a byte that is no XML character");
        ++pos_;
        continue;
      }
      Utf8Char u = strictUtf8Char(doc_.substr(pos_));
      if (u.length == 0 || !isXmlChar(u.codePoint)) return Fail("a byte that is no XML character");
      pos_ += u.length;
    }
  }

  void Reference() {
    std::size_t semi = doc_.find(';', pos_ + 1);
    if (semi == std::string_view::npos || semi - pos_ > 12) return Fail("\"&\" that starts no reference");
    std::string_view name = doc_.substr(pos_ + 1, semi - pos_ - 1);
    if (!name.empty() && name[0] == '#') {
      std::uint32_t value = 0;
      const bool hex = name.size() > 1 && name[1] == 'x';
      std::string_view digits = name.substr(hex ? 2 : 1);
      if (digits.empty()) return Fail("empty character reference");
      for (char d : digits) {
        int v = -1;
        if (d >= '0' && d <= '9') v = d - '0';
        if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
        if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
        if (v < 0) return Fail("bad character reference &" + std::string(name) + ";");
        value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
        if (value > 0x10FFFF) return Fail("character reference beyond Unicode");
      }
      if (!isXmlChar(value)) return Fail("character reference to no XML character");
    } else if (name != "amp" && name != "lt" && name != "gt" && name != "quot" && name != "apos") {
      return Fail("undeclared entity &" + std::string(name) + ";");
    }
    pos_ = semi + 1;
  }

  // A start tag at pos_ ("<" included); true when it was an empty-element tag.
  bool StartTag(std::string_view& name) {
    ++pos_;
    name = QualifiedName("an element name");
    std::vector<std::string_view> seen;
    for (;;) {
      if (problem_) return false;
      const std::size_t before = pos_;
      SkipSpace();
      if (pos_ >= doc_.size()) {
        Truncated("a start tag");
        return false;
      }
      if (Starts("/>")) {
        pos_ += 2;
        return true;
      }
      if (doc_[pos_] == '>') {
        ++pos_;
        return false;
      }
      if (pos_ == before) {
        Fail("expected white space, \">\" or \"/>\" in a start tag");
        return false;
      }
      std::string_view attribute = QualifiedName("an attribute name");
      if (problem_) return false;
      for (std::string_view s : seen) {
        if (s == attribute) {
          Fail("attribute " + std::string(attribute) + " given twice");
          return false;
        }
      }
      seen.push_back(attribute);
      SkipSpace();
      if (pos_ >= doc_.size() || doc_[pos_] != '=') {
        Fail("expected \"=\" after attribute " + std::string(attribute));
        return false;
      }
      ++pos_;
      SkipSpace();
      if (pos_ >= doc_.size() || (doc_[pos_] != '"' && doc_[pos_] != '\'')) {
        Fail("unquoted value of attribute " + std::string(attribute));
        return false;
      }
      const char quote = doc_[pos_++];
      Characters(quote, "an attribute value");
      if (problem_) return false;
      if (pos_ >= doc_.size()) {
        Truncated("an attribute value");
        return false;
      }
      ++pos_;
    }
  }

  // The root element and everything in it, with an explicit stack so that
  // depth costs no recursion.
  void Element() {
    std::vector<std::string_view> open;
    std::string_view name;
    if (!StartTag(name) && !problem_) open.push_back(name);
    while (!open.empty() && !problem_) {
      Characters('<', "character data");
      if (problem_) return;
      if (pos_ >= doc_.size()) return Truncated("element <" + std::string(open.back()) + ">");
      if (Starts("</")) {
        pos_ += 2;
        const std::size_t at = pos_;
        std::string_view end = QualifiedName("an end tag name");
        if (problem_) return;
        SkipSpace();
        if (pos_ >= doc_.size()) return Truncated("an end tag");
        if (doc_[pos_] != '>') return Fail("expected \">\" closing end tag </" + std::string(end) + ">");
        if (end != open.back()) {
          pos_ = at;
          return Fail("end tag </" + std::string(end) + "> does not match <" + std::string(open.back()) +
                      ">");
        }
        ++pos_;
        open.pop_back();
      } else if (Starts("<!--")) {
        Comment();
      } else if (Starts("<![CDATA[")) {
        std::size_t end = doc_.find("]]>", pos_ + 9);
        if (end == std::string_view::npos) return Truncated("a CDATA section");
        pos_ += 9;
        if (Chars(end)) pos_ = end + 3;
      } else if (Starts("<?")) {
        ProcessingInstruction();
      } else if (Starts("<!")) {
        return Fail("markup declaration inside an element");
      } else if (!StartTag(name) && !problem_) {
        open.push_back(name);
      }
    }
  }

  std::string_view doc_;
  std::size_t pos_ = 0;
  std::optional<std::string> problem_;
};

}  // namespace

std::optional<std::string> CheckWellFormedXml(std::string_view document) { return Checker(document).Run(); }

}  // namespace qv
