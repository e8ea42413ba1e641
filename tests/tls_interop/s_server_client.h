#pragma once
// Our client's side of a session with an echoing openssl s_server (-rev).
#include <string>

#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/socket_driver.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv::test {

// Starts `tls` as the provider's client would for pbx.example.com, without
// certificate checks (the peers' certificates are self-signed).
inline void startInteropClient(TlsConnection& tls, TlsVersionPolicy policy) {
  tls.SetLog(testLog("CSTA: "));
  tls.SetServerName("pbx.example.com");
  tls.SetVerifyCertificates(false);
  tls.SetVersionPolicy(policy);
  tls.StartClient();
}

// Sends a line through s_server -rev and waits for it reversed.
inline bool echoesReversed(SocketDriver& link, const std::string& line) {
  if (!link.Send(line + "\n")) return false;
  const std::string reversed(line.rbegin(), line.rend());
  return link.PumpUntilContains(reversed).find(reversed) != Bytes::npos;
}

}  // namespace qv::test
