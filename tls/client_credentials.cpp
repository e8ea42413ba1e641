// Client credentials from a PEM file: the chain, the key that belongs to
// its leaf, and the schemes that key signs with.
#include <memory>

#include "crypto/ecdsa.h"
#include "crypto/rsa_sign.h"
#include "tls/hello_extensions.h"
#include "tls/pem.h"
#include "tls/private_key.h"
#include "tls/signature_schemes.h"

namespace qv {

namespace {

bool isPkcs1(std::uint16_t scheme) {
  return scheme == kSchemeRsaPkcs1Sha256 || scheme == kSchemeRsaPkcs1Sha384 ||
         scheme == kSchemeRsaPkcs1Sha512;
}

// The schemes the key can make, best first. PSS needs a modulus of at least
// twice the hash plus two bytes (RFC 8017 9.1.1 with the salt as long as the hash).
std::vector<std::uint16_t> schemesOf(const PrivateKey& key) {
  if (key.type == PrivateKeyType::kEc) {
    return {key.curve == EcCurve::kP256 ? kSchemeEcdsaSecp256r1Sha256 : kSchemeEcdsaSecp384r1Sha384};
  }
  const std::vector<std::uint16_t> candidates =
      key.type == PrivateKeyType::kRsaPss
          ? std::vector<std::uint16_t>{kSchemeRsaPssPssSha256, kSchemeRsaPssPssSha384, kSchemeRsaPssPssSha512}
          : std::vector<std::uint16_t>{kSchemeRsaPssRsaeSha256, kSchemeRsaPssRsaeSha384,
                                       kSchemeRsaPssRsaeSha512, kSchemeRsaPkcs1Sha256,
                                       kSchemeRsaPkcs1Sha384,   kSchemeRsaPkcs1Sha512};
  std::vector<std::uint16_t> schemes;
  const std::size_t modulusBits = key.rsa.n.bitLength();
  for (const std::uint16_t scheme : candidates) {
    const std::size_t hashBytes = digestSize(*SignatureSchemeHash(scheme));
    if (isPkcs1(scheme) || (modulusBits + 6) / 8 >= 2 * hashBytes + 2) schemes.push_back(scheme);
  }
  return schemes;
}

// Whether the private key is the one of the leaf certificate.
bool keyMatches(const PrivateKey& key, const Certificate& leaf) {
  switch (key.type) {
    case PrivateKeyType::kRsa:
    case PrivateKeyType::kRsaPss:
      return leaf.keyKind ==
                 (key.type == PrivateKeyType::kRsa ? CertificateKey::kRsa : CertificateKey::kRsaPss) &&
             leaf.modulus == key.rsa.n.toBytes() && leaf.exponent == key.rsa.e.toBytes();
    case PrivateKeyType::kEc:
      return leaf.keyKind ==
                 (key.curve == EcCurve::kP256 ? CertificateKey::kEcP256 : CertificateKey::kEcP384) &&
             leaf.ecPoint == key.ecPublic;
  }
  return false;
}

Bytes signWith(const PrivateKey& key, const std::vector<std::uint16_t>& schemes, std::uint16_t scheme,
               std::string_view content) {
  bool known = false;
  for (const std::uint16_t own : schemes) known = known || own == scheme;
  if (!known) return {};
  const HashAlgorithm hash = *SignatureSchemeHash(scheme);
  const Bytes digest = digestOf(hash, content);
  if (key.type == PrivateKeyType::kEc) return ecdsaSignDer(key.curve, key.ecScalar, hash, digest);
  if (isPkcs1(scheme)) return rsaSignPkcs1Digest(key.rsa, hash, digest);
  return rsaSignPss(key.rsa, hash, digest, randomBytes(static_cast<int>(digestSize(hash))));
}

}  // namespace

std::optional<ClientCredentials> ClientCredentialsFromPem(std::string_view pemText, std::string* error) {
  auto fail = [&](std::string text) -> std::optional<ClientCredentials> {
    if (error != nullptr) *error = std::move(text);
    return std::nullopt;
  };
  if (pemText.size() > kMaxPemBundleBytes) return fail("Client certificate file is too large");
  std::vector<Bytes> chain = ReadPemCertificates(pemText);
  if (chain.empty()) return fail("Client certificate file holds no certificate");
  std::string keyError;
  std::optional<PrivateKey> key = ReadPemPrivateKey(pemText, &keyError);
  if (!key) return fail("Client certificate file has no usable private key: " + keyError);
  const Certificate leaf = ParseCertificateChain({chain[0]}, " ", {});
  if (!keyMatches(*key, leaf)) {
    return fail("Client certificate file's private key is not the key of its first certificate (" +
                std::string(CertificateKeyName(leaf.keyKind)) + ")");
  }
  ClientCredentials credentials;
  credentials.chainDer = std::move(chain);
  credentials.supportedSchemes = schemesOf(*key);
  if (credentials.supportedSchemes.empty())
    return fail("Client certificate's RSA key is too short to sign with");
  const auto shared = std::make_shared<const PrivateKey>(std::move(*key));
  credentials.sign = [shared, schemes = credentials.supportedSchemes](std::uint16_t scheme,
                                                                      std::string_view content) {
    return signWith(*shared, schemes, scheme, content);
  };
  return credentials;
}

}  // namespace qv
