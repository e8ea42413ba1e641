#include "session/csta_trace.h"

#include "session/csta_requests.h"

namespace qv {

namespace {

// The prefix the text binds to the login namespace ("" for a default
// namespace), or nothing when the text does not use it.
bool LoginPrefix(std::string_view xml, std::string& prefix) {
  const std::string value = "=\"" + std::string(kLoginNamespace) + "\"";
  for (std::size_t at = xml.find(value); at != std::string_view::npos; at = xml.find(value, at + 1)) {
    std::size_t start = at;
    while (start > 0 && xml[start - 1] != ' ' && xml[start - 1] != '\t' && xml[start - 1] != '\r' &&
           xml[start - 1] != '\n' && xml[start - 1] != '<')
      --start;
    std::string_view name = xml.substr(start, at - start);
    if (name == "xmlns") {
      prefix.clear();
      return true;
    }
    if (name.starts_with("xmlns:")) {
      prefix = std::string(name.substr(6));
      return true;
    }
  }
  return false;
}

}  // namespace

std::string TraceText(std::string_view xml) {
  std::string prefix;
  if (!LoginPrefix(xml, prefix)) return std::string(xml);
  const std::string element = prefix.empty() ? "password" : prefix + ":password";
  const std::string open = "<" + element + ">";
  const std::string close = "</" + element + ">";
  std::size_t start = xml.find(open);
  if (start == std::string_view::npos) return std::string(xml);
  start += open.size();
  std::size_t end = xml.rfind(close);
  std::string out(xml.substr(0, start));
  out += kMaskedText;
  if (end != std::string_view::npos && end >= start) out += xml.substr(end);
  return out;
}

}  // namespace qv
