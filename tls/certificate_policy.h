#pragma once
// The client's check of the server's certificates: pinned leaf fingerprints
// and/or a verified chain to a trusted root that names the server.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tls/certificate_check.h"
#include "xml/byte_string.h"

namespace qv {

// Alert descriptions a refused chain is answered with.
namespace certificate_alert {
inline constexpr std::uint8_t kBadCertificate = 42;
inline constexpr std::uint8_t kUnsupportedCertificate = 43;
inline constexpr std::uint8_t kCertificateExpired = 45;
inline constexpr std::uint8_t kUnknownCa = 48;
}  // namespace certificate_alert

// Chains longer than this are refused before any signature work.
inline constexpr std::size_t kMaxVerifiedChainLength = 10;
// RSA keys that sign certificates: at least 1024 bits, at most 4096 bits,
// public exponent of at most four bytes.
inline constexpr std::size_t kMinSigningKeyBits = 1024;
inline constexpr std::size_t kMaxSigningKeyBits = 4096;

struct CertificatePolicy {
  // SHA-256 digests of acceptable leaf certificates; empty: no pinning. A
  // pin that is not 32 bytes long matches nothing.
  std::vector<Bytes> pins;
  bool verifyChain = false;
  // DER certificates trusted as roots.
  std::vector<Bytes> trustedRoots;
  // The names the leaf may carry: the name sent in the hello and the host
  // (or IP address) the connection was made to. Either may be empty.
  std::string serverName;
  std::string address;
};

// Accepted when every configured check passes (pins first, then the chain);
// otherwise the alert to send and one line saying what failed for which
// certificate. chainDer[0] is the server's own certificate.
CertificateVerdict CheckServerCertificates(const std::vector<Bytes>& chainDer,
                                           const CertificatePolicy& policy, std::int64_t nowUnixSeconds);

// SHA-256 fingerprints, 64 hex digits each with or without colons, any case,
// separated by ';' or ','; white space around them is ignored. False (pins
// holding the ones read before the fault) when a fingerprint is malformed.
bool ParsePins(std::string_view text, std::vector<Bytes>& pins);

// "AB:CD:..." upper-case SHA-256 of the DER, as `openssl x509 -fingerprint
// -sha256` prints it.
std::string FingerprintText(const Bytes& der);

// Case-insensitive host name match; pattern may start with a "*." label that
// stands for exactly one label of host.
bool HostNameMatches(std::string_view pattern, std::string_view host);

}  // namespace qv
