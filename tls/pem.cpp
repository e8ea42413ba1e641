#include "tls/pem.h"

namespace qv {

namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool base64Decode(std::string_view text, Bytes& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  int padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int value = base64Value(c);
    // Data after padding, or anything that is not base64.
    if (value < 0 || padding > 0) return false;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 0) return padding == 0;
  if (count == 1 || count + padding != 4) return false;
  if (count == 2) {
    out += static_cast<char>(bits >> 4);
  } else {
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  return true;
}

std::vector<Bytes> ReadPemCertificates(std::string_view text, std::size_t* skipped) {
  std::vector<Bytes> certificates;
  std::size_t bad = 0;
  std::size_t at = 0;
  while (certificates.size() < kMaxPemCertificates) {
    const std::size_t begin = text.find(kBegin, at);
    if (begin == std::string_view::npos) break;
    const std::size_t start = begin + kBegin.size();
    const std::size_t end = text.find(kEnd, start);
    if (end == std::string_view::npos) {
      ++bad;
      break;
    }
    Bytes der;
    // A BEGIN line inside the block means the previous block never ended.
    const std::string_view body = text.substr(start, end - start);
    if (body.find("-----") == std::string_view::npos && base64Decode(body, der) && !der.empty()) {
      certificates.push_back(std::move(der));
    } else {
      ++bad;
    }
    at = end + kEnd.size();
  }
  if (skipped != nullptr) *skipped = bad;
  return certificates;
}

}  // namespace qv
