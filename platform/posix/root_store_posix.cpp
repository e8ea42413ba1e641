// The distribution's CA bundle (Debian and its relatives; Fedora's path as
// the fall-back).
#include <fstream>
#include <iterator>

#include "platform/root_store.h"

namespace qv {

PlatformRoots ReadPlatformRoots() {
  PlatformRoots roots;
  for (const char* path : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt"}) {
    std::ifstream in(path, std::ios::binary);
    if (!in) continue;
    roots.source = path;
    std::string text;
    char buffer[65536];
    while (in && text.size() <= kMaxRootBundleBytes) {
      in.read(buffer, sizeof buffer);
      text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    if (text.size() > kMaxRootBundleBytes || in.bad()) return roots;
    roots.pemBundle = std::move(text);
    roots.available = true;
    return roots;
  }
  return roots;
}

}  // namespace qv
