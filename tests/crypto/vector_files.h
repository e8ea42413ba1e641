#pragma once
// Readers for the public conformance data in the shared testdata folder:
// CAVP "key = value" files and Wycheproof JSON. The folder comes from CMake
// (QV_TESTDATA_DIR); the environment variable of the same name overrides it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace qv::test {

inline std::string testdataPath(std::string_view relative) {
  const char* env = std::getenv("QV_TESTDATA_DIR");
#ifdef QV_TESTDATA_DIR
  std::string base = env ? env : QV_TESTDATA_DIR;
#else
  std::string base = env ? env : "";
#endif
  return base + "/" + std::string(relative);
}

// The whole file, or empty with a test failure when it cannot be read.
inline std::string readTestdata(std::string_view relative) {
  const std::string path = testdataPath(relative);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One CAVP record: its "key = value" lines plus the [section] attributes in
// force ("[L=20]" gives "L" -> "20"; "[TLS 1.2, SHA-256]" gives it -> "").
// A bare line such as FAIL becomes a key with an empty value.
using RspRecord = std::map<std::string, std::string>;

inline std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

inline std::vector<RspRecord> parseRsp(std::string_view text) {
  std::vector<RspRecord> records;
  RspRecord section;
  RspRecord current;
  bool sectionFresh = false;
  auto flush = [&] {
    if (current.empty()) return;
    RspRecord merged = section;
    for (auto& [k, v] : current) merged[k] = v;
    records.push_back(std::move(merged));
    current.clear();
  };
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty()) {
      flush();
      continue;
    }
    if (line[0] == '#') continue;
    if (line[0] == '[') {
      flush();
      if (!sectionFresh) section.clear();
      sectionFresh = true;
      const std::string inner = line.substr(1, line.find(']') - 1);
      const std::size_t eq = inner.find('=');
      if (eq == std::string::npos) {
        section[trim(inner)] = "";
      } else {
        section[trim(inner.substr(0, eq))] = trim(inner.substr(eq + 1));
      }
      continue;
    }
    sectionFresh = false;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
      current[line] = "";
    } else {
      current[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
  }
  flush();
  return records;
}

// A JSON value: enough of JSON for the Wycheproof files (no \u escapes
// beyond ASCII are needed there).
struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  // An object's members: keys[i] names values[i]. (A vector of pairs of
  // the type being defined is not portable.)
  std::vector<std::string> keys;
  std::vector<Json> values;

  const Json& operator[](std::string_view key) const {
    static const Json kNone;
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == key) return values[i];
    return kNone;
  }
  bool has(std::string_view key) const {
    for (const std::string& k : keys)
      if (k == key) return true;
    return false;
  }
  const std::string& str() const { return text; }
  int integer() const { return static_cast<int>(number); }
};

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  bool parse(Json& out) {
    if (!value(out, 0)) return false;
    skipSpace();
    return pos_ == text_.size();
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' || text_[pos_] == '\t'))
      ++pos_;
  }
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }
  bool string(std::string& out) {
    if (pos_ >= text_.size() || text_[pos_] != '"') return false;
    ++pos_;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c == '\\') {
        if (pos_ >= text_.size()) return false;
        const char e = text_[pos_++];
        switch (e) {
          case 'n':
            c = '\n';
            break;
          case 't':
            c = '\t';
            break;
          case 'r':
            c = '\r';
            break;
          case 'b':
            c = '\b';
            break;
          case 'f':
            c = '\f';
            break;
          case 'u': {
            if (pos_ + 4 > text_.size()) return false;
            const unsigned code =
                static_cast<unsigned>(std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16));
            pos_ += 4;
            if (code < 0x80) {
              c = static_cast<char>(code);
            } else {
              out += '?';  // not needed by any file we read
              continue;
            }
            break;
          }
          default:
            c = e;
        }
      }
      out += c;
    }
    if (pos_ >= text_.size()) return false;
    ++pos_;
    return true;
  }
  bool value(Json& out, int depth) {
    if (depth > 64) return false;
    skipSpace();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '{') {
      out.kind = Json::Kind::kObject;
      ++pos_;
      skipSpace();
      if (pos_ < text_.size() && text_[pos_] == '}') return ++pos_, true;
      for (;;) {
        skipSpace();
        std::string key;
        if (!string(key)) return false;
        skipSpace();
        if (pos_ >= text_.size() || text_[pos_++] != ':') return false;
        Json member;
        if (!value(member, depth + 1)) return false;
        out.keys.push_back(std::move(key));
        out.values.push_back(std::move(member));
        skipSpace();
        if (pos_ >= text_.size()) return false;
        if (text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (text_[pos_] == '}') return ++pos_, true;
        return false;
      }
    }
    if (c == '[') {
      out.kind = Json::Kind::kArray;
      ++pos_;
      skipSpace();
      if (pos_ < text_.size() && text_[pos_] == ']') return ++pos_, true;
      for (;;) {
        Json item;
        if (!value(item, depth + 1)) return false;
        out.items.push_back(std::move(item));
        skipSpace();
        if (pos_ >= text_.size()) return false;
        if (text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (text_[pos_] == ']') return ++pos_, true;
        return false;
      }
    }
    if (c == '"') {
      out.kind = Json::Kind::kString;
      return string(out.text);
    }
    if (literal("true")) {
      out.kind = Json::Kind::kBool;
      out.boolean = true;
      return true;
    }
    if (literal("false")) {
      out.kind = Json::Kind::kBool;
      return true;
    }
    if (literal("null")) return true;
    const std::size_t start = pos_;
    while (pos_ < text_.size() &&
           std::string_view("+-0123456789.eE").find(text_[pos_]) != std::string_view::npos)
      ++pos_;
    if (pos_ == start) return false;
    out.kind = Json::Kind::kNumber;
    out.number = std::strtod(std::string(text_.substr(start, pos_ - start)).c_str(), nullptr);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// A Wycheproof file parsed, or a null value with a test failure.
inline Json readWycheproof(std::string_view name) {
  Json root;
  const std::string text = readTestdata("wycheproof/" + std::string(name));
  if (!text.empty() && !JsonParser(text).parse(root)) ADD_FAILURE() << "malformed JSON in " << name;
  return root;
}

inline bool hasFlag(const Json& test, std::string_view flag) {
  for (const auto& f : test["flags"].items)
    if (f.text == flag) return true;
  return false;
}

}  // namespace qv::test
