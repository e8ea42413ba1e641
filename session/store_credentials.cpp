#include "session/store_credentials.h"

#include "tls/hello_extensions.h"

namespace qv {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A DER INTEGER of an unsigned big-endian number: no leading zeros, a zero
// byte in front when the top bit is set.
Bytes derUnsignedInteger(std::string_view magnitude) {
  while (magnitude.size() > 1 && magnitude.front() == '\0') magnitude.remove_prefix(1);
  Bytes value(magnitude);
  if (value.empty()) value.assign(1, '\0');
  if (static_cast<unsigned char>(value.front()) & 0x80) value.insert(value.begin(), '\0');
  Bytes out;
  out += '\x02';
  out += static_cast<char>(value.size());  // at most 67 bytes for any curve
  out += value;
  return out;
}

constexpr std::uint16_t kEcdsaP256Sha256 = 0x0403;
constexpr std::uint16_t kEcdsaP384Sha384 = 0x0503;

}  // namespace

std::optional<Bytes> ParseStoreThumbprint(std::string_view text) {
  static constexpr std::string_view kLeftToRightMark = "\xE2\x80\x8E";
  Bytes out;
  int pending = -1;
  while (!text.empty()) {
    if (text.substr(0, kLeftToRightMark.size()) == kLeftToRightMark) {
      text.remove_prefix(kLeftToRightMark.size());
      continue;
    }
    const char c = text.front();
    text.remove_prefix(1);
    if (c == ' ' || c == ':' || c == '\t') continue;
    const int v = hexValue(c);
    if (v < 0 || out.size() == 20) return std::nullopt;
    if (pending < 0) {
      pending = v;
    } else {
      out += static_cast<char>(pending << 4 | v);
      pending = -1;
    }
  }
  if (pending >= 0 || out.size() != 20) return std::nullopt;
  return out;
}

std::optional<StoreSignatureRequest> StoreRequestForScheme(StoreKeyKind kind, std::uint16_t scheme) {
  struct Row {
    std::uint16_t scheme;
    bool rsa;
    StoreKeyKind curve;
    HashAlgorithm digest;
    StoreHash hash;
    StorePadding padding;
  };
  static constexpr Row kRows[] = {
      {kSchemeRsaPssRsaeSha256, true, {}, HashAlgorithm::kSha256, StoreHash::kSha256, StorePadding::kPss},
      {kSchemeRsaPssRsaeSha384, true, {}, HashAlgorithm::kSha384, StoreHash::kSha384, StorePadding::kPss},
      {kSchemeRsaPssRsaeSha512, true, {}, HashAlgorithm::kSha512, StoreHash::kSha512, StorePadding::kPss},
      {kSchemeRsaPkcs1Sha256, true, {}, HashAlgorithm::kSha256, StoreHash::kSha256, StorePadding::kPkcs1},
      {kSchemeRsaPkcs1Sha384, true, {}, HashAlgorithm::kSha384, StoreHash::kSha384, StorePadding::kPkcs1},
      {kSchemeRsaPkcs1Sha512, true, {}, HashAlgorithm::kSha512, StoreHash::kSha512, StorePadding::kPkcs1},
      {kEcdsaP256Sha256, false, StoreKeyKind::kEcP256, HashAlgorithm::kSha256, StoreHash::kSha256, {}},
      {kEcdsaP384Sha384, false, StoreKeyKind::kEcP384, HashAlgorithm::kSha384, StoreHash::kSha384, {}},
  };
  for (const Row& row : kRows) {
    if (row.scheme != scheme) continue;
    const bool fits = row.rsa ? kind == StoreKeyKind::kRsa : kind == row.curve;
    if (!fits) return std::nullopt;
    return StoreSignatureRequest{row.digest, row.hash, row.padding};
  }
  return std::nullopt;
}

std::vector<std::uint16_t> StoreKeySchemes(StoreKeyKind kind) {
  switch (kind) {
    case StoreKeyKind::kRsa:
      return {kSchemeRsaPssRsaeSha256, kSchemeRsaPssRsaeSha384, kSchemeRsaPssRsaeSha512,
              kSchemeRsaPkcs1Sha256,   kSchemeRsaPkcs1Sha384,   kSchemeRsaPkcs1Sha512};
    case StoreKeyKind::kEcP256:
      return {kEcdsaP256Sha256};
    case StoreKeyKind::kEcP384:
      return {kEcdsaP384Sha384};
  }
  return {};
}

Bytes EcdsaP1363ToDer(std::string_view rs) {
  if (rs.empty() || rs.size() % 2 != 0 || rs.size() > 132) return {};
  const std::size_t half = rs.size() / 2;
  const Bytes body = derUnsignedInteger(rs.substr(0, half)) + derUnsignedInteger(rs.substr(half));
  Bytes out;
  out += '\x30';
  if (body.size() >= 0x80) out += '\x81';
  out += static_cast<char>(body.size());
  out += body;
  return out;
}

}  // namespace qv
