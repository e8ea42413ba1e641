#include "xml/byte_string.h"

#include "platform/random.h"

namespace qv {

std::uint32_t bytesToUInt(std::string_view bytes) {
  std::uint32_t value = 0;
  for (char c : bytes) value = (value << 8) | static_cast<unsigned char>(c);
  return value;
}

Bytes uintToBytes(std::uint32_t value, int n) {
  if (n <= 0) return {};
  // Beyond four bytes the value is zero-extended (a shift by 32 or more is undefined).
  Bytes out(static_cast<std::size_t>(n), '\0');
  for (int k = 0; k < n; ++k) {
    int shift = 8 * (n - 1 - k);
    if (shift < 32) out[static_cast<std::size_t>(k)] = static_cast<char>((value >> shift) & 0xFF);
  }
  return out;
}

std::string hexEncode(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.resize(bytes.size() * 2);
  std::size_t i = 0;
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    out[i++] = digits[b >> 4];
    out[i++] = digits[b & 0x0F];
  }
  return out;
}

std::string toLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

Bytes xorBytes(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  Bytes out(n, '\0');
  for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<char>(a[k] ^ b[k]);
  return out;
}

Bytes randomBytes(int n) {
  if (n <= 0) return {};
  Bytes out(static_cast<std::size_t>(n), '\0');
  fillSecureRandom(out.data(), out.size());
  return out;
}

Bytes incrementCounter(std::string_view counter) {
  Bytes out(counter);
  for (std::size_t i = out.size(); i-- > 0;) {
    auto b = static_cast<unsigned char>(out[i]);
    out[i] = static_cast<char>(b + 1);
    if (b != 0xFF) break;
  }
  return out;
}

}  // namespace qv
