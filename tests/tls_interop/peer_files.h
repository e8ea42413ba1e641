#pragma once
// The test CA, server certificate and key of the unit tests, written as the
// PEM files that openssl and gnutls take.
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/tls/test_certificates.h"
#include "tests/tls/tls_test_util.h"
#include "tests/tls_interop/peer_process.h"

namespace qv::test {

struct PeerFiles {
  std::string cert;   // server certificate
  std::string key;    // its private key
  std::string ca;     // the CA certificate
  std::string chain;  // server certificate followed by the CA
};

inline bool writeDer(const std::filesystem::path& path, const char* hex) {
  std::ofstream out(path, std::ios::binary);
  const Bytes der = hexDecode(hex);
  out.write(der.data(), static_cast<std::streamsize>(der.size()));
  return static_cast<bool>(out);
}

inline PeerFiles writePeerFiles(const ScratchDir& dir) {
  PeerFiles files{(dir / "server.pem").string(), (dir / "server.key").string(), (dir / "ca.pem").string(),
                  (dir / "chain.pem").string()};
  writeDer(dir / "server.der", kServerHex);
  writeDer(dir / "server.key.der", kServerKeyHex);
  writeDer(dir / "ca.der", kCaHex);
  const std::string d = dir.path().string();
  std::system(("openssl x509 -inform DER -in " + d + "/server.der -out " + files.cert +
               " && openssl x509 -inform DER -in " + d + "/ca.der -out " + files.ca +
               " && openssl rsa -inform DER -in " + d + "/server.key.der -traditional -out " + files.key +
               " 2>/dev/null && cat " + files.cert + " " + files.ca + " > " + files.chain)
                  .c_str());
  return files;
}

}  // namespace qv::test
