#include "session/csta_pbx_requests.h"

#include "session/pbx_link.h"
#include "session/xml_line.h"

namespace qv {

namespace {

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string Document(std::string_view root, std::string_view ns, std::string_view inner) {
  std::string x;
  appendLine(x, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  std::string open = "<" + std::string(root);
  if (!ns.empty()) open += " xmlns=\"" + escapeXml(ns) + "\"";
  if (inner.empty()) {
    appendLine(x, open, "/>");
  } else {
    appendLine(x, open, ">");
    appendLine(x, inner);
    appendLine(x, "</", root, ">");
  }
  return x;
}

}  // namespace

std::string RootNamespace(const XmlNode& root) {
  const std::string_view declaration = root.prefix.empty() ? std::string_view("xmlns") : root.prefix;
  for (const XmlAttribute& a : root.attributes) {
    if (a.name == declaration) return a.value;
  }
  return {};
}

std::string SystemStatusResponseXml(std::string_view ns) { return Document("SystemStatusResponse", ns, {}); }

std::string UnservedRequestErrorXml(std::string_view ns) {
  return Document("CSTAErrorCode", ns, "<operation>generic</operation>");
}

bool AnswerPbxRequest(std::uint32_t invokeId, const XmlNode& root) {
  const std::string_view name = root.name;
  // Events, answers and errors are no requests; nor is a frame without a root.
  if (name.empty() || EndsWith(name, "Event") || EndsWith(name, "Response") || name == "CSTAErrorCode")
    return false;
  const std::string ns = RootNamespace(root);
  pbxLink().SendAnswer(invokeId,
                       name == "SystemStatus" ? SystemStatusResponseXml(ns) : UnservedRequestErrorXml(ns));
  return true;
}

}  // namespace qv
