#pragma once
// The server-certificate check of the PBX connection, made from the
// settings `certpin`, `verifycert` and `cafile`.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/settings.h"
#include "tls/certificate_policy.h"

namespace qv {

using CertificateCheck = std::function<CertificateVerdict(const std::vector<Bytes>& chainDer)>;

// The text of a PEM file; false when it cannot be opened or is larger than
// any bundle we read.
bool ReadBoundedFile(const std::string& path, std::string& text);

// The platform's roots plus the certificates of the PEM file cafile (when
// not empty); the count is logged at level 5, an unreadable store or file at
// level 1.
std::vector<Bytes> LoadTrustedRoots(const std::string& cafile);

// The policy the settings ask for. Roots are loaded only when verifycert is
// on. A certpin text that cannot be read is logged at level 1 and leaves a
// pin that matches nothing, so every certificate is refused.
CertificatePolicy BuildCertificatePolicy(const ProviderSettings& settings);

// The check to install on a new connection, or an empty function when
// neither certpin nor verifycert is set (no check, as before).
CertificateCheck MakeCertificateCheck(const ProviderSettings& settings);

// Seconds since 1970 now, as the check compares validity dates with it.
std::int64_t CurrentUnixSeconds();

}  // namespace qv
