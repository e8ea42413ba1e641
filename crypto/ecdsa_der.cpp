#include "crypto/ecdsa_der.h"

#include <cstddef>

namespace qv {

namespace {

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kInteger = 0x02;

// One tag-length-value at the front of `in`; the contents, with `in` moved past.
std::optional<std::string_view> readElement(std::string_view& in, unsigned char tag) {
  if (in.size() < 2 || static_cast<unsigned char>(in[0]) != tag) return std::nullopt;
  const unsigned char first = static_cast<unsigned char>(in[1]);
  std::size_t length = 0;
  std::size_t header = 2;
  if (first < 0x80) {
    length = first;
  } else if (first == 0x81 || first == 0x82) {
    // Long form only where the short one cannot say it, without leading zeros.
    const std::size_t count = first & 0x7F;
    if (in.size() < 2 + count) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(in[2 + i]);
    if (length < (count == 1 ? 0x80u : 0x100u)) return std::nullopt;
    header += count;
  } else {
    return std::nullopt;  // indefinite form, or longer than any signature
  }
  if (in.size() - header < length) return std::nullopt;
  const std::string_view contents = in.substr(header, length);
  in.remove_prefix(header + length);
  return contents;
}

std::optional<std::string_view> readUnsignedInteger(std::string_view& in) {
  const auto value = readElement(in, kInteger);
  if (!value || value->empty()) return std::nullopt;
  const unsigned char b0 = static_cast<unsigned char>((*value)[0]);
  if (b0 & 0x80) return std::nullopt;  // negative
  if (b0 == 0 && value->size() > 1 && !(static_cast<unsigned char>((*value)[1]) & 0x80))
    return std::nullopt;  // not minimal
  return value;
}

Bytes encodeLength(std::size_t length) {
  if (length < 0x80) return Bytes(1, static_cast<char>(length));
  if (length < 0x100) return Bytes{'\x81', static_cast<char>(length)};
  return Bytes{'\x82', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
}

Bytes encodeInteger(std::string_view magnitude) {
  while (!magnitude.empty() && magnitude[0] == 0) magnitude.remove_prefix(1);
  Bytes contents;
  if (magnitude.empty() || (static_cast<unsigned char>(magnitude[0]) & 0x80)) contents.push_back('\0');
  contents.append(magnitude);
  return static_cast<char>(kInteger) + encodeLength(contents.size()) + contents;
}

}  // namespace

std::optional<EcdsaSignatureParts> parseEcdsaSignatureDer(std::string_view der) {
  const auto body = readElement(der, kSequence);
  if (!body || !der.empty()) return std::nullopt;
  std::string_view rest = *body;
  const auto r = readUnsignedInteger(rest);
  if (!r) return std::nullopt;
  const auto s = readUnsignedInteger(rest);
  if (!s || !rest.empty()) return std::nullopt;
  return EcdsaSignatureParts{*r, *s};
}

Bytes encodeEcdsaSignatureDer(std::string_view r, std::string_view s) {
  const Bytes body = encodeInteger(r) + encodeInteger(s);
  return static_cast<char>(kSequence) + encodeLength(body.size()) + body;
}

}  // namespace qv
