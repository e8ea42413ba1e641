#pragma once
// X.509 certificates as far as the TLS engine needs them: the peer's RSA key
// and name, the chain walk against the trust roots, and an RSA private key.
// Validity dates, extensions and key usage are read past, never checked.
#include <string>
#include <string_view>
#include <vector>

#include "crypto/rsa.h"
#include "tls/tls_log.h"
#include "xml/byte_string.h"

namespace qv {

// What the end-entity key of a chain is. RSA-PSS keys (id-RSASSA-PSS) carry
// an RSA public key that may only make PSS signatures.
enum class CertificateKey { kRsa, kRsaPss, kEcP256, kEcP384, kUnsupported };

struct Certificate {
  // DER certificates as received, first = end-entity.
  std::vector<Bytes> chain;
  // DER content of the issuer Name of the top certificate of the chain.
  Bytes issuerName;
  // DER content of the subject Name of the end-entity certificate.
  Bytes subjectName;
  std::string subjectDomain;
  // RSA key of the end-entity certificate, big-endian, no leading zeros.
  Bytes modulus;
  Bytes exponent;
  // DER content of the RSAPublicKey SEQUENCE.
  Bytes publicKey;
  // The key's kind; modulus and exponent are set for kRsa and kRsaPss.
  CertificateKey keyKind = CertificateKey::kRsa;
  // kEcP256/kEcP384: the uncompressed point 04 || X || Y as the certificate holds it.
  Bytes ecPoint;
  // DER of an RSAPrivateKey, when one was supplied.
  Bytes privateKeyDer;
  // The first five integers after the version of privateKeyDer.
  Bytes keyModulus;
  Bytes keyPublicExponent;
  Bytes keyPrivateExponent;
  Bytes keyPrime1;
  Bytes keyPrime2;
};

// "RSA", "RSA-PSS", "ECDSA P-256", "ECDSA P-384", "unsupported".
std::string_view CertificateKeyName(CertificateKey key);

// RSA keys beyond this size are refused: the arithmetic would take minutes.
inline constexpr std::size_t kMaxRsaModulusBytes = 512;
// Public exponents beyond this size are refused (real ones are 3 or 65537).
inline constexpr std::size_t kMaxRsaExponentBytes = 4;

// Builds the object from DER certificates (first = end-entity). keyText
// empty: verify the chain against the trust roots; any other text: parse
// only; two or more characters: also keyText is the DER private key.
// Findings go to log without its prefix.
Certificate ParseCertificateChain(const std::vector<Bytes>& chain, std::string_view keyText,
                                  const TlsLog& log);
// Fills the five key fields from privateKeyDer.
void ReadPrivateKey(Certificate& certificate, const TlsLog& log);
// The commonName or organizationalUnitName text of a Name's DER content;
// the last such attribute wins.
std::string NameText(std::string_view name);
// Case-insensitive match of a certificate domain (possibly "*.b.c") with the
// expected host name.
bool DomainMatches(std::string_view certificateDomain, std::string_view expected);

// Process-wide trust roots, searched in order by subject name. Empty at start.
std::vector<Certificate> TrustRoots();
void AddTrustRoot(const Certificate& root);
void ClearTrustRoots();

// Process-wide own identity, read by the server role and by a client that
// answers a certificate request. Empty at start.
Certificate OwnIdentity();
// Loads a DER certificate chain (first = own certificate) and the DER
// RSAPrivateKey of the first certificate as the own identity. Used by tests
// and tools; the provider never has an own identity.
void LoadOwnIdentity(const std::vector<Bytes>& chain, const Bytes& privateKeyDer, const TlsLog& log);
// The own identity's private key, ready for use (empty without an identity).
RsaKey OwnPrivateKey();
// Back to the empty identity.
void ClearOwnIdentity();

}  // namespace qv
