// Registry export files: whatever the parser accepts renders to text that
// parses back to the same values, and nothing it is given crashes it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/reg_file.h"

namespace {
constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  qv::RegDocument document;
  std::string problem;
  if (!qv::parseRegDocument(text, kKey, document, problem)) return 0;
  qv::setRegEntry(document, {"port", 1, std::string("5060\0", 5)});
  std::string rendered = qv::renderRegDocument(document, kKey);
  qv::RegDocument again;
  if (!qv::parseRegDocument(rendered, kKey, again, problem)) std::abort();
  if (again.entries.size() != document.entries.size()) std::abort();
  for (const auto& entry : document.entries) {
    const qv::RegEntry* back = qv::findRegEntry(again, entry.name);
    if (back == nullptr || back->type != entry.type) std::abort();
    // String types travel as UTF-16 units: an odd byte count loses its last byte.
    bool stringType = entry.type == 1 || entry.type == 2 || entry.type == 7;
    if (!stringType && back->data != entry.data) std::abort();
  }
  return 0;
}
