// The server-certificate check: pins, then the chain walk to a trusted root,
// dates, CA flags, signatures and the name. The first failure decides.
#include "tls/certificate_policy.h"

#include "crypto/digest.h"
#include "crypto/rsa.h"
#include "crypto/rsa_verify.h"
#include "crypto/sha256.h"
#include "tls/ec_keys.h"
#include "tls/x509_fields.h"

namespace qv {

namespace {

namespace alert = certificate_alert;

CertificateVerdict refuse(std::uint8_t description, std::string line) {
  return CertificateVerdict{false, description, std::move(line)};
}

std::string subjectText(const X509Fields& fields) {
  std::string name = NameDisplay(fields.subject);
  return name.empty() ? "(empty subject)" : name;
}

std::string algorithmName(SignatureAlgorithm algorithm) {
  std::string_view name = SignatureAlgorithmName(algorithm);
  return name.empty() ? "an unknown algorithm" : std::string(name);
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string printableText(std::string_view text) {
  std::string out;
  for (char c : text) out += c >= 0x20 && c < 0x7F ? c : '?';
  return out;
}

std::string withoutTrailingDot(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return toLowerAscii(name);
}

// The names the leaf must carry one of: DNS names and at most one IP address.
struct ExpectedNames {
  std::vector<std::string> hosts;
  std::vector<Bytes> ips;
  std::string text;
};

ExpectedNames expectedNames(const CertificatePolicy& policy) {
  ExpectedNames expected;
  for (const std::string& name : {policy.serverName, policy.address}) {
    if (name.empty()) continue;
    if (!expected.text.empty()) expected.text += " or ";
    expected.text += name;
    Bytes ip;
    if (ParseIpAddress(name, ip)) {
      expected.ips.push_back(ip);
    } else {
      expected.hosts.push_back(name);
    }
  }
  return expected;
}

bool leafNamesServer(const X509Fields& leaf, const ExpectedNames& expected) {
  if (leaf.hasSubjectAltName) {
    for (const Bytes& ip : leaf.ipAddresses) {
      for (const Bytes& wanted : expected.ips) {
        if (ip == wanted) return true;
      }
    }
    for (const std::string& dns : leaf.dnsNames) {
      for (const std::string& host : expected.hosts) {
        if (HostNameMatches(dns, host)) return true;
      }
    }
    return false;
  }
  // Without subject alternative names the common name stands for the DNS name.
  const std::string commonName = CommonName(leaf.subject);
  for (const std::string& host : expected.hosts) {
    if (!commonName.empty() && HostNameMatches(commonName, host)) return true;
  }
  return false;
}

std::string namesCarried(const X509Fields& leaf) {
  std::string text;
  auto add = [&](const std::string& name) {
    if (!text.empty()) text += ", ";
    text += name;
  };
  if (leaf.hasSubjectAltName) {
    for (const std::string& dns : leaf.dnsNames) add(printableText(dns));
    for (const Bytes& ip : leaf.ipAddresses) add(IpAddressText(ip));
  } else {
    add(CommonName(leaf.subject));
  }
  return text.empty() ? "no name" : text;
}

bool digestFor(SignatureAlgorithm algorithm, HashAlgorithm& hash) {
  switch (algorithm) {
    case SignatureAlgorithm::kRsaSha256:
      hash = HashAlgorithm::kSha256;
      return true;
    case SignatureAlgorithm::kRsaSha384:
      hash = HashAlgorithm::kSha384;
      return true;
    case SignatureAlgorithm::kRsaSha512:
      hash = HashAlgorithm::kSha512;
      return true;
    default:
      return false;
  }
}

// Checks what the certificate itself must satisfy: dates and extensions.
CertificateVerdict checkOwnFields(const X509Fields& fields, std::int64_t now) {
  if (now < fields.notBefore) {
    return refuse(alert::kCertificateExpired, "Certificate of " + subjectText(fields) +
                                                  " is not valid before " + TimeText(fields.notBefore));
  }
  if (now > fields.notAfter) {
    return refuse(alert::kCertificateExpired,
                  "Certificate of " + subjectText(fields) + " expired " + TimeText(fields.notAfter));
  }
  if (!fields.unknownCriticalExtensions.empty()) {
    return refuse(alert::kUnsupportedCertificate, "Certificate of " + subjectText(fields) +
                                                      " has an unsupported critical extension " +
                                                      OidText(fields.unknownCriticalExtensions.front()));
  }
  return {};
}

// Checks that issuer may sign and did sign subject.
CertificateVerdict checkSignature(const X509Fields& subject, const X509Fields& issuer) {
  if (!issuer.hasBasicConstraints || !issuer.isCa) {
    return refuse(alert::kBadCertificate, "Certificate of " + subjectText(issuer) +
                                              " is not a CA certificate but issued " + subjectText(subject));
  }
  HashAlgorithm hash = HashAlgorithm::kSha256;
  if (subject.signatureAlgorithm == SignatureAlgorithm::kRsaSha1 ||
      subject.signatureAlgorithm == SignatureAlgorithm::kRsaMd5) {
    return refuse(alert::kBadCertificate, "Certificate of " + subjectText(subject) + " is signed with " +
                                              algorithmName(subject.signatureAlgorithm) +
                                              ", which is refused");
  }
  const bool ecdsa = subject.signatureAlgorithm == SignatureAlgorithm::kEcdsa;
  const bool pss = subject.signatureAlgorithm == SignatureAlgorithm::kRsaPss;
  if ((ecdsa || pss) && subject.signatureHash) {
    hash = *subject.signatureHash;
  } else if (ecdsa || pss || !digestFor(subject.signatureAlgorithm, hash)) {
    return refuse(alert::kUnsupportedCertificate,
                  "Certificate of " + subjectText(subject) + " is signed with " +
                      algorithmName(subject.signatureAlgorithm) + " (" + OidText(subject.signatureOid) +
                      "), which this verifier does not implement");
  }
  const Bytes digest = digestOf(hash, subject.tbs);
  if (ecdsa) {
    if (issuer.keyAlgorithm != KeyAlgorithm::kEc) {
      return refuse(alert::kBadCertificate, "Certificate of " + subjectText(subject) +
                                                " claims an ECDSA signature but its issuer " +
                                                subjectText(issuer) + " has no EC key");
    }
    if (issuer.ecPoint.empty()) {
      return refuse(alert::kUnsupportedCertificate, "Certificate of " + subjectText(issuer) +
                                                        " has an EC key on a curve we do not verify with");
    }
    const CertificateKey curve = issuer.keyBits == 256 ? CertificateKey::kEcP256 : CertificateKey::kEcP384;
    if (!EcCertificatePointValid(curve, issuer.ecPoint)) {
      return refuse(alert::kBadCertificate, "Certificate of " + subjectText(issuer) +
                                                " has an EC key that is not a point of its curve");
    }
    if (!VerifyEcdsaDigest(curve, issuer.ecPoint, digest, subject.signature)) {
      return refuse(alert::kBadCertificate, "Signature of " + subjectText(issuer) +
                                                " on the certificate of " + subjectText(subject) +
                                                " does not verify");
    }
    return {};
  }
  const bool rsaIssuer =
      issuer.keyAlgorithm == KeyAlgorithm::kRsa || (pss && issuer.keyAlgorithm == KeyAlgorithm::kRsaPss);
  if (!rsaIssuer) {
    return refuse(alert::kBadCertificate, "Certificate of " + subjectText(subject) +
                                              " claims an RSA signature but its issuer " +
                                              subjectText(issuer) + " has no RSA key");
  }
  if (issuer.keyBits < kMinSigningKeyBits || issuer.keyBits > kMaxSigningKeyBits || issuer.exponent.empty() ||
      issuer.exponent.size() > 4) {
    return refuse(alert::kUnsupportedCertificate, "Certificate of " + subjectText(issuer) +
                                                      " has an RSA key of " + std::to_string(issuer.keyBits) +
                                                      " bits, outside what we verify with");
  }
  RsaKey key;
  key.setPublicKey(issuer.exponent, issuer.modulus);
  const bool verified = pss ? rsaVerifyPss(key, hash, digest, subject.signature)
                            : rsaVerifyPkcs1(key, hash, digest, subject.signature);
  if (!verified) {
    return refuse(alert::kBadCertificate, "Signature of " + subjectText(issuer) + " on the certificate of " +
                                              subjectText(subject) + " does not verify");
  }
  return {};
}

CertificateVerdict checkPins(const Bytes& leafDer, const std::vector<Bytes>& pins) {
  const Bytes digest = sha256Digest(leafDer);
  for (const Bytes& pin : pins) {
    if (pin == digest) return {};
  }
  X509Fields fields;
  std::string problem;
  const std::string subject = ReadX509Fields(leafDer, fields, problem) ? subjectText(fields) : "(unreadable)";
  return refuse(alert::kBadCertificate, "Certificate of " + subject + " with SHA-256 fingerprint " +
                                            FingerprintText(leafDer) + " matches no certpin");
}

CertificateVerdict verifyChain(const std::vector<Bytes>& chainDer, const CertificatePolicy& policy,
                               std::int64_t now) {
  if (chainDer.size() > kMaxVerifiedChainLength) {
    return refuse(alert::kBadCertificate,
                  "Server sent " + std::to_string(chainDer.size()) + " certificates, more than we verify");
  }
  // The path ends at the first certificate that is itself a trusted root.
  std::size_t length = chainDer.size();
  bool endsAtRoot = false;
  for (std::size_t k = 0; k < chainDer.size() && !endsAtRoot; ++k) {
    for (const Bytes& root : policy.trustedRoots) {
      if (root == chainDer[k]) {
        length = k + 1;
        endsAtRoot = true;
        break;
      }
    }
  }
  std::vector<X509Fields> path(length);
  for (std::size_t k = 0; k < length; ++k) {
    std::string problem;
    if (!ReadX509Fields(chainDer[k], path[k], problem)) {
      return refuse(alert::kBadCertificate, "Certificate " + std::to_string(k + 1) +
                                                " of the server's chain cannot be read: " + problem);
    }
  }
  const ExpectedNames expected = expectedNames(policy);
  if (!leafNamesServer(path[0], expected)) {
    return refuse(alert::kBadCertificate, "Certificate of " + subjectText(path[0]) + " names " +
                                              namesCarried(path[0]) + ", not " +
                                              (expected.text.empty() ? "(no server name)" : expected.text));
  }
  for (const X509Fields& fields : path) {
    if (CertificateVerdict verdict = checkOwnFields(fields, now); !verdict.accepted) return verdict;
  }
  for (std::size_t k = 0; k + 1 < length; ++k) {
    if (path[k].issuer != path[k + 1].subject) {
      return refuse(alert::kBadCertificate, "Certificate of " + subjectText(path[k]) +
                                                " is not issued by the next one in the chain, " +
                                                subjectText(path[k + 1]));
    }
  }
  for (std::size_t k = 0; k + 1 < length; ++k) {
    if (CertificateVerdict verdict = checkSignature(path[k], path[k + 1]); !verdict.accepted) return verdict;
  }
  // A root sent by the server is trusted as it is: its own signature is not looked at.
  if (endsAtRoot) return {};
  // A trusted root with the top certificate's issuer as subject.
  const X509Fields& top = path[length - 1];
  CertificateVerdict last =
      refuse(alert::kUnknownCa, "Certificate of " + subjectText(top) + " is issued by " +
                                    NameDisplay(top.issuer) + ", which is not a trusted root");
  for (const Bytes& rootDer : policy.trustedRoots) {
    X509Fields root;
    std::string problem;
    if (!ReadX509Fields(rootDer, root, problem) || root.subject != top.issuer) continue;
    CertificateVerdict verdict = checkOwnFields(root, now);
    if (verdict.accepted) verdict = checkSignature(top, root);
    if (verdict.accepted) return verdict;
    last = std::move(verdict);
  }
  return last;
}

}  // namespace

CertificateVerdict CheckServerCertificates(const std::vector<Bytes>& chainDer,
                                           const CertificatePolicy& policy, std::int64_t nowUnixSeconds) {
  if (policy.pins.empty() && !policy.verifyChain) return {};
  if (chainDer.empty()) return refuse(alert::kBadCertificate, "Server sent no certificate");
  if (!policy.pins.empty()) {
    if (CertificateVerdict verdict = checkPins(chainDer[0], policy.pins); !verdict.accepted) return verdict;
  }
  if (policy.verifyChain) return verifyChain(chainDer, policy, nowUnixSeconds);
  return {};
}

bool ParsePins(std::string_view text, std::vector<Bytes>& pins) {
  pins.clear();
  while (!text.empty()) {
    const std::size_t end = text.find_first_of(";,");
    const std::string token = trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (token.empty()) continue;
    Bytes pin;
    int high = -1;
    for (char c : token) {
      if (c == ':') continue;
      const int value = hexValue(c);
      if (value < 0) return false;
      if (high < 0) {
        high = value;
      } else {
        pin += static_cast<char>(high * 16 + value);
        high = -1;
      }
    }
    if (high >= 0 || pin.size() != 32) return false;
    pins.push_back(std::move(pin));
  }
  return true;
}

std::string FingerprintText(const Bytes& der) {
  static const char digits[] = "0123456789ABCDEF";
  const Bytes digest = sha256Digest(der);
  std::string text;
  for (char c : digest) {
    if (!text.empty()) text += ':';
    text += digits[static_cast<std::uint8_t>(c) >> 4];
    text += digits[static_cast<std::uint8_t>(c) & 15];
  }
  return text;
}

bool HostNameMatches(std::string_view pattern, std::string_view host) {
  const std::string p = withoutTrailingDot(pattern);
  const std::string h = withoutTrailingDot(host);
  if (p.empty() || h.empty()) return false;
  if (p.compare(0, 2, "*.") != 0) return p.find('*') == std::string::npos && p == h;
  // "*.b.c": the rest must still have two labels, and host one label more.
  const std::string_view suffix = std::string_view(p).substr(1);  // ".b.c"
  if (suffix.find('*') != std::string_view::npos || suffix.find('.', 1) == std::string_view::npos)
    return false;
  if (h.size() <= suffix.size() || h.compare(h.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const std::string_view label = std::string_view(h).substr(0, h.size() - suffix.size());
  return !label.empty() && label.find('.') == std::string_view::npos;
}

}  // namespace qv
