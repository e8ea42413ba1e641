// tsphost pbxcert: connects to the PBX of the stored settings with our own
// TLS engine, prints the certificate chain the PBX presents and what the
// stored certpin and verifycert would make of it.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "session/certificate_settings.h"
#include "session/settings.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"
#include "tls/x509_fields.h"
#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {

namespace {

// Time for the connect and for the server's first flight.
constexpr int kConnectLimitMs = 10000;
constexpr int kReceiveLimitMs = 10000;

// The server's chain, or empty (reason says why).
std::vector<Bytes> fetchChain(const ProviderSettings& settings, std::string& reason) {
  std::vector<Bytes> chain;
  std::atomic<bool> cancel{false};
  const ConnectResult connection =
      connectTcp(settings.address, std::to_string(settings.port), cancel, kConnectLimitMs);
  if (connection.lookupUnfinished) {
    reason = "name lookup of " + settings.address + " not answered";
    return chain;
  }
  if (connection.status != 0) {
    reason = "cannot connect (error " + std::to_string(connection.status) + ")";
    return chain;
  }
  TlsLog log;
  log.enabled = [](int level) { return level <= 1; };
  log.write = [](int, std::string_view text) {
    std::printf("  tls: %.*s\n", static_cast<int>(text.size()), text.data());
  };
  TlsConnection tls(std::move(log));
  tls.SetServerName(settings.domain);
  tls.SetVerifyCertificates(false);
  // The versions the provider would offer, so the PBX shows the chain it
  // gives the provider (an EC certificate needs TLS 1.2 or later).
  tls.SetVersionPolicy(ParseTlsVersionPolicy(settings.tlsversion).value_or(TlsVersionPolicy::kTls10));
  bool received = false;
  // Only look: the chain is judged below with every policy, not here.
  tls.SetCertificateCheck([&](const std::vector<Bytes>& chainDer) {
    chain = chainDer;
    received = true;
    return CertificateVerdict{};
  });
  tls.StartClient();
  char buffer[16384];
  while (!received && !tls.Failed()) {
    const Bytes out = tls.SendApplicationData({});
    if (!out.empty() && !sendAll(connection.socket, out)) {
      reason = "connection lost while sending";
      break;
    }
    if (!waitReadable(connection.socket, kReceiveLimitMs)) {
      reason = "no answer within " + std::to_string(kReceiveLimitMs / 1000) + " s";
      break;
    }
    const long n = receiveSome(connection.socket, buffer, sizeof buffer);
    if (n <= 0) {
      reason = "connection closed by the PBX";
      break;
    }
    tls.ReceiveBytes(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  if (!received && reason.empty()) reason = "the TLS handshake failed before the certificate";
  closeSocket(connection.socket);
  return chain;
}

const char* hashText(HashAlgorithm hash) {
  switch (hash) {
    case HashAlgorithm::kMd5:
      return "MD5";
    case HashAlgorithm::kSha1:
      return "SHA-1";
    case HashAlgorithm::kSha256:
      return "SHA-256";
    case HashAlgorithm::kSha384:
      return "SHA-384";
    case HashAlgorithm::kSha512:
      return "SHA-512";
  }
  return "?";
}

std::string algorithmText(const X509Fields& fields) {
  std::string_view name = SignatureAlgorithmName(fields.signatureAlgorithm);
  if (name.empty()) return OidText(fields.signatureOid);
  std::string text(name);
  const bool hashed = fields.signatureAlgorithm == SignatureAlgorithm::kEcdsa ||
                      fields.signatureAlgorithm == SignatureAlgorithm::kRsaPss;
  if (hashed) {
    text += fields.signatureHash ? std::string(" with ") + hashText(*fields.signatureHash)
                                 : " (parameters not supported)";
  }
  if (fields.signatureAlgorithm == SignatureAlgorithm::kEcdsa)
    text += " (" + OidText(fields.signatureOid) + ")";
  return text;
}

// The key as an administrator compares it with the PBX's configuration.
std::string keyText(const X509Fields& fields) {
  switch (fields.keyAlgorithm) {
    case KeyAlgorithm::kRsa:
      return "RSA, " + std::to_string(fields.keyBits) + " bits";
    case KeyAlgorithm::kRsaPss:
      return "RSA-PSS, " + std::to_string(fields.keyBits) + " bits";
    case KeyAlgorithm::kEc:
      if (fields.keyBits == 256) return "EC P-256 (secp256r1)";
      if (fields.keyBits == 384) return "EC P-384 (secp384r1)";
      if (fields.keyBits == 521) return "EC P-521 (secp521r1), not supported";
      return "EC on a curve not supported";
    case KeyAlgorithm::kUnknown:
      break;
  }
  return "unknown";
}

void printCertificate(std::size_t index, const Bytes& der) {
  std::printf("certificate %zu%s\n", index + 1, index == 0 ? " (the PBX's own)" : "");
  X509Fields fields;
  std::string problem;
  if (!ReadX509Fields(der, fields, problem)) {
    std::printf("  cannot be read: %s\n", problem.c_str());
  } else {
    std::string names;
    for (const std::string& dns : fields.dnsNames) names += (names.empty() ? "DNS:" : ", DNS:") + dns;
    for (const Bytes& ip : fields.ipAddresses) names += (names.empty() ? "IP:" : ", IP:") + IpAddressText(ip);
    if (!fields.hasSubjectAltName) names = "(none)";
    std::printf("  subject:  %s\n", NameDisplay(fields.subject).c_str());
    std::printf("  issuer:   %s\n", NameDisplay(fields.issuer).c_str());
    std::printf("  valid:    %s to %s\n", TimeText(fields.notBefore).c_str(),
                TimeText(fields.notAfter).c_str());
    std::printf("  SAN:      %s\n", names.c_str());
    std::printf("  key:      %s\n", keyText(fields).c_str());
    std::printf("  signed:   %s\n", algorithmText(fields).c_str());
    std::printf("  CA:       %s\n", fields.isCa ? "yes" : "no");
  }
  std::printf("  sha256:   %s\n", FingerprintText(der).c_str());
}

std::string verdictText(const CertificateVerdict& verdict) {
  if (verdict.accepted) return "accepted";
  return "refused (alert " + std::to_string(verdict.alert) + "): " + verdict.logLine;
}

}  // namespace

int runPbxcert(const std::vector<std::string>& args) {
  if (args.size() > 1) {
    std::printf("usage: tsphost pbxcert [provider file]\n");
    return 2;
  }
  // The settings are the provider's registry values; the provider file is
  // not loaded.
  ReadSettings();
  const ProviderSettings settings = SettingsSnapshot();
  if (settings.address.empty()) {
    std::printf("no PBX address stored\n");
    return 1;
  }
  if (!startNetworking()) {
    std::printf("networking unavailable\n");
    return 1;
  }
  std::printf("PBX %s port %d, server name \"%s\"%s\n", settings.address.c_str(),
              static_cast<int>(settings.port), settings.domain.c_str(),
              settings.encrypt ? "" : " (encrypt is off: TLS used here anyway)");
  std::string reason;
  const std::vector<Bytes> chain = fetchChain(settings, reason);
  stopNetworking();
  if (chain.empty()) {
    std::printf("no certificate: %s\n", reason.c_str());
    return 1;
  }
  for (std::size_t k = 0; k < chain.size(); ++k) printCertificate(k, chain[k]);

  const std::int64_t now = CurrentUnixSeconds();
  const CertificatePolicy stored = BuildCertificatePolicy(settings);
  CertificatePolicy pinsOnly = stored;
  pinsOnly.verifyChain = false;
  CertificatePolicy verifyOnly = stored;
  verifyOnly.pins.clear();
  verifyOnly.verifyChain = true;
  if (!stored.verifyChain) verifyOnly.trustedRoots = LoadTrustedRoots(settings.cafile);

  std::printf("certpin:    %s\n", settings.certpin.empty()
                                      ? "not set"
                                      : verdictText(CheckServerCertificates(chain, pinsOnly, now)).c_str());
  std::printf("verifycert: %d, %zu trusted roots%s; verification %s\n", settings.verifycert ? 1 : 0,
              verifyOnly.trustedRoots.size(),
              settings.cafile.empty() ? "" : (" with cafile " + settings.cafile).c_str(),
              verdictText(CheckServerCertificates(chain, verifyOnly, now)).c_str());
  if (settings.certpin.empty() && !settings.verifycert) {
    std::printf("verdict:    accepted (no check configured)\n");
    return 0;
  }
  const CertificateVerdict verdict = CheckServerCertificates(chain, stored, now);
  std::printf("verdict:    %s\n", verdictText(verdict).c_str());
  return 0;
}

}  // namespace qv::tsphost
