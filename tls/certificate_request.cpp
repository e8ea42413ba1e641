#include "tls/certificate_request.h"

#include "tls/handshake_reader.h"
#include "xml/byte_string.h"

namespace qv {

namespace {

// A vector with a length prefix of `width` bytes that must fit in what is left.
bool readVector(std::string_view& input, std::size_t width, std::string_view& content) {
  if (input.size() < width) return false;
  const std::size_t length = bytesToUInt(input.substr(0, width));
  if (input.size() - width < length) return false;
  content = input.substr(width, length);
  input.remove_prefix(width + length);
  return true;
}

}  // namespace

std::optional<CertificateRequest12> ParseCertificateRequest12(std::string_view body, std::string* error) {
  auto fail = [&](const char* text) -> std::optional<CertificateRequest12> {
    if (error != nullptr) *error = text;
    return std::nullopt;
  };
  CertificateRequest12 request;
  std::string_view schemes;
  std::string_view authorities;
  if (!readVector(body, 1, request.types) || !readVector(body, 2, schemes) ||
      !readVector(body, 2, authorities) || !body.empty()) {
    return fail("CertificateRequest lengths do not match the message");
  }
  if (request.types.empty()) return fail("CertificateRequest lists no certificate type");
  if (schemes.empty() || schemes.size() % 2 != 0)
    return fail("CertificateRequest has a malformed signature scheme list");
  for (std::size_t k = 0; k < schemes.size(); k += 2) {
    request.schemes.push_back(static_cast<std::uint16_t>(bytesToUInt(schemes.substr(k, 2))));
  }
  while (!authorities.empty()) {
    std::string_view name;
    if (!readVector(authorities, 2, name) || name.empty())
      return fail("CertificateRequest has a malformed authority name");
    request.authorities.push_back(name);
  }
  return request;
}

}  // namespace qv
