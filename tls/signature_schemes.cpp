// Signature schemes: which key makes which, their check with a certificate's
// key, and the client's choice among the schemes a server asks for.
#include "tls/signature_schemes.h"

#include "crypto/rsa_verify.h"
#include "tls/ec_keys.h"
#include "tls/hello_extensions.h"

namespace qv {

namespace {

enum class SchemeKey { kRsaPkcs1, kRsaPssRsae, kRsaPssPss, kEcdsa };

struct SchemeRow {
  std::uint16_t scheme;
  std::string_view name;
  SchemeKey key;
  HashAlgorithm hash;
  // ECDSA: the curve TLS 1.3 binds the scheme to (kUnsupported for P-521).
  CertificateKey curve;
};

constexpr SchemeRow kSchemes[] = {
    {kSchemeRsaPkcs1Sha256, "rsa_pkcs1_sha256", SchemeKey::kRsaPkcs1, HashAlgorithm::kSha256,
     CertificateKey::kRsa},
    {kSchemeRsaPkcs1Sha384, "rsa_pkcs1_sha384", SchemeKey::kRsaPkcs1, HashAlgorithm::kSha384,
     CertificateKey::kRsa},
    {kSchemeRsaPkcs1Sha512, "rsa_pkcs1_sha512", SchemeKey::kRsaPkcs1, HashAlgorithm::kSha512,
     CertificateKey::kRsa},
    {kSchemeRsaPssRsaeSha256, "rsa_pss_rsae_sha256", SchemeKey::kRsaPssRsae, HashAlgorithm::kSha256,
     CertificateKey::kRsa},
    {kSchemeRsaPssRsaeSha384, "rsa_pss_rsae_sha384", SchemeKey::kRsaPssRsae, HashAlgorithm::kSha384,
     CertificateKey::kRsa},
    {kSchemeRsaPssRsaeSha512, "rsa_pss_rsae_sha512", SchemeKey::kRsaPssRsae, HashAlgorithm::kSha512,
     CertificateKey::kRsa},
    {kSchemeRsaPssPssSha256, "rsa_pss_pss_sha256", SchemeKey::kRsaPssPss, HashAlgorithm::kSha256,
     CertificateKey::kRsaPss},
    {kSchemeRsaPssPssSha384, "rsa_pss_pss_sha384", SchemeKey::kRsaPssPss, HashAlgorithm::kSha384,
     CertificateKey::kRsaPss},
    {kSchemeRsaPssPssSha512, "rsa_pss_pss_sha512", SchemeKey::kRsaPssPss, HashAlgorithm::kSha512,
     CertificateKey::kRsaPss},
    {kSchemeEcdsaSecp256r1Sha256, "ecdsa_secp256r1_sha256", SchemeKey::kEcdsa, HashAlgorithm::kSha256,
     CertificateKey::kEcP256},
    {kSchemeEcdsaSecp384r1Sha384, "ecdsa_secp384r1_sha384", SchemeKey::kEcdsa, HashAlgorithm::kSha384,
     CertificateKey::kEcP384},
    {kSchemeEcdsaSecp521r1Sha512, "ecdsa_secp521r1_sha512", SchemeKey::kEcdsa, HashAlgorithm::kSha512,
     CertificateKey::kUnsupported},
};

const SchemeRow* findScheme(std::uint16_t scheme) {
  for (const SchemeRow& row : kSchemes) {
    if (row.scheme == scheme) return &row;
  }
  return nullptr;
}

bool isEc(CertificateKey key) { return key == CertificateKey::kEcP256 || key == CertificateKey::kEcP384; }

std::string_view keyText(CertificateKey key) { return CertificateKeyName(key); }

// Whether a key of this kind may make the scheme under the version's rules.
// TLS 1.2 lets an ECDSA key sign with any of the ECDSA hashes (RFC 8422 5.10).
bool keyFits(const SchemeRow& row, CertificateKey key, bool tls13) {
  switch (row.key) {
    case SchemeKey::kRsaPkcs1:
      return !tls13 && key == CertificateKey::kRsa;
    case SchemeKey::kRsaPssRsae:
      return key == CertificateKey::kRsa;
    case SchemeKey::kRsaPssPss:
      return key == CertificateKey::kRsaPss;
    case SchemeKey::kEcdsa:
      return tls13 ? key == row.curve : isEc(key);
  }
  return false;
}

const std::vector<std::uint16_t> kOffered12 = {
    kSchemeRsaPkcs1Sha256,       kSchemeRsaPkcs1Sha384,       kSchemeRsaPkcs1Sha512,
    kSchemeRsaPssRsaeSha256,     kSchemeRsaPssRsaeSha384,     kSchemeRsaPssRsaeSha512,
    kSchemeEcdsaSecp256r1Sha256, kSchemeEcdsaSecp384r1Sha384, kSchemeRsaPssPssSha256,
    kSchemeRsaPssPssSha384,      kSchemeRsaPssPssSha512,
};
// A TLS 1.3 hello may meet a TLS 1.2 server, so PKCS#1 stays at the end.
const std::vector<std::uint16_t> kOffered13 = {
    kSchemeEcdsaSecp256r1Sha256, kSchemeEcdsaSecp384r1Sha384, kSchemeRsaPssRsaeSha256,
    kSchemeRsaPssRsaeSha384,     kSchemeRsaPssRsaeSha512,     kSchemeRsaPssPssSha256,
    kSchemeRsaPssPssSha384,      kSchemeRsaPssPssSha512,      kSchemeRsaPkcs1Sha256,
    kSchemeRsaPkcs1Sha384,       kSchemeRsaPkcs1Sha512,
};

}  // namespace

bool VerifySignatureScheme(const Certificate& certificate, std::uint16_t scheme,
                           std::string_view signedContent, std::string_view signature, bool tls13,
                           std::string* error) {
  auto fail = [&](std::string text) {
    if (error != nullptr) *error = std::move(text);
    return false;
  };
  const SchemeRow* row = findScheme(scheme);
  if (row == nullptr) return fail("Signature scheme " + SignatureSchemeName(scheme) + " is not supported");
  if (!keyFits(*row, certificate.keyKind, tls13)) {
    return fail("Signature scheme " + std::string(row->name) + " does not fit the certificate's " +
                std::string(keyText(certificate.keyKind)) + " key" +
                (tls13 && row->key == SchemeKey::kRsaPkcs1 ? " in TLS 1.3" : ""));
  }
  const Bytes digest = digestOf(row->hash, signedContent);
  if (row->key == SchemeKey::kEcdsa) {
    if (!VerifyEcdsaDigest(certificate.keyKind, certificate.ecPoint, digest, signature)) {
      return fail("Signature (" + std::string(row->name) + ") does not verify with the certificate's " +
                  std::string(keyText(certificate.keyKind)) + " key");
    }
    return true;
  }
  const Bytes& n = certificate.modulus;
  const Bytes& e = certificate.exponent;
  if (n.empty() || n.size() > kMaxRsaModulusBytes || e.empty() || e.size() > kMaxRsaExponentBytes) {
    return fail("Certificate's RSA key of " + std::to_string(n.size() * 8) + " bits is not usable");
  }
  RsaKey key;
  key.setPublicKey(e, n);
  const bool good = row->key == SchemeKey::kRsaPkcs1 ? rsaVerifyPkcs1(key, row->hash, digest, signature)
                                                     : rsaVerifyPss(key, row->hash, digest, signature);
  if (!good) {
    return fail("Signature (" + std::string(row->name) + ") does not verify with the certificate's " +
                std::string(keyText(certificate.keyKind)) + " key");
  }
  return true;
}

const std::vector<std::uint16_t>& OfferedSignatureSchemes(bool tls13) {
  return tls13 ? kOffered13 : kOffered12;
}

std::optional<std::uint16_t> ChooseClientScheme(const ClientCredentials& credentials,
                                                const std::vector<std::uint16_t>& peerSchemes, bool tls13) {
  for (const std::uint16_t scheme : peerSchemes) {
    const SchemeRow* row = findScheme(scheme);
    if (row == nullptr || (tls13 && row->key == SchemeKey::kRsaPkcs1)) continue;
    for (const std::uint16_t own : credentials.supportedSchemes) {
      if (own == scheme) return scheme;
    }
  }
  return std::nullopt;
}

std::optional<HashAlgorithm> SignatureSchemeHash(std::uint16_t scheme) {
  const SchemeRow* row = findScheme(scheme);
  if (row == nullptr) return std::nullopt;
  return row->hash;
}

std::string SignatureSchemeName(std::uint16_t scheme) {
  const SchemeRow* row = findScheme(scheme);
  return row != nullptr ? std::string(row->name) : hexEncode(uintToBytes(scheme, 2));
}

std::vector<std::uint16_t> SchemesForKey(const Certificate& certificate, bool tls13) {
  std::vector<std::uint16_t> schemes;
  for (const std::uint16_t scheme : OfferedSignatureSchemes(tls13)) {
    const SchemeRow* row = findScheme(scheme);
    if (row != nullptr && keyFits(*row, certificate.keyKind, tls13)) schemes.push_back(scheme);
  }
  return schemes;
}

}  // namespace qv
