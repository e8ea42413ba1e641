// Certificate parsing, the chain walk and the name rules.
#include "tls/certificate.h"

#include "crypto/md5.h"
#include "crypto/rsa.h"
#include "crypto/sha1.h"
#include "tls/der_reader.h"

namespace qv {

namespace {

constexpr std::string_view kOidCommonName{"\x55\x04\x03", 3};
constexpr std::string_view kOidOrganizationalUnit{"\x55\x04\x0B", 3};
constexpr std::string_view kOidSha1WithRsa{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x05", 9};
constexpr std::string_view kOidMd5WithRsa{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x04", 9};
constexpr std::string_view kOidRsaEncryption{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01", 9};
constexpr std::string_view kOidRsaPss{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0A", 9};
constexpr std::string_view kOidEcPublicKey{"\x2A\x86\x48\xCE\x3D\x02\x01", 7};
constexpr std::string_view kOidP256{"\x2A\x86\x48\xCE\x3D\x03\x01\x07", 8};
constexpr std::string_view kOidP384{"\x2B\x81\x04\x00\x22", 5};

// What the chain walk needs from one certificate. Views point into the DER.
struct ParsedCertificate {
  std::string_view tbsCertificate;  // header and content, as hashed
  std::string_view signatureAlgorithm;
  Bytes signature;
  std::string_view issuer;
  std::string_view subject;
  std::string_view publicKey;
  CertificateKey keyKind = CertificateKey::kRsa;
  Bytes ecPoint;
  Bytes modulus;
  Bytes exponent;
};

ParsedCertificate parseCertificate(std::string_view der, const TlsLog& log) {
  ParsedCertificate parsed;
  std::string_view certificate = TakeElement(kDerSequence, der).content;
  const DerElement tbs = TakeElement(kDerSequence, certificate);
  parsed.tbsCertificate = tbs.whole;
  parsed.signatureAlgorithm = TakeElement(kDerSequence, certificate).content;
  parsed.signature = StripLeadingZeros(TakeElement(kDerBitString, certificate).content);

  std::string_view fields = tbs.content;
  TakeElement(kDerExplicit0, fields);  // version
  TakeElement(kDerInteger, fields);    // serialNumber
  TakeElement(kDerSequence, fields);   // signature
  parsed.issuer = TakeElement(kDerSequence, fields).content;
  TakeElement(kDerSequence, fields);  // validity
  parsed.subject = TakeElement(kDerSequence, fields).content;
  std::string_view keyInfo = TakeElement(kDerSequence, fields).content;

  std::string_view algorithm = TakeElement(kDerSequence, keyInfo).content;
  const std::string_view keyOid = TakeElement(kDerObjectId, algorithm).content;
  const DerElement keyBitString = TakeElement(kDerBitString, keyInfo);
  if (keyOid == kOidEcPublicKey) {
    const std::string_view curve = TakeElement(kDerObjectId, algorithm).content;
    parsed.keyKind = curve == kOidP256   ? CertificateKey::kEcP256
                     : curve == kOidP384 ? CertificateKey::kEcP384
                                         : CertificateKey::kUnsupported;
    const std::string_view bits = keyBitString.content;
    // Unused-bits byte 0, then the point; its validity is checked where it is used.
    if (bits.size() >= 2 && bits[0] == '\0') parsed.ecPoint = Bytes(bits.substr(1));
    if (tlsLogEnabled(log, 9)) log.write(9, "domain1=" + hexEncode(NameText(parsed.subject)));
    return parsed;
  }
  if (keyOid == kOidRsaPss) {
    parsed.keyKind = CertificateKey::kRsaPss;
  } else if (keyOid != kOidRsaEncryption) {
    parsed.keyKind = CertificateKey::kUnsupported;
  }
  // The BIT STRING's unused-bits byte 0 goes with the leading-zero rule.
  std::string_view keyBits = keyBitString.content;
  parsed.publicKey = TakeElement(kDerSequence, keyBits).content;
  std::string_view key = parsed.publicKey;
  parsed.modulus = StripLeadingZeros(TakeElement(kDerInteger, key).content);
  parsed.exponent = StripLeadingZeros(TakeElement(kDerInteger, key).content);
  if (tlsLogEnabled(log, 9)) log.write(9, "domain1=" + hexEncode(NameText(parsed.subject)));
  return parsed;
}

bool signatureMatches(const ParsedCertificate& certificate, const Bytes& issuerModulus,
                      const Bytes& issuerExponent) {
  std::string_view algorithm = certificate.signatureAlgorithm;
  const std::string_view oid = TakeElement(kDerObjectId, algorithm).content;
  Bytes digest;
  if (oid == kOidSha1WithRsa) {
    digest = sha1Digest(certificate.tbsCertificate);
  } else if (oid == kOidMd5WithRsa) {
    digest = md5Digest(certificate.tbsCertificate);
  } else {
    return false;
  }
  // Keys out of these bounds would take minutes per signature.
  if (issuerModulus.empty() || issuerModulus.size() > kMaxRsaModulusBytes || issuerExponent.empty() ||
      issuerExponent.size() > kMaxRsaExponentBytes) {
    return false;
  }
  const Bytes result = rsaRawPublicOp(issuerExponent, issuerModulus, certificate.signature);
  return result.size() >= digest.size() &&
         result.compare(result.size() - digest.size(), digest.size(), digest) == 0;
}

}  // namespace

Certificate ParseCertificateChain(const std::vector<Bytes>& chain, std::string_view keyText,
                                  const TlsLog& log) {
  Certificate result;
  result.chain = chain;
  const bool verify = keyText.empty();
  if (keyText.size() >= 2) {
    result.privateKeyDer = Bytes(keyText);
    ReadPrivateKey(result, log);
  }
  Bytes issuerModulus;
  Bytes issuerExponent;
  bool haveIssuerKey = false;
  for (std::size_t k = chain.size(); k-- > 0;) {
    const ParsedCertificate parsed = parseCertificate(chain[k], log);
    if (verify) {
      if (!haveIssuerKey) {
        const std::string issuer = NameText(parsed.issuer);
        const std::string wanted = toLowerAscii(issuer);
        bool found = false;
        for (const Certificate& root : TrustRoots()) {
          if (toLowerAscii(NameText(root.subjectName)) == wanted) {
            issuerModulus = root.modulus;
            issuerExponent = root.exponent;
            found = true;
            break;
          }
        }
        if (!found) {
          writeTlsLog(log, 4, "Certificate for " + issuer + " not available");
          result.publicKey = Bytes(parsed.publicKey);
          return result;
        }
      }
      if (!signatureMatches(parsed, issuerModulus, issuerExponent)) {
        writeTlsLog(log, 4, "Certificate could not be verified");
        result.publicKey = Bytes(parsed.publicKey);
        return result;
      }
    }
    if (result.issuerName.empty()) result.issuerName = Bytes(parsed.issuer);
    issuerModulus = parsed.modulus;
    issuerExponent = parsed.exponent;
    haveIssuerKey = true;
    result.publicKey = Bytes(parsed.publicKey);
    if (k == 0) {
      result.subjectName = Bytes(parsed.subject);
      result.keyKind = parsed.keyKind;
      result.ecPoint = parsed.ecPoint;
      result.modulus = parsed.modulus;
      result.exponent = parsed.exponent;
      result.subjectDomain = NameText(parsed.subject);
    }
  }
  return result;
}

void ReadPrivateKey(Certificate& certificate, const TlsLog& log) {
  if (certificate.privateKeyDer.size() < 10) return;
  std::string_view der = certificate.privateKeyDer;
  std::string_view key = TakeElement(kDerSequence, der).content;
  const DerElement keyVersion = TakeElement(kDerInteger, key);
  // Two-prime keys (version 0) only.
  if (!keyVersion.found || !StripLeadingZeros(keyVersion.content).empty()) {
    writeTlsLog(log, 5, "Cannot read private RSA key");
    return;
  }
  certificate.keyModulus = Bytes(TakeElement(kDerInteger, key).content);
  certificate.keyPublicExponent = Bytes(TakeElement(kDerInteger, key).content);
  certificate.keyPrivateExponent = Bytes(TakeElement(kDerInteger, key).content);
  certificate.keyPrime1 = Bytes(TakeElement(kDerInteger, key).content);
  certificate.keyPrime2 = Bytes(TakeElement(kDerInteger, key).content);
}

std::string_view CertificateKeyName(CertificateKey key) {
  switch (key) {
    case CertificateKey::kRsa:
      return "RSA";
    case CertificateKey::kRsaPss:
      return "RSA-PSS";
    case CertificateKey::kEcP256:
      return "ECDSA P-256";
    case CertificateKey::kEcP384:
      return "ECDSA P-384";
    case CertificateKey::kUnsupported:
      break;
  }
  return "unsupported";
}

std::string NameText(std::string_view name) {
  std::string result;
  for (DerElement set = TakeElement(kDerSet, name); set.found; set = TakeElement(kDerSet, name)) {
    std::string_view attributes = set.content;
    std::string_view attribute = TakeElement(kDerSequence, attributes).content;
    const std::string_view oid = TakeElement(kDerObjectId, attribute).content;
    if (oid != kOidCommonName && oid != kOidOrganizationalUnit) continue;
    const DerElement value = NextElement(attribute);
    if (value.found && (value.tag == 12 || value.tag == 19 || value.tag == 20)) {
      result = std::string(value.content);
    }
  }
  return result;
}

bool DomainMatches(std::string_view certificateDomain, std::string_view expected) {
  const std::string domain = toLowerAscii(certificateDomain);
  const std::string host = toLowerAscii(expected);
  if (domain == host) return true;
  if (domain.size() < 2 || domain.compare(0, 2, "*.") != 0) return false;
  if (domain.compare(2, std::string::npos, host) == 0) return true;
  const std::string_view suffix = std::string_view(domain).substr(1);
  return host.size() >= suffix.size() &&
         host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace qv
