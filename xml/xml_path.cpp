#include "xml/byte_string.h"
#include "xml/xml_parse.h"

namespace qv {

namespace {

// The segment starting at pos, and pos moved past it and its separator. A '/'
// at the start of a segment is kept as part of it; empty at the end.
std::string_view nextSegment(std::string_view path, std::size_t& pos) {
  const std::size_t start = pos;
  for (std::size_t i = start; i < path.size(); ++i) {
    if (path[i] == '/' && i > start) {
      pos = i + 1;
      return path.substr(start, i - start);
    }
  }
  pos = path.size();
  return path.substr(start);
}

}  // namespace

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> segments;
  std::size_t pos = 0;
  while (pos < path.size()) segments.push_back(nextSegment(path, pos));
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
  std::size_t pos = 0;
  while (pos < path.size()) {
    const std::string_view segment = nextSegment(path, pos);
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
