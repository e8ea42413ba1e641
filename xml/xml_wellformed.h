#pragma once
// A strict check that a whole document is well-formed XML 1.0 (no DTD): one
// root element, balanced and matching tags, quoted and unique attributes,
// only the five predefined entities and valid character references, nothing
// but comments, processing instructions and white space around the root.
// For input the provider acts on; the forgiving reader (xml_node.h) is kept
// for everything else.
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Nothing when the document is well-formed, otherwise what is wrong first
// and where ("end tag </deviceID> does not match <callID> at byte 61").
std::optional<std::string> CheckWellFormedXml(std::string_view document);

}  // namespace qv
