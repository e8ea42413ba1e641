// Any `lines` text: no crash, at most the line limit, every line a readable
// extension listed once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "session/line_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<qv::LineEntry> lines = qv::ParseLineList(text);
  if (lines.size() > qv::kMaxLines) std::abort();
  std::unordered_set<std::string> seen;
  for (const qv::LineEntry& line : lines) {
    if (line.extension.empty() || line.extension.size() > qv::kMaxExtensionDigits) std::abort();
    for (char c : line.extension) {
      if (c < '0' || c > '9') std::abort();
    }
    if (line.name.find_first_of(";,") != std::string::npos) std::abort();
    if (!seen.insert(line.extension).second) std::abort();
  }
  return 0;
}
