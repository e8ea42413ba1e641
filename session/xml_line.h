#pragma once
// The request templates are written one CR LF-terminated line at a time.
#include <string>

namespace qv {

// Appends the pieces followed by CR LF.
template <typename... Pieces>
void appendLine(std::string& out, const Pieces&... pieces) {
  (out.append(pieces), ...);
  out.append("\r\n");
}

}  // namespace qv
