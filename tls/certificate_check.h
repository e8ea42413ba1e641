#pragma once
// The owner's say on the server's certificate chain, asked by the client
// before it sends anything that depends on the chain.
#include <cstdint>
#include <string>

namespace qv {

struct CertificateVerdict {
  bool accepted = true;
  // Fatal alert sent on refusal; 0 stands for certificate_unknown.
  std::uint8_t alert = 0;
  // Written at level 1 (after the connection's prefix) on refusal.
  std::string logLine;
};

}  // namespace qv
