#pragma once
// tls/signature_schemes.h -- TLS SignatureScheme values (RFC 8446 4.2.3) checked
// against a certificate's public key and made with a client's private key;
// shared by the TLS 1.2 ServerKeyExchange/CertificateVerify and the TLS 1.3
// CertificateVerify.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "crypto/digest.h"
#include "tls/certificate.h"
#include "xml/byte_string.h"
namespace qv {
inline constexpr std::uint16_t kSchemeEcdsaSecp256r1Sha256 = 0x0403;
inline constexpr std::uint16_t kSchemeEcdsaSecp384r1Sha384 = 0x0503;
inline constexpr std::uint16_t kSchemeEcdsaSecp521r1Sha512 = 0x0603;  // parsed, never offered
inline constexpr std::uint16_t kSchemeRsaPssPssSha256 = 0x0809;
inline constexpr std::uint16_t kSchemeRsaPssPssSha384 = 0x080A;
inline constexpr std::uint16_t kSchemeRsaPssPssSha512 = 0x080B;
// (the rsa_pkcs1_* and rsa_pss_rsae_* constants stay in tls/hello_extensions.h)

// Verifies `signature` over `signedContent` (the content itself; the hash is
// the scheme's) with the public key of `certificate`. The key type must fit
// the scheme (ECDSA curve = the scheme's curve in TLS 1.3; rsa_pss_pss_* only
// with an RSA-PSS key, rsa_pss_rsae_*/rsa_pkcs1_* only with an rsaEncryption
// key). tls13 = true refuses rsa_pkcs1_* and ecdsa with a mismatched curve.
// False with *error set to a log text on any failure.
bool VerifySignatureScheme(const Certificate& certificate, std::uint16_t scheme,
                           std::string_view signedContent, std::string_view signature, bool tls13,
                           std::string* error);
// The schemes this client offers in signature_algorithms, in order of preference.
const std::vector<std::uint16_t>& OfferedSignatureSchemes(bool tls13);

// A client certificate with a way to sign: a PEM key in memory, or (Windows)
// a key in the system's key storage reached through a platform callback.
struct ClientCredentials {
  std::vector<Bytes> chainDer;                  // leaf first
  std::vector<std::uint16_t> supportedSchemes;  // what the key can make
  // Signs signedContent under scheme; empty on failure.
  std::function<Bytes(std::uint16_t scheme, std::string_view signedContent)> sign;
};
// The first of the peer's schemes (in the peer's order) that the credentials
// can make and that is allowed for the version; nothing when none is.
std::optional<std::uint16_t> ChooseClientScheme(const ClientCredentials& credentials,
                                                const std::vector<std::uint16_t>& peerSchemes, bool tls13);

// The hash a known scheme signs with; nothing for any other value.
std::optional<HashAlgorithm> SignatureSchemeHash(std::uint16_t scheme);
// "ecdsa_secp256r1_sha256", ...; the hex of the value for one not known here.
std::string SignatureSchemeName(std::uint16_t scheme);
// The schemes a certificate's key can verify under the version's rules
// (in the order OfferedSignatureSchemes lists them); empty for other keys.
std::vector<std::uint16_t> SchemesForKey(const Certificate& certificate, bool tls13);

// Credentials from a PEM text holding the certificate chain (leaf first) and
// the leaf's private key (RSA, RSA-PSS, or EC P-256/P-384; unencrypted).
// Nothing, with *error set to a log text, when a part is missing or
// unreadable or the key is not the leaf certificate's. Signing draws PSS
// salts from the secure random source.
std::optional<ClientCredentials> ClientCredentialsFromPem(std::string_view pemText, std::string* error);
}  // namespace qv
