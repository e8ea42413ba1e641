#pragma once
// The fields of one X.509 certificate that the server-certificate check
// needs, read from DER that came off the network. Views point into the DER
// given to ReadX509Fields, which must outlive the record.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/digest.h"
#include "xml/byte_string.h"

namespace qv {

enum class SignatureAlgorithm {
  kUnknown,
  kRsaMd5,
  kRsaSha1,
  kRsaSha256,
  kRsaSha384,
  kRsaSha512,
  kEcdsa,
  kRsaPss
};
enum class KeyAlgorithm { kUnknown, kRsa, kEc, kRsaPss };

struct X509Fields {
  // TBSCertificate header and content, as signed.
  std::string_view tbs;
  std::string_view signatureOid;
  SignatureAlgorithm signatureAlgorithm = SignatureAlgorithm::kUnknown;
  // ECDSA: the hash of ecdsa-with-SHA256/384/512. RSASSA-PSS: the hash of
  // parameters this verifier takes (MGF1 with the same hash, a salt of the
  // hash's length, trailer 1). Unset for anything else.
  std::optional<HashAlgorithm> signatureHash;
  // The signature bits (BIT STRING content without its unused-bits byte).
  std::string_view signature;
  // Whole DER of the Names (header and content), for comparing issuer with subject.
  std::string_view issuer;
  std::string_view subject;
  // Seconds since 1970-01-01 00:00 UTC.
  std::int64_t notBefore = 0;
  std::int64_t notAfter = 0;
  bool hasBasicConstraints = false;
  bool basicConstraintsCritical = false;
  bool isCa = false;
  bool hasSubjectAltName = false;
  std::vector<std::string> dnsNames;
  // 4 or 16 bytes each.
  std::vector<Bytes> ipAddresses;
  // OIDs (content bytes) of critical extensions this reader does not know.
  std::vector<std::string_view> unknownCriticalExtensions;
  KeyAlgorithm keyAlgorithm = KeyAlgorithm::kUnknown;
  // RSA key (rsaEncryption or id-RSASSA-PSS), big-endian without leading zeros.
  Bytes modulus;
  Bytes exponent;
  // Bits of the RSA modulus, or of the EC field for the named curves we know.
  std::size_t keyBits = 0;
  // EC key: the point as the certificate holds it (only its form is checked
  // here: 04 || X || Y of the curve's size for P-256 and P-384).
  Bytes ecPoint;
};

// Reads a certificate. False (problem says what) when anything the check
// relies on is missing or malformed; the record is then partly filled.
bool ReadX509Fields(std::string_view der, X509Fields& fields, std::string& problem);

// The subject's common name (the last one when there are several), empty
// when there is none.
std::string CommonName(std::string_view nameDer);
// A Name as text in the order written, "CN=pbx.example.com, O=Example"; the
// attribute types we do not name show as their dotted OID. Non-printable
// bytes become '?'.
std::string NameDisplay(std::string_view nameDer);
// "SHA-256 with RSA", "ECDSA", ...; empty for an algorithm we do not name.
std::string_view SignatureAlgorithmName(SignatureAlgorithm algorithm);
// Dotted text of an OID's content bytes ("1.2.840.113549.1.1.11").
std::string OidText(std::string_view oid);
// "2026-12-08 09:27:03 UTC".
std::string TimeText(std::int64_t unixSeconds);
// "1.2.3.4" or the RFC 5952 form of an IPv6 address; hex for other lengths.
std::string IpAddressText(std::string_view address);
// Parses a literal IPv4 ("1.2.3.4") or IPv6 ("::1", "fe80::1", with or
// without brackets) address into 4 or 16 bytes; false for anything else.
bool ParseIpAddress(std::string_view text, Bytes& address);

}  // namespace qv
