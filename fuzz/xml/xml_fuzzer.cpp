// parseXml and findText on arbitrary bytes: no crash, no hang, and the tree
// never deeper than the limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_node.h"

namespace {

std::size_t depthOf(const qv::XmlNode& root) {
  std::size_t deepest = 0;
  std::vector<std::pair<const qv::XmlNode*, std::size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    auto [node, level] = pending.back();
    pending.pop_back();
    if (level > deepest) deepest = level;
    for (const qv::XmlNode& child : node->children) pending.push_back({&child, level + 1});
  }
  return deepest;
}

// Straightforward in-place decoding, rescanning the rewritten string; the
// real one must agree with it on every input.
std::string referenceDecode(std::string_view text) {
  std::string s(text);
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t semi = s[i] == '&' ? s.find(';', i + 1) : std::string::npos;
    if (semi == std::string::npos) {
      ++i;
      continue;
    }
    std::string name = s.substr(i + 1, semi - i - 1);
    std::string replacement;
    if (name == "apos") {
      replacement = "'";
    } else if (name == "quot") {
      replacement = "\"";
    } else if (name == "amp") {
      replacement = "&";
    } else if (name == "lt") {
      replacement = "<";
    } else if (name == "gt") {
      replacement = ">";
    } else if (!name.empty() && name[0] == '#') {
      replacement = qv::decodeEntities("&" + name + ";");
    } else {
      ++i;
      continue;
    }
    s = s.substr(0, i) + replacement + s.substr(semi + 1);
    i += replacement.empty() ? 0 : 1;
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks the case mode; the next line (if any) is a lookup path.
  if (size == 0) return 0;
  const bool caseSensitive = (data[0] & 1) != 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view path = "callingDevice/callID";
  if ((data[0] & 2) != 0) {
    std::size_t newline = rest.find('\n');
    if (newline != std::string_view::npos) {
      path = rest.substr(0, newline);
      rest.remove_prefix(newline + 1);
    }
  }
  qv::XmlNode root = qv::parseXml(rest, caseSensitive);
  if (depthOf(root) > qv::kXmlMaxDepth) __builtin_trap();
  for (std::string_view p : {path, std::string_view("operation"), std::string_view("sessionID"),
                             std::string_view("callingDevice/deviceID")}) {
    std::string text = qv::findText(root, p);
    (void)text;
  }
  std::string lowered = qv::findText(root, std::string(path).c_str());
  qv::XmlNode copy = root;
  (void)copy;
  std::string decoded = qv::decodeEntities(rest);
  if (decoded.size() > rest.size()) __builtin_trap();  // no reference is longer decoded than written
  if (rest.size() <= 1024 && decoded != referenceDecode(rest)) __builtin_trap();
  return 0;
}
