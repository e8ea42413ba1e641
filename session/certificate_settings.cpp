#include "session/certificate_settings.h"

#include <chrono>
#include <fstream>
#include <memory>

#include "platform/root_store.h"
#include "session/log.h"
#include "tls/pem.h"

namespace qv {

bool ReadBoundedFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.clear();
  char buffer[65536];
  while (in && text.size() <= kMaxPemBundleBytes) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  return text.size() <= kMaxPemBundleBytes && !in.bad();
}

std::vector<Bytes> LoadTrustedRoots(const std::string& cafile) {
  PlatformRoots platform = ReadPlatformRoots();
  std::vector<Bytes> roots = std::move(platform.der);
  if (!platform.pemBundle.empty()) {
    for (Bytes& der : ReadPemCertificates(platform.pemBundle)) roots.push_back(std::move(der));
  }
  const std::size_t platformCount = roots.size();
  if (!platform.available) {
    writeLog(1, "Certificate check: trusted roots of the system (" +
                    (platform.source.empty() ? std::string("no CA bundle found") : platform.source) +
                    ") cannot be read");
  }
  std::string line = "Certificate check: " + std::to_string(platformCount) + " trusted roots from " +
                     (platform.source.empty() ? std::string("the system") : platform.source);
  if (!cafile.empty()) {
    std::string text;
    std::size_t skipped = 0;
    std::vector<Bytes> own;
    if (ReadBoundedFile(cafile, text)) own = ReadPemCertificates(text, &skipped);
    if (own.empty()) {
      writeLog(1, "Certificate check: cafile \"" + cafile + "\" cannot be read or holds no PEM certificate");
    } else if (skipped > 0) {
      writeLog(1, "Certificate check: " + std::to_string(skipped) + " malformed certificates in cafile \"" +
                      cafile + "\" left out");
    }
    line += ", " + std::to_string(own.size()) + " from cafile \"" + cafile + "\"";
    for (Bytes& der : own) roots.push_back(std::move(der));
  }
  writeLog(5, line);
  return roots;
}

CertificatePolicy BuildCertificatePolicy(const ProviderSettings& settings) {
  CertificatePolicy policy;
  if (!ParsePins(settings.certpin, policy.pins)) {
    writeLog(1, "Certificate check: certpin \"" + settings.certpin +
                    "\" is not a list of SHA-256 fingerprints; every server certificate is refused");
    // A pin no digest equals: fail closed.
    policy.pins.assign(1, Bytes());
  }
  policy.verifyChain = settings.verifycert;
  if (policy.verifyChain) policy.trustedRoots = LoadTrustedRoots(settings.cafile);
  policy.serverName = settings.domain;
  policy.address = settings.address;
  return policy;
}

CertificateCheck MakeCertificateCheck(const ProviderSettings& settings) {
  if (settings.certpin.empty() && !settings.verifycert) return {};
  auto policy = std::make_shared<const CertificatePolicy>(BuildCertificatePolicy(settings));
  return [policy](const std::vector<Bytes>& chainDer) {
    CertificateVerdict verdict = CheckServerCertificates(chainDer, *policy, CurrentUnixSeconds());
    if (verdict.accepted) {
      writeLog(5, std::string("Certificate check: server certificate accepted (") +
                      (policy->pins.empty() ? "" : "pinned") +
                      (!policy->pins.empty() && policy->verifyChain ? ", " : "") +
                      (policy->verifyChain ? "chain verified" : "") + ")");
    }
    return verdict;
  };
}

std::int64_t CurrentUnixSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace qv
