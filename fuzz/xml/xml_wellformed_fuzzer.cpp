// The strict check on arbitrary bytes: no crash, no hang, and a document it
// accepts is one the forgiving reader gives a named root for.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/xml_node.h"
#include "xml/xml_wellformed.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!qv::CheckWellFormedXml(text) && qv::parseXml(text, true).name.empty()) __builtin_trap();
  return 0;
}
