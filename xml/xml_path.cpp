#include "xml/byte_string.h"
#include "xml/xml_parse.h"

namespace qv {

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    // A '/' at the start of a segment is kept as part of it.
    if (path[i] == '/' && i > start) {
      segments.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  if (start < path.size()) segments.push_back(path.substr(start));
  return segments;
}

std::string findText(const XmlNode& node, std::string_view path) {
  std::string lowered;
  if (!node.caseSensitive) {
    lowered = toLowerAscii(path);
    path = lowered;
  }
  const std::vector<XmlNode>* list = &node.children;
  const XmlNode* match = nullptr;
  for (std::string_view segment : splitPath(path)) {
    match = nullptr;
    // Only the first sibling of that name is followed.
    for (const XmlNode& child : *list) {
      if (child.name == segment) {
        match = &child;
        break;
      }
    }
    if (match == nullptr) return {};
    list = &match->children;
  }
  return match != nullptr ? match->text : std::string();
}

std::string findText(const XmlNode& node, const char* path) {
  return findText(node, path != nullptr ? std::string_view(path) : std::string_view());
}

}  // namespace qv
