#pragma once
// What the owner of a client connection decides about the server's chain.
#include <cstdint>
#include <string>

namespace qv {

struct CertificateVerdict {
  bool accepted = true;
  std::uint8_t alert = 0;
  std::string logLine;
};

}  // namespace qv
