#pragma once
// The TLS 1.2 CertificateRequest (RFC 5246 7.4.4) read strictly: the
// certificate types, the signature schemes and the authorities' names.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr std::uint8_t kCertificateTypeRsaSign = 1;
inline constexpr std::uint8_t kCertificateTypeEcdsaSign = 64;

struct CertificateRequest12 {
  std::string_view types;
  std::vector<std::uint16_t> schemes;
  // DER of each distinguished name, as sent.
  std::vector<std::string_view> authorities;
};

// Views into body. Nothing, with *error set to a log text, when a length
// does not match, a list that must not be empty is, or bytes follow.
std::optional<CertificateRequest12> ParseCertificateRequest12(std::string_view body, std::string* error);

}  // namespace qv
